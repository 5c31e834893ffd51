#include "projection.hpp"

#include <QStringList>
#include <cmath>
#include <numbers>

namespace zembra::mapgen {

Bounds parseBounds(const QString& text) {
    const QStringList parts = text.split(',');
    if (parts.size() != 4)
        raise(err::kInvalidArgument, "bounds need four numbers: minLat,maxLat,minLon,maxLon");
    double v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(v[i]))
            raise(err::kInvalidArgument,
                  "bounds value \"" + parts[i].toStdString() + "\" is not a number");
    }
    const Bounds b{v[0], v[1], v[2], v[3]};
    if (!(b.minLat < b.maxLat) || b.minLat < -90 || b.maxLat > 90)
        raise(err::kInvalidArgument, "latitudes must satisfy -90 <= minLat < maxLat <= 90");
    if (!(b.minLon < b.maxLon) || b.maxLon - b.minLon > 360)
        raise(err::kInvalidArgument,
              "longitudes must satisfy minLon < maxLon, at most 360 degrees apart");
    return b;
}

int heightForWidth(const Bounds& b, int width) {
    if (width <= 0) raise(err::kInvalidArgument, "width must be positive");
    const double midLat = (b.minLat + b.maxLat) / 2 * std::numbers::pi / 180;
    const double h = width * (b.maxLat - b.minLat) / ((b.maxLon - b.minLon) * std::cos(midLat));
    if (!std::isfinite(h) || h > 20000)
        raise(err::kInvalidArgument,
              "the picture would be too tall; give --height or narrower latitudes");
    return std::max(1, static_cast<int>(std::lround(h)));
}

std::vector<Line> withoutMeridianCuts(const std::vector<Line>& lines) {
    const auto onCut = [](const LonLat& p) { return std::abs(p.lon) >= 180 - 1e-9; };
    std::vector<Line> out;
    for (const Line& line : lines) {
        Line piece;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (i > 0 && onCut(line[i - 1]) && onCut(line[i])) {
                if (piece.size() >= 2) out.push_back(std::move(piece));
                piece.clear();
            }
            piece.push_back(line[i]);
        }
        if (piece.size() >= 2) out.push_back(std::move(piece));
    }
    return out;
}

QPointF Projection::toPixel(const LonLat& p) const {
    const double x = w_ * (p.lon - b_.minLon) / (b_.maxLon - b_.minLon);
    const double y = h_ - h_ * (p.lat - b_.minLat) / (b_.maxLat - b_.minLat);
    return {x, y};
}

double Projection::wrapLon(double lon) const {
    const double lo = (b_.minLon + b_.maxLon) / 2 - 180;
    return lon - 360 * std::floor((lon - lo) / 360);
}

Line Projection::wrap(const Line& line) const {
    Line out;
    out.reserve(line.size());
    for (const LonLat& p : line) {
        double lon = wrapLon(p.lon);
        if (!out.empty()) {
            const double prev = out.back().lon;
            while (lon - prev > 180) lon -= 360;
            while (prev - lon > 180) lon += 360;
        }
        out.push_back({lon, p.lat});
    }
    return out;
}

}  // namespace zembra::mapgen
