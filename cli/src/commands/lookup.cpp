#include <zembra/render/render.hpp>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

int runLookup(const LookupOptions& options, Io& io) {
    const ResolvedMap resolved = resolveMap(options.map);
    // The server refuses a pixel off the picture; so does the command line.
    const auto [width, height] = render::pictureSize(resolved.map);
    if (options.x < 0 || options.x >= width || options.y < 0 || options.y >= height) {
        throw UsageError("pixel " + std::to_string(options.x) + "," + std::to_string(options.y) +
                         " lies outside the picture (x 0 to " + std::to_string(width - 1) +
                         ", y 0 to " + std::to_string(height - 1) + ")");
    }
    render::LookupRequest request;
    request.map = resolved.map;
    request.bounds = resolved.bounds;
    request.connection = options.map.connection;
    request.x = options.x;
    request.y = options.y;
    const render::LookupResult found = render::lookupPixel(request);

    io.out << (found.zip ? render::escapeForDisplay(*found.zip) : std::string("none")) << ' '
           << formatNumber(found.position.lat) << ' ' << formatNumber(found.position.lon);
    if (!found.city.empty() || !found.state.empty()) {
        io.out << ' ' << render::escapeForDisplay(found.city)
               << (found.city.empty() || found.state.empty() ? "" : ", ")
               << render::escapeForDisplay(found.state);
    }
    io.out << '\n';
    return 0;
}

}  // namespace zembra::cli
