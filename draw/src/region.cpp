#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <zembra/draw/region.hpp>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

namespace zembra::draw {

namespace {

// The detail alone is the description: the command line and the server show it as it is.
[[noreturn]] void invalid(const std::string& detail) {
    throw Error(err::kInvalidArgument, std::string(kSource), detail);
}

constexpr std::string_view kForms =
    "give a state's postal code or name (NJ, \"New Jersey\"), several (NY,NJ,CT), fit, or "
    "minLat,maxLat,minLon,maxLon";

std::vector<std::string_view> split(std::string_view text) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        parts.push_back(
            text.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (comma == std::string_view::npos) return parts;
        start = comma + 1;
    }
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool looksNumeric(std::string_view part) {
    return part.find_first_of("0123456789") != std::string_view::npos &&
           part.find_first_not_of(" \t+-.0123456789eE") == std::string_view::npos;
}

// The rectangle around the points; when it spans more than half the world, the east
// longitudes are taken across the antimeridian instead.
struct Extent {
    double minLat = 1e300, maxLat = -1e300, minLon = 1e300, maxLon = -1e300;
    void add(double lat, double lon) {
        minLat = std::min(minLat, lat);
        maxLat = std::max(maxLat, lat);
        minLon = std::min(minLon, lon);
        maxLon = std::max(maxLon, lon);
    }
    bool empty() const { return minLat > maxLat; }
    Bounds bounds() const { return {minLat, maxLat, minLon, maxLon}; }
};

Bounds outlineBox(const Feature& feature) {
    Extent raw, shifted;
    for (const Polygon& polygon : feature.polygons)
        for (const Line& ring : polygon)
            for (const LonLat& p : ring) {
                raw.add(p.lat, p.lon);
                shifted.add(p.lat, p.lon > 0 ? p.lon - 360 : p.lon);
            }
    if (raw.empty()) invalid("the outline of state " + feature.id + " is empty");
    return raw.maxLon - raw.minLon > 180 ? shifted.bounds() : raw.bounds();
}

}  // namespace

Region parseRegion(std::string_view text) {
    Region region;
    const auto parts = split(text);
    if (parts.size() == 1 && equalsIgnoreCase(trimmed(parts[0]), "fit")) {
        region.kind = Region::Kind::Fit;
        return region;
    }
    if (parts.size() == 4 && std::all_of(parts.begin(), parts.end(), looksNumeric)) {
        region.kind = Region::Kind::Box;
        region.box = parseBounds(text);
        return region;
    }
    region.kind = Region::Kind::States;
    for (const std::string_view part : parts) {
        const StateInfo* state = findState(part);
        if (!state) {
            invalid(std::string("\"").append(part) + "\" is no state or territory; " +
                    std::string(kForms));
        }
        if (std::find(region.states.begin(), region.states.end(), state) == region.states.end())
            region.states.push_back(state);
    }
    return region;
}

Bounds withMargin(const Bounds& box) {
    const double midLat = (box.minLat + box.maxLat) / 2;
    const double midLon = (box.minLon + box.maxLon) / 2;
    const double cosMid = std::max(0.05, std::cos(midLat * std::numbers::pi / 180));
    const double latSpan = std::max((box.maxLat - box.minLat) * (1 + 2 * kMargin), kMinimumSpan);
    const double lonSpan = std::min(
        360.0, std::max((box.maxLon - box.minLon) * (1 + 2 * kMargin), kMinimumSpan / cosMid));
    Bounds out{midLat - latSpan / 2, midLat + latSpan / 2, midLon - lonSpan / 2,
               midLon + lonSpan / 2};
    // Near a pole the rectangle slides rather than crossing it.
    if (out.maxLat > 90) {
        out.minLat = std::max(-90.0, out.minLat - (out.maxLat - 90));
        out.maxLat = 90;
    }
    if (out.minLat < -90) {
        out.maxLat = std::min(90.0, out.maxLat + (-90 - out.minLat));
        out.minLat = -90;
    }
    return out;
}

Bounds statesBounds(std::span<const StateInfo* const> states, const Topology& outlines) {
    Extent all;
    const std::vector<Feature> features = outlines.features("states");
    for (const StateInfo* state : states) {
        const auto found = std::find_if(features.begin(), features.end(),
                                        [&](const Feature& f) { return f.id == state->fips; });
        if (found == features.end())
            invalid("the boundary data has no outline for " + std::string(state->name));
        const Bounds b = outlineBox(*found);
        all.add(b.minLat, b.minLon);
        all.add(b.maxLat, b.maxLon);
    }
    if (all.empty()) invalid("no state named");
    if (all.maxLon - all.minLon > 360) invalid("the states span more than the world");
    return withMargin(all.bounds());
}

FitArea::FitArea(const Topology& outlines) {
    for (const Feature& f : outlines.features("states")) {
        const StateInfo* state = nullptr;
        for (const StateInfo& s : draw::states())
            if (s.fips == f.id) state = &s;
        if (state && state->fitArea && !f.polygons.empty()) {
            Bounds b = outlineBox(f);
            // A little room for codes on islets and spits the outlines leave out.
            b.minLat -= 0.25;
            b.maxLat += 0.25;
            b.minLon -= 0.25;
            b.maxLon += 0.25;
            boxes_.push_back(b);
        }
    }
}

bool FitArea::contains(double lat, double& lon) const {
    for (const Bounds& b : boxes_) {
        for (const double candidate : {lon, lon - 360}) {
            if (lat >= b.minLat && lat <= b.maxLat && candidate >= b.minLon &&
                candidate <= b.maxLon) {
                lon = candidate;
                return true;
            }
        }
    }
    return false;
}

Bounds fitBounds(std::span<const std::optional<render::LatLon>> positions, const FitArea& area) {
    Extent extent;
    for (const auto& p : positions) {
        if (!p) continue;
        double lon = p->lon;
        if (area.contains(p->lat, lon)) extent.add(p->lat, lon);
    }
    if (extent.empty())
        invalid(
            "fit: none of the zip codes lies in the 50 states, DC, Puerto Rico or "
            "the Virgin Islands");
    return withMargin(extent.bounds());
}

Bounds regionBounds(const Region& region, BoundaryData& data,
                    const std::function<std::vector<std::optional<render::LatLon>>()>& positions) {
    switch (region.kind) {
        case Region::Kind::Box:
            return region.box;
        case Region::Kind::States:
            return statesBounds(region.states, data.states());
        case Region::Kind::Fit: {
            const FitArea area(data.states());
            const auto found = positions();
            return fitBounds(found, area);
        }
    }
    invalid("unknown region");
}

}  // namespace zembra::draw
