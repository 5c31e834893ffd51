#include <algorithm>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"
#include "commands/input_file.hpp"
#include "core/progress.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

int runPoints(const PointsOptions& options, Io& io) {
    const std::string imageType = checkOutput(options.output);
    const ResolvedMap resolved = resolveMap(options.map);
    const auto marker = resolveMarker(options.marker, resolved.images);

    std::vector<Point> points;
    for (const auto& text : options.points) points.push_back(parsePoint(text));
    std::string file = options.file;
    if (file.empty() && points.empty()) {
        if (io.stdinIsTerminal) {
            throw UsageError(
                "no points given: list LAT,LON pairs, read them with -f FILE, "
                "or pipe them in");
        }
        file.assign(1, '-');  // (GCC 12 warns falsely on = "-")
    }
    if (!file.empty()) {
        InputFile input(file, io.in);
        auto read = readPoints(input.stream(), input.name());
        if (read.empty() && points.empty())
            throw UsageError(std::string("no points in ").append(input.name()));
        points.insert(points.end(), read.begin(), read.end());
    }

    Object map = createMap({resolved.map, marker, resolved.bounds, options.map.connection});
    {
        Progress progress(io.stderrIsTerminal ? &io.err : nullptr, "placing points", points.size());
        plotPoints(map, points, options.chunkSize, [&](size_t done) { progress.update(done); });
    }
    saveMap(map, imageType, options.output);

    const auto inside = std::count_if(points.begin(), points.end(), [&](const Point& p) {
        return resolved.bounds.contains(p.lat, p.lon);
    });
    io.err << "placed " << points.size() << " points";
    if (static_cast<size_t>(inside) != points.size()) {
        io.err << "; " << points.size() - static_cast<size_t>(inside)
               << " lie outside the map's bounds " << formatBounds(resolved.bounds);
    }
    io.err << '\n';
    io.out << options.output << '\n';
    return 0;
}

}  // namespace zembra::cli
