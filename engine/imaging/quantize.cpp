// Colour reduction for GIF output.
//
// Pictures with at most 256 colours keep them exactly. Others (map photographs)
// get a palette by median cut over a 6-bit-per-channel histogram, each box split
// where it lowers the squared error most, refined by a few k-means passes; pixels
// are then mapped with serpentine Floyd-Steinberg error diffusion, so smooth
// gradients dither instead of banding.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <unordered_map>

#include "codec.hpp"

namespace zembra::imaging::detail {
namespace {

constexpr int kMaxColours = 256;
constexpr int kBits = 6;
constexpr int kLevels = 1 << kBits;
constexpr int kRefinePasses = 3;

inline uint32_t rgbKey(const uint8_t* p) {
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

inline size_t bin(int r, int g, int b) {
    return (size_t(r >> (8 - kBits)) << (2 * kBits)) | (size_t(g >> (8 - kBits)) << kBits) |
           size_t(b >> (8 - kBits));
}

// Tries the exact palette; false when the picture has more than 256 colours.
bool exactPalette(const Picture& picture, Indexed& out) {
    std::unordered_map<uint32_t, uint8_t> index;
    index.reserve(512);
    const size_t pixels = picture.rgba.size() / 4;
    out.indices.resize(pixels);
    const uint8_t* p = picture.rgba.data();
    uint32_t lastKey = std::numeric_limits<uint32_t>::max();
    uint8_t lastIndex = 0;
    for (size_t i = 0; i < pixels; ++i, p += 4) {
        const uint32_t key = rgbKey(p);
        if (key != lastKey) {
            auto [it, added] = index.try_emplace(key, uint8_t(0));
            if (added) {
                if (index.size() > kMaxColours) return false;
                it->second = static_cast<uint8_t>(index.size() - 1);
                out.palette.insert(out.palette.end(), {p[0], p[1], p[2]});
            }
            lastKey = key;
            lastIndex = it->second;
        }
        out.indices[i] = lastIndex;
    }
    return true;
}

// One histogram cell: how many pixels fell in it and their mean colour.
struct Cell {
    double c[3];
    double count;
};

struct Box {
    size_t begin, end;  // range of cells
    double error;       // weighted squared error around the box's mean
};

double boxError(const std::vector<Cell>& cells, size_t begin, size_t end) {
    double n = 0, s[3] = {0, 0, 0}, q = 0;
    for (size_t i = begin; i < end; ++i) {
        const Cell& c = cells[i];
        n += c.count;
        for (int k = 0; k < 3; ++k) {
            s[k] += c.c[k] * c.count;
            q += c.c[k] * c.c[k] * c.count;
        }
    }
    if (n <= 0) return 0;
    return q - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / n;
}

// Splits box along the axis of largest spread, at the point that minimises the two
// halves' squared error. Returns false when the box cannot be split.
bool splitBox(std::vector<Cell>& cells, const Box& box, Box& low, Box& high) {
    if (box.end - box.begin < 2) return false;
    double lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    for (size_t i = box.begin; i < box.end; ++i) {
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], cells[i].c[k]);
            hi[k] = std::max(hi[k], cells[i].c[k]);
        }
    }
    int axis = 0;
    for (int k = 1; k < 3; ++k) {
        if (hi[k] - lo[k] > hi[axis] - lo[axis]) axis = k;
    }
    std::sort(cells.begin() + std::ptrdiff_t(box.begin), cells.begin() + std::ptrdiff_t(box.end),
              [axis](const Cell& a, const Cell& b) { return a.c[axis] < b.c[axis]; });
    // Prefix sums over the sorted cells give each split's error in O(1).
    double totalN = 0, totalS[3] = {0, 0, 0}, totalQ = 0;
    for (size_t i = box.begin; i < box.end; ++i) {
        totalN += cells[i].count;
        for (int k = 0; k < 3; ++k) {
            totalS[k] += cells[i].c[k] * cells[i].count;
            totalQ += cells[i].c[k] * cells[i].c[k] * cells[i].count;
        }
    }
    double n = 0, s[3] = {0, 0, 0}, q = 0;
    double best = std::numeric_limits<double>::max();
    size_t bestAt = box.begin + 1;
    for (size_t i = box.begin; i + 1 < box.end; ++i) {
        n += cells[i].count;
        for (int k = 0; k < 3; ++k) {
            s[k] += cells[i].c[k] * cells[i].count;
            q += cells[i].c[k] * cells[i].c[k] * cells[i].count;
        }
        const double rn = totalN - n;
        const double left = q - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / n;
        const double r0 = totalS[0] - s[0], r1 = totalS[1] - s[1], r2 = totalS[2] - s[2];
        const double right = (totalQ - q) - (r0 * r0 + r1 * r1 + r2 * r2) / rn;
        if (left + right < best) {
            best = left + right;
            bestAt = i + 1;
        }
    }
    low = {box.begin, bestAt, boxError(cells, box.begin, bestAt)};
    high = {bestAt, box.end, boxError(cells, bestAt, box.end)};
    return true;
}

