#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <zembra/draw/geo.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/runtime.hpp>

namespace zembra::draw {

namespace {

[[noreturn]] void invalid(const std::string& detail) {
    throw Error::standard(err::kInvalidArgument, std::string(kSource), detail);
}

}  // namespace

Bounds parseBounds(std::string_view text) {
    std::string problem;
    if (const auto b = render::readBounds(text, &problem)) return *b;
    invalid("bounds '" + std::string(text) + "': " + problem);
}

int heightForWidth(const Bounds& b, int width) {
    if (width <= 0) invalid("the width must be a positive number of pixels");
    const double midLat = (b.minLat + b.maxLat) / 2 * std::numbers::pi / 180;
    const double h = width * (b.maxLat - b.minLat) / ((b.maxLon - b.minLon) * std::cos(midLat));
    if (!std::isfinite(h) || h > kMaxSide)
        invalid("the map would be more than " + std::to_string(kMaxSide) +
                " pixels high; choose a smaller width or a region less tall");
    return std::max(1, static_cast<int>(std::lround(h)));
}

Bounds lineBox(const Line& line) {
    Bounds box{line.at(0).lat, line[0].lat, line[0].lon, line[0].lon};
    for (const LonLat& p : line) {
        box.minLat = std::min(box.minLat, p.lat);
        box.maxLat = std::max(box.maxLat, p.lat);
        box.minLon = std::min(box.minLon, p.lon);
        box.maxLon = std::max(box.maxLon, p.lon);
    }
    return box;
}

bool boxMeets(const Bounds& box, const Bounds& window) {
    if (box.maxLat < window.minLat || box.minLat > window.maxLat) return false;
    if (box.maxLon - box.minLon >= 180) return true;
    // The box moved by whole turns so that its west edge lies in minLon .. minLon + 360.
    const double turns = 360 * std::floor((box.minLon - window.minLon) / 360);
    return box.minLon - turns <= window.maxLon || box.maxLon - turns >= window.minLon + 360;
}

std::vector<Line> withoutMeridianCuts(const std::vector<Line>& lines) {
    const auto onCut = [](const LonLat& p) { return std::abs(p.lon) >= 180 - 1e-9; };
    std::vector<Line> out;
    for (const Line& line : lines) {
        Line piece;
        for (size_t i = 0; i < line.size(); ++i) {
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

}  // namespace zembra::draw
