#include <zembra/render/render.hpp>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"

namespace zembra::cli {

int runLookup(const LookupOptions& options, Io& io) {
    const ResolvedMap resolved = resolveMap(options.map);
    render::LookupRequest request;
    request.map = resolved.map;
    request.bounds = resolved.bounds;
    request.connection = options.map.connection;
    request.x = options.x;
    request.y = options.y;
    const render::LookupResult result = render::lookupPixel(request);
    io.out << (result.zip ? render::escapeForDisplay(*result.zip) : std::string("none")) << ' '
           << formatNumber(result.position.lat) << ' ' << formatNumber(result.position.lon)
           << '\n';
    return 0;
}

}  // namespace zembra::cli
