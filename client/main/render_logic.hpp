// Qt-free rules of the main window: the file-name parsing the window applies to the
// output path and the help file.
#pragma once

#include <string>
#include <string_view>
#include <zembra/text.hpp>

namespace zembra::client {

// Everything before the last "/" of `path` ("/" for a file in the root), empty without one.
std::string parentFolderName(std::string_view path);

// The text after the last "." of the file-name part of `path`, as written; empty if none.
std::string extensionName(std::string_view path);

// Joins a folder and a name with exactly one "/" between them.
std::string buildPath(std::string_view folder, std::string_view name);

}  // namespace zembra::client
