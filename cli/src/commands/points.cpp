#include <algorithm>
#include <zembra/render/render.hpp>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"
#include "commands/input_file.hpp"
#include "core/option_values.hpp"
#include "core/points_input.hpp"
#include "core/progress.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

int runPoints(const PointsOptions& options, Io& io) {
    const render::OutputFormat format = checkOutput(options.output, io);
    const ResolvedMap resolved = resolveMap(options.map);

    render::RenderRequest request;
    request.map = resolved.map;
    request.marker = resolveMarker(options.marker, resolved.images);
    refuseOutputOver(options.output, {request.map, request.marker});
    request.bounds = resolved.bounds;
    request.connection = options.map.connection;
    request.format = format;
    setOutput(request, options.output);
    for (const auto& text : options.points) request.points.push_back(parsePoint(text));
    std::string file = options.file;
    if (file.empty() && request.points.empty()) {
        if (io.stdinIsTerminal) {
            throw UsageError(
                "no points given: list LAT,LON pairs, read them with -f FILE, "
                "or pipe them in");
        }
        file.assign(1, '-');  // (GCC 12 warns falsely on = "-")
    }
    if (!file.empty()) {
        const auto input = openInput(file, io);
        readPoints(*input, request.points);
        if (request.points.empty()) throw UsageError("no points in " + input->name());
    }

    render::RenderResult result;
    {
        Progress progress(io.stderrIsTerminal ? &io.err : nullptr, "placing points",
                          request.points.size());
        request.progress = [&](const render::Progress& p) { progress.update(p.done); };
        result = render::render(request);
    }

    const auto& points = request.points;
    const auto inside = std::count_if(points.begin(), points.end(), [&](const render::LatLon& p) {
        return resolved.bounds.contains(p.lat, p.lon);
    });
    io.err << "placed " << points.size() << " points";
    if (static_cast<size_t>(inside) != points.size()) {
        io.err << "; " << points.size() - static_cast<size_t>(inside)
               << " lie outside the map's bounds " << formatBounds(resolved.bounds);
    }
    io.err << '\n';
    reportOutput(result, options.output, io);
    return 0;
}

}  // namespace zembra::cli