inline int nearest(const std::vector<std::array<double, 3>>& palette, double r, double g,
                   double b) {
    int best = 0;
    double bestDistance = std::numeric_limits<double>::max();
    for (size_t i = 0; i < palette.size(); ++i) {
        const double dr = r - palette[i][0], dg = g - palette[i][1], db = b - palette[i][2];
        const double d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

std::vector<std::array<double, 3>> buildPalette(const Picture& picture) {
    // Histogram with exact colour sums per cell, so cell means are not rounded.
    std::vector<Cell> histogram(size_t(1) << (3 * kBits), Cell{{0, 0, 0}, 0});
    const uint8_t* p = picture.rgba.data();
    for (size_t i = 0, n = picture.rgba.size() / 4; i < n; ++i, p += 4) {
        Cell& c = histogram[bin(p[0], p[1], p[2])];
        c.c[0] += p[0];
        c.c[1] += p[1];
        c.c[2] += p[2];
        c.count += 1;
    }
    std::vector<Cell> cells;
    for (Cell& c : histogram) {
        if (c.count > 0) {
            for (double& v : c.c) v /= c.count;
            cells.push_back(c);
        }
    }
    histogram = {};

    std::vector<Box> boxes{{0, cells.size(), boxError(cells, 0, cells.size())}};
    while (boxes.size() < kMaxColours) {
        auto worst = std::max_element(boxes.begin(), boxes.end(),
                                      [](const Box& a, const Box& b) { return a.error < b.error; });
        if (worst->error <= 0) break;
        Box low{}, high{};
        if (!splitBox(cells, *worst, low, high)) {
            worst->error = 0;
            continue;
        }
        *worst = low;
        boxes.push_back(high);
    }

    std::vector<std::array<double, 3>> palette;
    for (const Box& box : boxes) {
        double n = 0, s[3] = {0, 0, 0};
        for (size_t i = box.begin; i < box.end; ++i) {
            n += cells[i].count;
            for (int k = 0; k < 3; ++k) s[k] += cells[i].c[k] * cells[i].count;
        }
        if (n > 0) palette.push_back({s[0] / n, s[1] / n, s[2] / n});
    }

    // k-means on the cells: move each colour to the mean of the cells nearest to it.
    for (int pass = 0; pass < kRefinePasses; ++pass) {
        std::vector<std::array<double, 4>> sums(palette.size(), {0, 0, 0, 0});
        for (const Cell& c : cells) {
            auto& s = sums[size_t(nearest(palette, c.c[0], c.c[1], c.c[2]))];
            for (int k = 0; k < 3; ++k) s[size_t(k)] += c.c[k] * c.count;
            s[3] += c.count;
        }
        for (size_t i = 0; i < palette.size(); ++i) {
            if (sums[i][3] > 0) {
                for (size_t k = 0; k < 3; ++k) palette[i][k] = sums[i][k] / sums[i][3];
            }
        }
    }
    return palette;
}

inline int clampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

void diffuse(const Picture& picture, const std::vector<std::array<double, 3>>& colours,
             Indexed& out) {
    const size_t width = size_t(picture.width);
    const size_t height = size_t(picture.height);
    std::vector<std::array<int, 3>> palette(colours.size());
    for (size_t i = 0; i < colours.size(); ++i) {
        for (size_t k = 0; k < 3; ++k) {
            palette[i][k] = clampByte(static_cast<int>(std::floor(colours[i][k] + 0.5)));
            out.palette.push_back(static_cast<uint8_t>(palette[i][k]));
        }
    }
    // Nearest palette entry per 6-bit cell, filled on first use.
    std::vector<int16_t> cache(size_t(1) << (3 * kBits), -1);
    auto lookup = [&](int r, int g, int b) -> uint8_t {
        int16_t& slot = cache[bin(r, g, b)];
        if (slot < 0) {
            const int step = 256 / kLevels;
            const double cr = (r & ~(step - 1)) + step / 2.0;
            const double cg = (g & ~(step - 1)) + step / 2.0;
            const double cb = (b & ~(step - 1)) + step / 2.0;
            slot = static_cast<int16_t>(nearest(colours, cr, cg, cb));
        }
        return static_cast<uint8_t>(slot);
    };

    // Errors in 1/16 units for this row and the next, with one guard cell each side.
    std::vector<std::array<int, 3>> current(width + 2, {0, 0, 0}), next(width + 2, {0, 0, 0});
    out.indices.resize(width * height);
    for (size_t y = 0; y < height; ++y) {
        const bool leftToRight = (y % 2) == 0;
        const uint8_t* row = picture.rgba.data() + y * width * 4;
        uint8_t* indices = out.indices.data() + y * width;
        for (size_t step = 0; step < width; ++step) {
            const size_t x = leftToRight ? step : width - 1 - step;
            const size_t e = x + 1;
            int value[3];
            for (size_t k = 0; k < 3; ++k) {
                value[k] = clampByte(int(row[x * 4 + k]) + (current[e][k] + 8) / 16);
            }
            const uint8_t index = lookup(value[0], value[1], value[2]);
            indices[x] = index;
            const size_t ahead = leftToRight ? e + 1 : e - 1;
            const size_t behind = leftToRight ? e - 1 : e + 1;
            for (size_t k = 0; k < 3; ++k) {
                const int error = value[k] - palette[index][k];
                current[ahead][k] += error * 7;
                next[behind][k] += error * 3;
                next[e][k] += error * 5;
                next[ahead][k] += error;
            }
        }
        std::swap(current, next);
        std::fill(next.begin(), next.end(), std::array<int, 3>{0, 0, 0});
    }
}

}  // namespace

Indexed quantize(const Picture& picture) {
    Indexed out;
    if (exactPalette(picture, out)) return out;
    out = {};
    diffuse(picture, buildPalette(picture), out);
    return out;
}

}  // namespace zembra::imaging::detail
