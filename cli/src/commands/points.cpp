#include <algorithm>
#include <zembra/render/parameters.hpp>
#include <zembra/render/render.hpp>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"
#include "commands/input_file.hpp"
#include "core/points_input.hpp"
#include "core/progress.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

int runPoints(const PointsOptions& options, Io& io) {
    const render::ParameterValues values = options.parameters.values();
    const render::OutputFormat format = checkOutput(values, io);
    const ResolvedMap resolved = resolveMap(values);

    render::RenderRequest request;
    request.map = resolved.map;
    request.marker = resolveMarker(values, resolved.folders);
    refuseOutputOver(values, {request.map, request.marker});
    setParameters(request, values, format);
    request.bounds = resolved.bounds;
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
               << " lie outside the map's bounds " << render::boundsText(resolved.bounds);
    }
    io.err << '\n';
    reportOutput(result, values, io);
    return 0;
}

}  // namespace zembra::cli
