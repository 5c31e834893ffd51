// The geographic rectangle a map picture shows edge to edge, how it is written on the
// command line, and how it follows from a map's file name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zembra::cli {

struct Bounds {
    double minLat = 0;
    double maxLat = 0;
    double minLon = 0;
    double maxLon = 0;

    // True when the point lies inside, west and south edges included.
    bool contains(double lat, double lon) const noexcept {
        return lat >= minLat && lat < maxLat && lon >= minLon && lon < maxLon;
    }
    friend bool operator==(const Bounds&, const Bounds&) = default;
};

// Parses "minLat,maxLat,minLon,maxLon" (numbers as the platform reads them, blanks
// allowed around each). Raises UsageError naming the problem for a wrong count, a value
// that is not a number, a latitude outside -90..90, or a minimum not below its maximum.
Bounds parseBounds(std::string_view text);

// The bounds the desktop client picks for a map file name: the first of "usa",
// "alaska", "hawaii" found anywhere in the lower-cased name decides, in that order.
// Returns nothing when the name holds none of them. Only the file name counts, not
// the folders above it.
std::optional<Bounds> boundsForMapName(std::string_view fileName);

// "minLat,maxLat,minLon,maxLon" as parseBounds reads it back.
std::string formatBounds(const Bounds& bounds);

}  // namespace zembra::cli
