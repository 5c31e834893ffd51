// DistanceFuncs. The constants (a ten-digit pi, the earth's radius 3958.754 miles,
// 69.04663 miles per degree) and the arc-tangent form of the arc cosine are kept as
// they are so that distances agree with the values stored callers already know.
#include "distance.hpp"

#include <cmath>
#include <zembra/runtime.hpp>

namespace zembra::engine {

namespace {
constexpr double kPi = 3.141592654;
constexpr double kEarthRadiusMiles = 3958.754;
constexpr double kMilesPerDegree = 69.04663;

double toRadians(double degrees) { return degrees * kPi / 180; }
}  // namespace

std::optional<double> getDistance(double lat1, double lon1, double lat2, double lon2) {
    if (lat1 == 0 || lon1 == 0 || lat2 == 0 || lon2 == 0) return std::nullopt;
    if (lat1 == lat2 && lon1 == lon2) return std::nullopt;
    const double rLat1 = toRadians(lat1);
    const double rLon1 = toRadians(lon1);
    const double rLat2 = toRadians(lat2);
    const double rLon2 = toRadians(lon2);
    const double d = std::fabs(rLon1 - rLon2);
    const double x =
        std::sin(rLat1) * std::sin(rLat2) + std::cos(rLat2) * std::cos(rLat1) * std::cos(d);
    double a;
    if (x >= 1) {
        // Two points a hair apart can round the cosine up to (or past) 1.
        a = 0;
    } else if (x <= -1) {
        a = 4 * std::atan(1.0);
    } else {
        a = std::atan(-x / std::sqrt(-x * x + 1)) + 2 * std::atan(1.0);
    }
    return a * kEarthRadiusMiles;
}

std::array<double, 4> getSearchBox(double lat, double lon, int16_t radius) {
    const double k = 1 / kMilesPerDegree;
    const double maxLat = k * radius + lat;
    const double minLat = lat - k * radius;
    const double divisor = maxLat / 90 * 0.636604 * kMilesPerDegree;
    if (divisor == 0) throw Error::standard(err::kDivisionByZero, "Zembra");
    const double dLon = radius / divisor;
    return {minLat, maxLat, lon - dLon, lon + dLon};
}

}  // namespace zembra::engine
