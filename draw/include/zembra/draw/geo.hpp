// Positions, lines and polygons in degrees, and the straight mapping of a map picture:
// latitude and longitude in proportion to row and column, as the engine plots.
#pragma once

#include <string_view>
#include <vector>
#include <zembra/render/catalogue.hpp>

namespace zembra::draw {

using render::Bounds;

struct LonLat {
    double lon = 0;
    double lat = 0;
    friend bool operator==(const LonLat&, const LonLat&) = default;
};

// A polyline; a ring when its first and last points coincide.
using Line = std::vector<LonLat>;

// One polygon: the outer ring followed by its holes.
using Polygon = std::vector<Line>;

// A position on the picture before rounding, in pixels from the top-left corner.
struct PixelPoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

// Error source of the drawing code.
inline constexpr std::string_view kSource = "zembra";

// Parses "minLat,maxLat,minLon,maxLon". Raises error 5 unless there are four numbers
// with minLat < maxLat within -90..90 and minLon < maxLon spanning at most 360 degrees.
Bounds parseBounds(std::string_view text);

// The height that keeps the map's proportions on the ground at its middle latitude:
// width * latSpan / (lonSpan * cos(midLat)), rounded, at least 1. Raises error 5 when
// width is not positive or the height would exceed kMaxSide.
int heightForWidth(const Bounds& b, int width);

// The longest side a drawn map may have, in pixels.
inline constexpr int kMaxSide = render::kMaxMapSide;

// The smallest box holding every point of a line that has at least one.
Bounds lineBox(const Line& line);

// Whether a box meets the window, longitudes compared modulo 360. A box 180 degrees wide
// or more is taken to meet it: its line may go either way round.
bool boxMeets(const Bounds& box, const Bounds& window);

// The lines with their edges along the 180th meridian removed. Boundary data cuts land
// that crosses it (Chukotka) into two polygons; the cut is no coast and is not drawn.
std::vector<Line> withoutMeridianCuts(const std::vector<Line>& lines);

class Projection {
  public:
    Projection(const Bounds& b, int width, int height) : b_(b), w_(width), h_(height) {}

    // Column and row as the engine computes them before rounding:
    // x = W*(lon-minLon)/(maxLon-minLon), y = H - H*(lat-minLat)/(maxLat-minLat).
    // The engine rounds these to the pixel index, so pixel (i, j) is centred on x = i, y = j.
    PixelPoint toPixel(const LonLat& p) const {
        return {w_ * (p.lon - b_.minLon) / (b_.maxLon - b_.minLon),
                h_ - h_ * (p.lat - b_.minLat) / (b_.maxLat - b_.minLat)};
    }

    // The longitude moved by whole turns into the 360-degree window centred on the map,
    // so that land just across the antimeridian (the western Aleutians, Chukotka on a map
    // of Alaska) lies next to its neighbours instead of on the far side of the world.
    double wrapLon(double lon) const;

    // The line with every longitude wrapped, then kept continuous: a step of more than
    // 180 degrees between neighbours is taken as a crossing of the antimeridian.
    Line wrap(const Line& line) const;

    const Bounds& bounds() const { return b_; }
    int width() const { return w_; }
    int height() const { return h_; }

  private:
    Bounds b_;
    int w_;
    int h_;
};

}  // namespace zembra::draw
