// Latitude/longitude pairs written as "LAT,LON".
#pragma once

#include <string_view>
#include <vector>
#include <zembra/render/csv.hpp>
#include <zembra/render/render.hpp>

namespace zembra::cli {

// Parses "LAT,LON" (blanks allowed around each). Raises UsageError for anything
// else, a latitude outside -90..90 included.
render::LatLon parsePoint(std::string_view text);

// One "LAT,LON" pair per record, appended to `points`; blank lines are skipped, and so
// is a first record without any digit (a header such as "latitude,longitude").
void readPoints(render::RecordSource& in, std::vector<render::LatLon>& points);

}  // namespace zembra::cli
