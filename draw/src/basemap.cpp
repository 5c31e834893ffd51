#include <string>
#include <zembra/draw/basemap.hpp>
#include <zembra/runtime.hpp>

namespace zembra::draw {

namespace {

constexpr std::string_view kUnitedStates = "840";

std::vector<Polygon> polygonsOf(Feature&& f) { return std::move(f.polygons); }

}  // namespace

UsLand parseUsLand(std::string_view text) {
    if (text == "states") return UsLand::States;
    if (text == "country") return UsLand::Country;
    throw Error::standard(err::kInvalidArgument, std::string(kSource),
                          "US land must be states or country, not \"" + std::string(text) + "\"");
}

MapLayers buildLayers(const Topology& us, const Topology& world, const Topology* lakes,
                      UsLand source) {
    MapLayers layers;
    const bool fromStates = source == UsLand::States;
    if (fromStates) {
        for (Feature& f : us.features("states")) layers.usLand.push_back(polygonsOf(std::move(f)));
    }
    for (Feature& f : world.features("countries")) {
        if (f.id != kUnitedStates)
            layers.foreignLand.push_back(polygonsOf(std::move(f)));
        else if (!fromStates)
            layers.usLand.push_back(polygonsOf(std::move(f)));
    }
    // Borders between two states; from the states, everything on the nation's edge is
    // drawn as an outline.
    layers.stateBorders =
        us.mesh("states", [](const Feature& a, const Feature& b) { return &a != &b; });
    if (fromStates)
        layers.outlines =
            us.mesh("states", [](const Feature& a, const Feature& b) { return &a == &b; });
    // Coasts and borders of the world data; the United States' own edge is left out when
    // it comes from the states, so the line follows the US land's edge exactly.
    auto foreign = world.mesh("countries", [fromStates](const Feature& a, const Feature& b) {
        return !fromStates || (a.id != kUnitedStates && b.id != kUnitedStates);
    });
    foreign = withoutMeridianCuts(foreign);
    layers.outlines.insert(layers.outlines.end(), std::make_move_iterator(foreign.begin()),
                           std::make_move_iterator(foreign.end()));
    if (lakes) {
        for (Feature& f : lakes->features("lakes")) {
            for (const Polygon& p : f.polygons)
                layers.lakeShores.insert(layers.lakeShores.end(), p.begin(), p.end());
            layers.lakes.push_back(polygonsOf(std::move(f)));
        }
    }
    // The country outline holds its lakes (the US half of the Great Lakes among them).
    layers.lakesOverUsLand = !fromStates;
    return layers;
}

void drawBaseMap(Canvas& canvas, const MapLayers& layers, const Projection& proj,
                 const MapStyle& style) {
    canvas.fillPolygons(layers.foreignLand, proj, style.foreignLand);
    // Lakes normally go under the states: the states' own outlines already leave out the
    // Great Lakes, and elsewhere the census shoreline is the one zip codes agree with.
    if (layers.lakesOverUsLand) canvas.fillPolygons(layers.usLand, proj, style.usLand);
    canvas.fillPolygons(layers.lakes, proj, style.water);
    canvas.strokeLines(layers.lakeShores, proj, style.outline, style.lakeShoreWidth);
    if (!layers.lakesOverUsLand) canvas.fillPolygons(layers.usLand, proj, style.usLand);
    canvas.strokeLines(layers.stateBorders, proj, style.stateBorder, style.stateBorderWidth);
    canvas.strokeLines(layers.outlines, proj, style.outline, style.outlineWidth);
}

}  // namespace zembra::draw
