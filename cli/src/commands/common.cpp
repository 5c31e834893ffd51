#include <system_error>
#include <zembra/render/catalogue.hpp>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"
#include "core/images.hpp"
#include "core/option_values.hpp"
#include "core/output_format.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

namespace fs = std::filesystem;

ResolvedMap resolveMap(const MapOptions& options) {
    ResolvedMap resolved;
    resolved.images = options.images.empty() ? defaultImagesDirectory() : fs::path(options.images);
    resolved.map = resolvePicture(options.map, resolved.images / "Maps", "jpg", "map");
    if (!options.bounds.empty()) {
        resolved.bounds = parseBounds(options.bounds);
    } else if (const auto bounds = render::boundsForMap(resolved.map)) {
        resolved.bounds = *bounds;
    } else {
        throw UsageError("the bounds of map '" + resolved.map.filename().string() +
                         "' are unknown: its name holds none of usa, alaska, hawaii and no "
                         "world file " +
                         render::worldFilePath(resolved.map).filename().string() +
                         " lies beside it; give them with --bounds minLat,maxLat,minLon,maxLon");
    }
    return resolved;
}

fs::path resolveMarker(const std::string& marker, const fs::path& images) {
    const auto folder = images / "Overlays";
    return marker.empty() ? defaultMarker(folder) : resolvePicture(marker, folder, "png", "marker");
}

render::OutputFormat checkOutput(const OutputOptions& output, const Io& io) {
    if (output.output == "-") {
        if (output.format.empty()) {
            throw UsageError(
                "-o - writes the picture to standard output: name its format "
                "with --format jpg, gif, bmp or png");
        }
        if (io.stdoutIsTerminal) {
            throw UsageError(
                "-o - would write the picture to a terminal: redirect standard "
                "output to a file or a pipe");
        }
        return formatForName(output.format);
    }
    const fs::path path(output.output);
    const render::OutputFormat format = formatForPath(path);
    if (!output.format.empty() && formatForName(output.format) != format) {
        throw UsageError("--format " + output.format + " does not match the extension of '" +
                         output.output + "'");
    }
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        throw Error::standard(err::kPathNotFound, "zembra", folder.string());
    }
    return format;
}

void refuseOutputOver(const OutputOptions& output, const std::vector<fs::path>& inputs) {
    if (output.output == "-") return;
    std::error_code ec;
    const fs::path out = fs::weakly_canonical(fs::path(output.output), ec);
    for (const fs::path& input : inputs) {
        std::error_code ic;
        if (fs::equivalent(fs::path(output.output), input, ic) ||
            (!ec && out == fs::weakly_canonical(input, ic))) {
            throw UsageError("-o " + output.output + " is the picture " + input.string() +
                             " the render reads: name another output file");
        }
    }
}

void setOutput(render::RenderRequest& request, const OutputOptions& output) {
    request.chunkSize = output.chunkSize;
    if (output.output != "-") request.output = fs::path(output.output);
}

void reportOutput(const render::RenderResult& result, const OutputOptions& output, Io& io) {
    if (output.output == "-") {
        io.out.write(reinterpret_cast<const char*>(result.bytes.data()),
                     static_cast<std::streamsize>(result.bytes.size()));
    } else {
        io.out << output.output << '\n';
    }
}

}  // namespace zembra::cli
