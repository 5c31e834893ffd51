// Colours and classes of the thematic styles: the colour-blind-safe category palette, the
// perceptually uniform ramp of the density style, and the five classes of a sequential ramp
// for filled areas, kept apart from the no-data and land colours.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zembra::render {

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Euclidean distance of two colours in RGB.
double rgbDistance(const Rgb& a, const Rgb& b) noexcept;

// Okabe and Ito's eight colours for categories, then the neutral colour of the rest.
inline constexpr std::array<Rgb, 8> kCategoryColours{{
    {230, 159, 0},    // orange
    {86, 180, 233},   // sky blue
    {0, 158, 115},    // bluish green
    {213, 94, 0},     // vermillion
    {0, 114, 178},    // blue
    {204, 121, 167},  // reddish purple
    {240, 228, 66},   // yellow
    {0, 0, 0},        // black
}};
inline constexpr Rgb kOtherCategory{153, 153, 153};
// The outline of markers drawn in colour.
inline constexpr Rgb kMarkerOutline{40, 40, 40};

// The colour of the category at `rank` (0 for the largest): one of the eight, or the
// neutral colour from the ninth on.
Rgb categoryColour(size_t rank) noexcept;

// The density ramp at t in 0..1: dark violet through blue and green to yellow, of evenly
// rising lightness.
Rgb densityRamp(double t) noexcept;

// The colour of filled areas without data, and the land colours of the shipped maps and of
// the maps drawn on the fly.
inline constexpr Rgb kNoDataColour{214, 214, 214};

inline constexpr size_t kClasses = 5;

// Five colours of a sequential ramp from light to dark, each at least kMinClassDistance in
// RGB from `noData` and from `land` (lightest colours are darkened until they are).
inline constexpr double kMinClassDistance = 40;
std::array<Rgb, kClasses> classColours(const Rgb& noData, const Rgb& land);

enum class Classing { Quantile, EqualInterval };

// Classes of values: `upper[i]` is the largest value of class i; classes that would be
// empty or repeat a break are dropped, so there may be fewer than asked (one for a single
// distinct value, none for no values).
struct Classes {
    std::vector<double> lower;  // the smallest value of each class
    std::vector<double> upper;
    // The class of a value (values below the first class go to it, above the last to it).
    size_t classOf(double value) const noexcept;
};

Classes classify(std::vector<double> values, size_t count, Classing method);

// "quantile" or "equal"; raises error 5 for anything else.
Classing parseClassing(const std::string& text);

}  // namespace zembra::render
