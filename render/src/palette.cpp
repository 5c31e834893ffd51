#include <algorithm>
#include <cmath>
#include <zembra/render/palette.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/runtime.hpp>

namespace zembra::render {

namespace {

// Eleven even steps of the viridis ramp.
constexpr std::array<Rgb, 11> kViridis{{
    {68, 1, 84},
    {72, 36, 117},
    {65, 68, 135},
    {53, 95, 141},
    {42, 120, 142},
    {33, 145, 140},
    {34, 168, 132},
    {68, 191, 112},
    {122, 209, 81},
    {189, 223, 38},
    {253, 231, 37},
}};

// A yellow-orange-red ramp, light to dark.
constexpr std::array<Rgb, kClasses> kSequential{{
    {255, 255, 178},
    {254, 204, 92},
    {253, 141, 60},
    {240, 59, 32},
    {189, 0, 38},
}};

uint8_t mix(uint8_t a, uint8_t b, double t) {
    return static_cast<uint8_t>(std::lround(a + (b - a) * t));
}

}  // namespace

double rgbDistance(const Rgb& a, const Rgb& b) noexcept {
    const double dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return std::sqrt(dr * dr + dg * dg + db * db);
}

Rgb categoryColour(size_t rank) noexcept {
    return rank < kCategoryColours.size() ? kCategoryColours[rank] : kOtherCategory;
}

Rgb densityRamp(double t) noexcept {
    if (!(t > 0)) return kViridis.front();
    if (t >= 1) return kViridis.back();
    const double x = t * (kViridis.size() - 1);
    const auto i = static_cast<size_t>(x);
    const double f = x - static_cast<double>(i);
    const Rgb& a = kViridis[i];
    const Rgb& b = kViridis[i + 1];
    return {mix(a.r, b.r, f), mix(a.g, b.g, f), mix(a.b, b.b, f)};
}

std::array<Rgb, kClasses> classColours(const Rgb& noData, const Rgb& land) {
    std::array<Rgb, kClasses> out = kSequential;
    const auto farEnough = [&](const Rgb& c) {
        return rgbDistance(c, noData) >= kMinClassDistance &&
               rgbDistance(c, land) >= kMinClassDistance;
    };
    for (Rgb& c : out) {
        // Towards black first, then (for a dark no-data or land colour) towards white.
        const Rgb start = c;
        for (int step = 1; step <= 40 && !farEnough(c); ++step) {
            const double t = step / 40.0;
            c = {mix(start.r, 0, t), mix(start.g, 0, t), mix(start.b, 0, t)};
        }
        for (int step = 1; step <= 40 && !farEnough(c); ++step) {
            const double t = step / 40.0;
            c = {mix(start.r, 255, t), mix(start.g, 255, t), mix(start.b, 255, t)};
        }
    }
    return out;
}

size_t Classes::classOf(double value) const noexcept {
    for (size_t i = 0; i < upper.size(); ++i) {
        if (value <= upper[i]) return i;
    }
    return upper.empty() ? 0 : upper.size() - 1;
}

Classes classify(std::vector<double> values, size_t count, Classing method) {
    Classes out;
    std::erase_if(values, [](double v) { return !std::isfinite(v); });
    if (values.empty() || count == 0) return out;
    std::sort(values.begin(), values.end());
    const double lo = values.front();
    const double hi = values.back();
    std::vector<double> breaks;  // upper bounds
    if (method == Classing::EqualInterval) {
        for (size_t i = 1; i < count; ++i)
            breaks.push_back(lo + (hi - lo) * double(i) / double(count));
    } else {
        for (size_t i = 1; i < count; ++i) {
            const size_t at = (values.size() * i + count - 1) / count;  // ceil(n i / k)
            breaks.push_back(values[std::min(values.size(), at) - 1]);
        }
    }
    breaks.push_back(hi);
    // Each class is the values above the previous break up to its own; a break repeating
    // the one before would make an empty class and is dropped.
    double previous = -std::numeric_limits<double>::infinity();
    for (const double b : breaks) {
        if (b <= previous) continue;
        const auto first = std::upper_bound(values.begin(), values.end(), previous);
        if (first == values.end() || *first > b) continue;  // nothing in this class
        out.lower.push_back(*first);
        out.upper.push_back(b);
        previous = b;
    }
    if (!out.upper.empty()) out.upper.back() = hi;
    return out;
}

Classing parseClassing(const std::string& text) {
    // The classes row's choices are the names, in the order of Classing.
    const auto& choices = parameter("classes").choices;
    for (size_t i = 0; i < choices.size(); ++i) {
        if (choices[i].value == text) return static_cast<Classing>(i);
    }
    throw Error::standard(err::kInvalidArgument, "Zembra",
                          "classes '" + text + "': expected quantile or equal");
}

}  // namespace zembra::render
