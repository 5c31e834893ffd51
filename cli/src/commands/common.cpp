#include <system_error>
#include <zembra/render/catalogue.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"
#include "core/images.hpp"
#include "core/output_format.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

namespace fs = std::filesystem;

UsageError refused(const render::ParameterError& e) {
    return UsageError(e.message(e.parameter().longFlag()));
}

ResolvedMap resolveMap(const render::ParameterValues& values) {
    ResolvedMap resolved;
    resolved.folders = pictureFolders(values.text("images"));
    resolved.map =
        render::resolvePicture(values.text("map"), resolved.folders, render::PictureKind::Map);
    if (values.given("bounds")) {
        try {
            resolved.bounds =
                render::boundsValue(render::parameter("bounds"), values.text("bounds"));
        } catch (const render::ParameterError& e) {
            throw refused(e);
        }
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

fs::path resolveMarker(const render::ParameterValues& values,
                       const render::PictureFolders& folders) {
    const std::string marker = values.text("marker");
    return marker.empty() ? defaultMarker(folders)
                          : render::resolvePicture(marker, folders, render::PictureKind::Marker);
}

render::OutputFormat checkOutput(const render::ParameterValues& values, const Io& io) {
    const std::string output = values.text("output");
    const bool named = values.given("format");
    const auto named_format = [&] {
        try {
            return render::formatValue(render::parameter("format"), values.text("format"));
        } catch (const render::ParameterError& e) {
            throw refused(e);
        }
    };
    if (output == "-") {
        if (!named) {
            throw UsageError(
                "-o - writes the picture to standard output: name its format "
                "with --format " +
                imaging::formatNames());
        }
        if (io.stdoutIsTerminal) {
            throw UsageError(
                "-o - would write the picture to a terminal: redirect standard "
                "output to a file or a pipe");
        }
        if (values.given("worldFile") &&
            render::switchValue(render::parameter("worldFile"), values.text("worldFile"))) {
            throw UsageError("--world-file writes beside the picture file: name one with -o");
        }
        return named_format();
    }
    const fs::path path(output);
    const render::OutputFormat format = formatForPath(path);
    if (named && named_format() != format) {
        throw UsageError("--format " + values.text("format") +
                         " does not match the extension of '" + output + "'");
    }
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        throw Error::standard(err::kPathNotFound, "zembra", folder.string());
    }
    return format;
}

void setParameters(render::RenderRequest& request, render::ParameterValues values,
                   render::OutputFormat format) {
    values.set("format", std::string(render::formatName(format)));
    try {
        render::applyParameters(values, request);
    } catch (const render::ParameterError& e) {
        throw refused(e);
    }
    request.connection = values.text("connection");
    const std::string output = values.text("output");
    if (output != "-") request.output = fs::path(output);
}

void refuseOutputOver(const render::ParameterValues& values, const std::vector<fs::path>& inputs) {
    const std::string output = values.text("output");
    if (output == "-") return;
    std::error_code ec;
    const fs::path out = fs::weakly_canonical(fs::path(output), ec);
    for (const fs::path& input : inputs) {
        std::error_code ic;
        if (fs::equivalent(fs::path(output), input, ic) ||
            (!ec && out == fs::weakly_canonical(input, ic))) {
            throw UsageError("-o " + output + " is the picture " + input.string() +
                             " the render reads: name another output file");
        }
    }
}

void reportOutput(const render::RenderResult& result, const render::ParameterValues& values,
                  Io& io) {
    if (values.text("output") == "-") {
        io.out.write(reinterpret_cast<const char*>(result.bytes.data()),
                     static_cast<std::streamsize>(result.bytes.size()));
    } else {
        io.out << values.text("output") << '\n';
    }
}

}  // namespace zembra::cli
