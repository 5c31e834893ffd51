// Kernel density of codes on a map's pixels: each code's weight spread by a Gaussian
// kernel whose standard deviation is the bandwidth in pixels (three box blurs in each
// direction, which approach it closely at a cost independent of the bandwidth), then shown
// through the density ramp on an equalised or logarithmic scale, transparent where low.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include <zembra/render/palette.hpp>

namespace zembra::render {

struct WeightedPixel {
    double x = 0;  // column and row before rounding, as the projection gives them
    double y = 0;
    double weight = 1;
};

// Smallest and largest bandwidth accepted, in pixels.
inline constexpr double kMinBandwidth = 1;
inline constexpr double kMaxBandwidth = 200;

// The median distance from a point on the picture to its nearest neighbour, in pixels; 0
// for fewer than two points on it.
double medianNeighbourDistance(const std::vector<WeightedPixel>& points, int width, int height);

// The bandwidth when none is given: two and a half times the median distance between
// neighbouring codes on the picture, at least 4 pixels and at most an eighth of its shorter
// side, so that it follows the map's scale and the list's spread alike.
double defaultBandwidth(const std::vector<WeightedPixel>& points, int width, int height);

class DensityGrid {
  public:
    // Spreads the weights (points outside the picture still count near its edge; zero,
    // negative and non-finite weights count nothing). Raises error 5 for a bandwidth outside
    // kMinBandwidth..kMaxBandwidth or a side below 1.
    DensityGrid(const std::vector<WeightedPixel>& points, int width, int height, double bandwidth);

    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    double bandwidth() const noexcept { return bandwidth_; }
    float at(int x, int y) const noexcept {
        return cells_[static_cast<size_t>(y) * static_cast<size_t>(width_) +
                      static_cast<size_t>(x)];
    }
    // The density at the centre of a lone code of weight w: below a fraction of it a pixel
    // is left uncoloured.
    double peakOfOne(double weight) const noexcept;

  private:
    int width_;
    int height_;
    double bandwidth_;
    std::vector<float> cells_;
};

enum class DensityScale { Equalised, Logarithmic };

// "equalised" or "log"; raises error 5 for anything else.
DensityScale parseDensityScale(const std::string& text);

// The overlay of a density grid: RGBA rows, premultiplied by alpha, transparent where the
// density is below kDensityCutoff times peakOfOne(mean weight) or kMeanDensityCutoff times the
// picture's mean density, rising to kMaxDensityAlpha at the top.
// `level` (when not null) gets the scaled value 0..1 of each pixel, -1 where uncoloured.
inline constexpr double kDensityCutoff = 0.5;
inline constexpr double kMeanDensityCutoff = 0.5;
inline constexpr double kMaxDensityAlpha = 0.8;
std::vector<uint8_t> densityOverlay(const DensityGrid& grid, double meanWeight, DensityScale scale,
                                    std::vector<float>* level = nullptr);

}  // namespace zembra::render
