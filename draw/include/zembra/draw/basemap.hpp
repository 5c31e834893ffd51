// The map pictures' look: water, land of the United States and of its neighbours, lakes,
// state borders, national borders and coastlines, drawn in layers onto a Canvas.
#pragma once

#include <string_view>
#include <vector>
#include <zembra/draw/canvas.hpp>
#include <zembra/draw/topojson.hpp>

namespace zembra::draw {

// The colours are part of the pictures' contract: tests and users tell water from land
// by them (assets/README.md lists them).
struct MapStyle {
    Colour water{170, 200, 230};
    Colour usLand{240, 235, 220};
    Colour foreignLand{220, 220, 210};
    Colour stateBorder{168, 158, 144};
    Colour outline{112, 122, 134};  // coastlines and national borders
    double stateBorderWidth = 0.8;  // pixels
    double outlineWidth = 1.0;
    double lakeShoreWidth = 0.7;
};

// What gets drawn, in degrees, already sorted into layers.
struct MapLayers {
    std::vector<std::vector<Polygon>> foreignLand;  // one entry per country
    std::vector<std::vector<Polygon>> usLand;       // one entry per state
    std::vector<std::vector<Polygon>> lakes;        // cut out of the other countries' land
    std::vector<Line> lakeShores;
    std::vector<Line> stateBorders;
    std::vector<Line> outlines;
    bool lakesOverUsLand = false;
};

// Where the land of the United States comes from. The census states fit the zip codes'
// positions best along the mainland coasts; the world data's country outline is more
// detailed on small islands (Hawaii), where it looks far better when zoomed in.
enum class UsLand { States, Country };

// Parses "states" or "country". Raises error 5 for anything else.
UsLand parseUsLand(std::string_view text);

// Sorts the topologies into layers: state borders from `us` (object "states"); every
// other country with its coasts and borders from `world` (object "countries"); and, when
// given, lakes from `lakes` (object "lakes"). Country outlines do not cut out lakes, so
// without them the Canadian half of the Great Lakes would show as land. The land and
// coast of the United States come from the states or from the world's country "840",
// as `source` says. Raises error 5 when an object is missing.
MapLayers buildLayers(const Topology& us, const Topology& world, const Topology* lakes = nullptr,
                      UsLand source = UsLand::States);

// Draws the layers onto the canvas, which shows the projection's bounds.
void drawBaseMap(Canvas& canvas, const MapLayers& layers, const Projection& projection,
                 const MapStyle& style = {});

}  // namespace zembra::draw
