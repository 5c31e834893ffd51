// Qt-free rules of the main window: bounds per map name, and the file-name parsing
// the window applies to the output path and the help file.
#pragma once

#include <string>
#include <string_view>

namespace zembra::client {

// The geographic rectangle a map picture shows, in degrees.
struct Bounds {
    double minLat = 0.0;
    double maxLat = 0.0;
    double minLon = 0.0;
    double maxLon = 0.0;
    friend bool operator==(const Bounds&, const Bounds&) = default;
};

// The bounds for a map file name: the first of "usa", "alaska", "hawaii" occurring in the
// lower-cased name decides; all zero when none does.
Bounds boundsForMapName(std::string_view mapName);

// Everything before the last "/" of `path` ("/" for a file in the root), empty without one.
std::string parentFolderName(std::string_view path);

// The text after the last "." of the file-name part of `path`, as written; empty if none.
std::string extensionName(std::string_view path);

// ASCII lower case, as the client compares extensions and map names.
std::string lowerAscii(std::string_view text);

// Joins a folder and a name with exactly one "/" between them.
std::string buildPath(std::string_view folder, std::string_view name);

}  // namespace zembra::client
