// The straight (equirectangular) mapping the engine uses to place points on a map
// picture, and the helpers that size a picture and bring longitudes into its range.
#pragma once

#include <QPointF>
#include <QString>
#include <zembra/render/catalogue.hpp>

#include "topojson.hpp"

namespace zembra::mapgen {

// The map catalogue's rectangle: the bounds a map picture shows edge to edge.
using Bounds = render::Bounds;

// Parses "minLat,maxLat,minLon,maxLon". Raises error 5 unless there are four numbers
// with minLat < maxLat within -90..90 and minLon < maxLon spanning at most 360 degrees.
Bounds parseBounds(const QString& text);

// The picture height that keeps the map's proportions on the ground at its middle
// latitude: width * latSpan / (lonSpan * cos(midLat)), rounded, at least 1.
// Raises error 5 when width is not positive or the result would be unreasonably large.
int heightForWidth(const Bounds& b, int width);

// The lines with their edges along the 180th meridian removed. Boundary data cuts land
// that crosses it (Chukotka) into two polygons; the cut is no coast and is not drawn.
std::vector<Line> withoutMeridianCuts(const std::vector<Line>& lines);

class Projection {
  public:
    Projection(const Bounds& b, int width, int height) : b_(b), w_(width), h_(height) {}

    // Column and row as the engine computes them before rounding:
    // x = W*(lon-minLon)/(maxLon-minLon), y = H - H*(lat-minLat)/(maxLat-minLat).
    // The engine rounds these to the pixel index, so pixel (i, j) is centred on x = i, y = j.
    QPointF toPixel(const LonLat& p) const;

    // The longitude of p moved by whole turns into the 360-degree window centred on the
    // map, so that land just across the antimeridian (the western Aleutians, Chukotka on
    // a map of Alaska) lies next to its neighbours instead of on the far side of the world.
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

}  // namespace zembra::mapgen
