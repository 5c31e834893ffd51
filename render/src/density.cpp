#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <zembra/render/density.hpp>
#include <zembra/runtime.hpp>

namespace zembra::render {

namespace {

// Widths of three box blurs whose sequence has standard deviation sigma.
std::array<int, 3> boxWidths(double sigma) {
    constexpr int n = 3;
    const double ideal = std::sqrt(12 * sigma * sigma / n + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) --lower;
    const int upper = lower + 2;
    const double m =
        (12 * sigma * sigma - n * lower * lower - 4 * n * lower - 3 * n) / (-4 * lower - 4);
    const auto small = static_cast<int>(std::lround(m));
    std::array<int, 3> out{};
    for (int i = 0; i < n; ++i) out[static_cast<size_t>(i)] = i < small ? lower : upper;
    return out;
}

// One box blur of radius r along lines of `length` cells, `stride` apart within a line and
// `step` between lines; cells beyond the ends count as zero.
void boxBlur(std::vector<float>& cells, std::vector<float>& line, int lines, int length,
             size_t stride, size_t step, int r) {
    const float scale = 1.0f / static_cast<float>(2 * r + 1);
    line.resize(static_cast<size_t>(length));
    for (int l = 0; l < lines; ++l) {
        float* base = cells.data() + static_cast<size_t>(l) * step;
        for (int i = 0; i < length; ++i)
            line[static_cast<size_t>(i)] = base[static_cast<size_t>(i) * stride];
        double sum = 0;
        for (int i = 0; i <= std::min(r, length - 1); ++i) sum += line[static_cast<size_t>(i)];
        for (int i = 0; i < length; ++i) {
            base[static_cast<size_t>(i) * stride] = static_cast<float>(sum) * scale;
            const int add = i + r + 1;
            const int drop = i - r;
            if (add < length) sum += line[static_cast<size_t>(add)];
            if (drop >= 0) sum -= line[static_cast<size_t>(drop)];
        }
    }
}

uint8_t channel(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

double medianNeighbourDistance(const std::vector<WeightedPixel>& points, int width, int height) {
    // Points on the picture, hashed into cells of 16 pixels; each looks in the rings of
    // cells around its own until the ring is farther than the nearest point found.
    constexpr double kCellSize = 16;
    std::vector<std::pair<double, double>> inside;
    for (const WeightedPixel& p : points) {
        if (p.x >= 0 && p.y >= 0 && p.x < width && p.y < height) inside.emplace_back(p.x, p.y);
    }
    if (inside.size() < 2) return 0;
    const int cols = static_cast<int>(width / kCellSize) + 1;
    const int rows = static_cast<int>(height / kCellSize) + 1;
    std::vector<std::vector<size_t>> cells(static_cast<size_t>(cols) * static_cast<size_t>(rows));
    const auto cellOf = [&](double v) { return static_cast<int>(v / kCellSize); };
    for (size_t i = 0; i < inside.size(); ++i) {
        cells[size_t(cellOf(inside[i].second)) * size_t(cols) + size_t(cellOf(inside[i].first))]
            .push_back(i);
    }
    std::vector<double> nearest;
    nearest.reserve(inside.size());
    for (size_t i = 0; i < inside.size(); ++i) {
        const auto [x, y] = inside[i];
        const int cx = cellOf(x), cy = cellOf(y);
        double best = std::numeric_limits<double>::infinity();
        for (int ring = 0; ring < std::max(cols, rows); ++ring) {
            if (std::isfinite(best) && (ring - 1) * kCellSize > std::sqrt(best)) break;
            for (int gy = cy - ring; gy <= cy + ring; ++gy) {
                for (int gx = cx - ring; gx <= cx + ring; ++gx) {
                    if (std::max(std::abs(gx - cx), std::abs(gy - cy)) != ring) continue;
                    if (gx < 0 || gy < 0 || gx >= cols || gy >= rows) continue;
                    for (const size_t j : cells[size_t(gy) * size_t(cols) + size_t(gx)]) {
                        if (j == i) continue;
                        const double dx = inside[j].first - x, dy = inside[j].second - y;
                        best = std::min(best, dx * dx + dy * dy);
                    }
                }
            }
        }
        if (std::isfinite(best)) nearest.push_back(std::sqrt(best));
    }
    if (nearest.empty()) return 0;
    std::nth_element(nearest.begin(), nearest.begin() + std::ptrdiff_t(nearest.size() / 2),
                     nearest.end());
    return nearest[nearest.size() / 2];
}

double defaultBandwidth(const std::vector<WeightedPixel>& points, int width, int height) {
    const double most = std::clamp(std::min(width, height) / 8.0, 4.0, kMaxBandwidth);
    return std::clamp(2.5 * medianNeighbourDistance(points, width, height), 4.0, most);
}

DensityGrid::DensityGrid(const std::vector<WeightedPixel>& points, int width, int height,
                         double bandwidth)
    : width_(width), height_(height), bandwidth_(bandwidth) {
    if (!(bandwidth >= kMinBandwidth && bandwidth <= kMaxBandwidth)) {
        throw Error::standard(err::kInvalidArgument, "Zembra",
                              "bandwidth " + formatNumber(bandwidth) + ": expected " +
                                  formatNumber(kMinBandwidth) + " to " +
                                  formatNumber(kMaxBandwidth) + " pixels");
    }
    if (width < 1 || height < 1) {
        throw Error::standard(err::kInvalidArgument, "Zembra", "a density grid without pixels");
    }
    // A margin of three bandwidths, so that codes just outside the picture still spread
    // into it.
    const int pad = static_cast<int>(std::ceil(3 * bandwidth));
    const int w = width + 2 * pad;
    const int h = height + 2 * pad;
    std::vector<float> cells(static_cast<size_t>(w) * static_cast<size_t>(h), 0.0f);
    for (const WeightedPixel& p : points) {
        if (!(p.weight > 0) || !std::isfinite(p.weight) || !std::isfinite(p.x) ||
            !std::isfinite(p.y))
            continue;
        // Split between the four nearest cells, so that the position keeps its fraction.
        const double x = p.x + pad;
        const double y = p.y + pad;
        const double fx = std::floor(x), fy = std::floor(y);
        if (fx < 0 || fy < 0 || fx + 1 >= w || fy + 1 >= h) continue;
        const double ax = x - fx, ay = y - fy;
        const size_t i = static_cast<size_t>(fy) * static_cast<size_t>(w) + static_cast<size_t>(fx);
        cells[i] += static_cast<float>(p.weight * (1 - ax) * (1 - ay));
        cells[i + 1] += static_cast<float>(p.weight * ax * (1 - ay));
        cells[i + static_cast<size_t>(w)] += static_cast<float>(p.weight * (1 - ax) * ay);
        cells[i + static_cast<size_t>(w) + 1] += static_cast<float>(p.weight * ax * ay);
    }
    std::vector<float> line;
    for (const int box : boxWidths(bandwidth)) {
        const int r = (box - 1) / 2;
        boxBlur(cells, line, h, w, 1, static_cast<size_t>(w), r);
        boxBlur(cells, line, w, h, static_cast<size_t>(w), 1, r);
    }
    cells_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const float* from = cells.data() + static_cast<size_t>(y + pad) * static_cast<size_t>(w) +
                            static_cast<size_t>(pad);
        std::copy(from, from + width, cells_.begin() + static_cast<std::ptrdiff_t>(y) * width);
    }
}

double DensityGrid::peakOfOne(double weight) const noexcept {
    return weight / (2 * std::numbers::pi * bandwidth_ * bandwidth_);
}

DensityScale parseDensityScale(const std::string& text) {
    if (text == "equalised" || text == "equalized") return DensityScale::Equalised;
    if (text == "log") return DensityScale::Logarithmic;
    throw Error::standard(err::kInvalidArgument, "Zembra",
                          "density scale '" + text + "': expected equalised or log");
}

std::vector<uint8_t> densityOverlay(const DensityGrid& grid, double meanWeight, DensityScale scale,
                                    std::vector<float>* level) {
    const size_t n = static_cast<size_t>(grid.width()) * static_cast<size_t>(grid.height());
    std::vector<uint8_t> rgba(n * 4, 0);
    if (level != nullptr) level->assign(n, -1.0f);
    double top = 0;
    double mass = 0;
    for (int y = 0; y < grid.height(); ++y) {
        for (int x = 0; x < grid.width(); ++x) {
            top = std::max(top, double(grid.at(x, y)));
            mass += grid.at(x, y);
        }
    }
    // Below half a lone code's peak, or below a share of the picture's mean density once
    // codes are many (then every stretch of country with a few codes would show), a pixel
    // stays clear.
    const double cutoff = std::max(kDensityCutoff * grid.peakOfOne(meanWeight > 0 ? meanWeight : 1),
                                   kMeanDensityCutoff * mass / double(n));
    if (!(top > cutoff) || !(cutoff > 0)) return rgba;

    // Equalising goes through a histogram of the logarithm, fine enough that the ranks it
    // gives differ from a full sort by less than a shade of the ramp.
    constexpr size_t kBins = 4096;
    const double logSpan = std::log(top / cutoff);
    const auto binOf = [&](double d) {
        const double f = std::log(d / cutoff) / logSpan;
        return std::min(kBins - 1, static_cast<size_t>(std::max(0.0, f) * double(kBins)));
    };
    std::vector<double> rankOfBin(kBins, 0);
    if (scale == DensityScale::Equalised) {
        std::vector<size_t> count(kBins, 0);
        size_t total = 0;
        for (int y = 0; y < grid.height(); ++y)
            for (int x = 0; x < grid.width(); ++x) {
                const double d = grid.at(x, y);
                if (d >= cutoff) {
                    ++count[binOf(d)];
                    ++total;
                }
            }
        size_t below = 0;
        for (size_t b = 0; b < kBins; ++b) {
            // The middle of the bin's ranks, so that the top bin reaches (nearly) 1.
            rankOfBin[b] = (double(below) + double(count[b])) / double(total);
            below += count[b];
        }
    }
    for (int y = 0; y < grid.height(); ++y) {
        for (int x = 0; x < grid.width(); ++x) {
            const double d = grid.at(x, y);
            if (d < cutoff) continue;
            const double t = scale == DensityScale::Equalised
                                 ? rankOfBin[binOf(d)]
                                 : std::clamp(std::log(d / cutoff) / logSpan, 0.0, 1.0);
            // Fade in over the first doubling above the cutoff, so the edge is soft.
            const double fade = std::min(1.0, d / cutoff - 1.0);
            const double alpha = kMaxDensityAlpha * (0.15 + 0.85 * t) * fade;
            const Rgb c = densityRamp(t);
            const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(grid.width()) +
                              static_cast<size_t>(x));
            rgba[i * 4 + 0] = channel(c.r * alpha);
            rgba[i * 4 + 1] = channel(c.g * alpha);
            rgba[i * 4 + 2] = channel(c.b * alpha);
            rgba[i * 4 + 3] = channel(255 * alpha);
            if (level != nullptr) (*level)[i] = static_cast<float>(t);
        }
    }
    return rgba;
}

}  // namespace zembra::render
