#include "commands/region_map.hpp"

#include <zembra/render/parameters.hpp>
#include <zembra/render/positions.hpp>
#include <zembra/runtime.hpp>

#include "commands/input_file.hpp"
#include "core/text.hpp"
#include "core/usage_error.hpp"
#include "core/zip_input.hpp"

namespace zembra::cli {

namespace {

// The bounds of the region; the codes a fit leaves outside its map are reported.
render::Bounds regionBounds(const RegionOptions& options, draw::BoundaryData& data,
                            const std::string& connection, const std::vector<std::string>& zips,
                            bool towns, Io& io) {
    const draw::Region region = parseRegionOption(options.region);
    if (region.kind == draw::Region::Kind::Fit && zips.empty())
        throw UsageError("--region fit fits the map to zip codes: give some");
    std::vector<std::optional<render::LatLon>> positions;
    const render::Bounds bounds = draw::regionBounds(region, data, [&] {
        positions = render::positionsOf(connection, zips, towns);
        return positions;
    });
    // A fit spans the 50 states, DC, PR and VI; codes elsewhere fall outside its map.
    std::vector<std::string> outside;
    for (size_t i = 0; i < positions.size(); ++i) {
        if (positions[i] && !bounds.contains(positions[i]->lat, positions[i]->lon) &&
            !bounds.contains(positions[i]->lat, positions[i]->lon - 360))
            outside.push_back(zips[i]);
    }
    if (!outside.empty()) {
        io.err << "outside the map (" << withThousands(outside.size()) << "):";
        for (size_t i = 0; i < outside.size() && i < 20; ++i)
            io.err << ' ' << render::escapeForDisplay(outside[i]);
        if (outside.size() > 20) io.err << " ...";
        io.err << '\n';
    }
    return bounds;
}

int widthOf(const RegionOptions& options) {
    return options.width > 0 ? options.width : draw::kDefaultMapWidth;
}

}  // namespace

RegionOptions regionOptions(const render::ParameterValues& values) {
    RegionOptions options;
    options.region = values.text("region");
    if (values.given("width")) {
        options.width =
            static_cast<int>(render::countValue(render::parameter("width"), values.text("width")));
    }
    return options;
}

draw::Region parseRegionOption(const std::string& text) {
    try {
        return draw::parseRegion(text);
    } catch (const Error& e) {
        throw UsageError("--region: " + e.description());
    }
}

std::unique_ptr<draw::TemporaryMap> drawRegionForRender(const RegionOptions& options,
                                                        const std::string& connection,
                                                        const std::vector<std::string>& zips,
                                                        bool towns, Io& io) {
    draw::BoundaryData data;
    const render::Bounds bounds = regionBounds(options, data, connection, zips, towns, io);
    const int width = widthOf(options);
    (void)draw::checkedHeight(bounds, width);  // before the data is read
    data.drawOnlyWithin(bounds);
    return std::make_unique<draw::TemporaryMap>(data.layers(), bounds, width);
}

int runMap(const MapCommandOptions& options, Io& io) {
    render::ParameterValues output;
    output.set("output", options.output);
    const render::OutputFormat format = checkOutput(output, io);
    if (options.output == "-")
        throw UsageError("zembra map writes a world file beside the picture: name a file with -o");
    const RegionOptions region = regionOptions(options.parameters.values());
    (void)parseRegionOption(region.region);
    CodeList codes;
    for (const auto& code : options.zips) codes.add(code);
    if (!options.file.empty()) {
        const auto input = openInput(options.file, io);
        readZipLines(*input, codes);
    }
    const std::vector<std::string> zips = codes.take();
    draw::BoundaryData data;
    const render::Bounds bounds = regionBounds(region, data, options.connection, zips, true, io);
    data.drawOnlyWithin(bounds);
    draw::DrawnMap map = draw::drawMap(data, bounds, widthOf(region));
    const auto world = draw::writeMap(map, options.output, format);
    const render::Bounds& b = map.bounds;
    io.err << map.canvas.width() << " x " << map.canvas.height() << " pixels, bounds "
           << render::boundsText(b) << ", world file " << world.string() << '\n';
    io.out << options.output << '\n';
    return 0;
}

}  // namespace zembra::cli
