// A place to draw a map of: one or several states, the extent of the codes being drawn
// ("fit"), or a rectangle in degrees; and the bounds that place gets.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>
#include <zembra/draw/boundaries.hpp>
#include <zembra/render/render.hpp>

namespace zembra::draw {

struct Region {
    enum class Kind { States, Fit, Box };
    Kind kind = Kind::Box;
    std::vector<const StateInfo*> states;  // Kind::States, in the order given, each once
    Bounds box;                            // Kind::Box
};

// Parses "NJ", "New Jersey", "NY,NJ,CT", "fit" or "minLat,maxLat,minLon,maxLon" (postal
// codes, names and "fit" in any case). Raises error 5 with the accepted forms otherwise.
Region parseRegion(std::string_view text);

// The smallest span a map may show, in degrees of latitude (about 55 km); the span of
// longitude is at least the same distance on the ground.
inline constexpr double kMinimumSpan = 0.5;
// The share of the span added on every side of the states or codes shown.
inline constexpr double kMargin = 0.05;

// `box` widened by the margin and to the minimum span, around its centre.
Bounds withMargin(const Bounds& box);

// The rectangle around the states' outlines, across the antimeridian where one spans it
// (Alaska's western Aleutians come out below -180), with the margin.
Bounds statesBounds(std::span<const StateInfo* const> states, const Topology& outlines);

// True when the position lies in one of the 50 states, DC, PR or VI, judged by the
// rectangles of their outlines; `lon` is set to the longitude the map should use (east
// longitudes of the western Aleutians become below -180).
class FitArea {
  public:
    explicit FitArea(const Topology& outlines);
    bool contains(double lat, double& lon) const;

  private:
    std::vector<Bounds> boxes_;
};

// The extent of the positions inside the fit area, with the margin and never smaller
// than the minimum span. Raises error 5 when no position lies inside it.
Bounds fitBounds(std::span<const std::optional<render::LatLon>> positions, const FitArea& area);

// The bounds of a region. `positions` (those of the codes to be drawn) is called only
// for a fit.
Bounds regionBounds(const Region& region, BoundaryData& data,
                    const std::function<std::vector<std::optional<render::LatLon>>()>& positions);

}  // namespace zembra::draw
