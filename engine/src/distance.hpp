// DistanceFuncs: great-circle distance and a latitude/longitude search box, used by
// the reverse lookup to narrow its query and rank what it returns. Internal to the engine.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace zembra::engine {

// Distance in miles between two points given in degrees, or nullopt (the Empty
// result) when any coordinate is exactly 0 or the two points are identical.
// Points so close that rounding pushes the cosine to 1 come out as 0 miles.
std::optional<double> getDistance(double lat1, double lon1, double lat2, double lon2);

// The box {minLat, maxLat, minLon, maxLon} around (lat, lon) for `radius` miles.
// Raises 11 when the box's northern latitude is exactly 0.
std::array<double, 4> getSearchBox(double lat, double lon, int16_t radius);

}  // namespace zembra::engine
