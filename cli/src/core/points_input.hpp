// Latitude/longitude pairs written as "LAT,LON".
#pragma once

#include <istream>
#include <string_view>
#include <vector>

namespace zembra::cli {

struct Point {
    double lat = 0;
    double lon = 0;
};

// Parses "LAT,LON" (blanks allowed around each number). Raises UsageError for anything
// else, a latitude outside -90..90 included.
Point parsePoint(std::string_view text);

// One "LAT,LON" pair per line; blank lines are skipped, and so is a first line without
// any digit (a header such as "latitude,longitude"). `source` names the input in messages.
std::vector<Point> readPoints(std::istream& in, std::string_view source);

}  // namespace zembra::cli
