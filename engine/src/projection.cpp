// Equirectangular projection between degrees and map pixels. Each formula is
// evaluated in double in a fixed order so that results round exactly as callers
// expect; every result is checked before it is converted to an integer.
#include <cmath>
#include <limits>

#include "cmap.hpp"

namespace zembra::engine {

namespace {

// Floating-point division that raises 11 instead of producing an infinity or NaN.
double divide(double numerator, double denominator) {
    if (denominator == 0.0) throw Error::standard(err::kDivisionByZero, kRuntimeSource);
    return numerator / denominator;
}

double finiteOrOverflow(double value) {
    if (!std::isfinite(value)) throw Error::standard(err::kOverflow, kRuntimeSource);
    return value;
}

}  // namespace

int32_t roundToInt32Checked(double value) {
    if (!std::isfinite(value)) throw Error::standard(err::kOverflow, kRuntimeSource);
    const double rounded = roundHalfEven(value);
    if (rounded < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<int32_t>::max())) {
        throw Error::standard(err::kOverflow, kRuntimeSource);
    }
    return static_cast<int32_t>(rounded);
}

int32_t CMap::lonToX(double lon) {
    const double w = getMapWidth();
    const double q = divide(w, maxLon_ - minLon_);
    const double x = q * (lon - minLon_);
    return roundToInt32Checked(x);
}

int32_t CMap::latToY(double lat) {
    const double h = getMapHeight();
    const double q = divide(h, maxLat_ - minLat_);
    const double y = h - q * (lat - minLat_);
    return roundToInt32Checked(y);
}

double CMap::xToLon(int32_t x) {
    const double w = getMapWidth();
    const double step = divide(maxLon_ - minLon_, w);
    return finiteOrOverflow(step * x + minLon_);
}

double CMap::yToLat(int32_t y) {
    const int32_t h = getMapHeight();
    const int64_t d = int64_t{h} - int64_t{y};
    if (d < std::numeric_limits<int32_t>::min() || d > std::numeric_limits<int32_t>::max()) {
        throw Error::standard(err::kOverflow, kRuntimeSource);
    }
    const double span = maxLat_ - minLat_;
    return finiteOrOverflow(divide(span * static_cast<double>(d), h) + minLat_);
}

}  // namespace zembra::engine
