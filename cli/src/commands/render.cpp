#include <zembra/render/render.hpp>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"
#include "commands/input_file.hpp"
#include "core/progress.hpp"
#include "core/text.hpp"
#include "core/usage_error.hpp"
#include "core/zip_input.hpp"

namespace zembra::cli {

namespace {

// The codes from the arguments, then from the file or standard input.
std::vector<std::string> gatherCodes(const RenderOptions& options, Io& io) {
    std::vector<std::string> codes = options.zips;
    std::string file = options.file;
    if (file.empty() && codes.empty()) {
        if (io.stdinIsTerminal) {
            throw UsageError(
                "no zip codes given: list them, read them with -f FILE, or pipe them in");
        }
        file.assign(1, '-');  // (GCC 12 warns falsely on = "-")
    }
    if (file.empty()) {
        if (!options.column.empty()) {
            throw UsageError("--column names a column of the input: give -f FILE or -f -");
        }
        return codes;
    }
    InputFile input(file, io.in);
    auto read = options.column.empty()
                    ? readZipLines(input.stream(), input.name())
                    : readZipColumn(input.stream(), options.column, input.name());
    if (read.empty() && codes.empty()) {
        throw UsageError(std::string("no zip codes in ").append(input.name()));
    }
    codes.insert(codes.end(), std::make_move_iterator(read.begin()),
                 std::make_move_iterator(read.end()));
    return codes;
}


void printList(std::ostream& out, std::string_view heading, const std::vector<std::string>& codes) {
    out << heading << " (" << codes.size() << "):";
    for (const auto& code : codes) out << ' ' << code;
    out << '\n';
}

}  // namespace

int runRender(const RenderOptions& options, Io& io) {
    // Every check that needs no engine comes first, so a mistake costs no waiting.
    const std::string imageType = checkOutput(options.output);
    const ResolvedMap resolved = resolveMap(options.map);
    const auto marker = resolveMarker(options.marker, resolved.images);
    size_t repeats = 0;
    const auto codes = distinctCodes(gatherCodes(options, io), repeats);

    render::RenderRequest request;
    request.map = resolved.map;
    request.marker = marker;
    request.bounds = {resolved.bounds.minLat, resolved.bounds.maxLat, resolved.bounds.minLon,
                      resolved.bounds.maxLon};
    request.connection = options.map.connection;
    request.zips = codes;
    request.format = render::formatForExtension(imageType).value_or(render::OutputFormat::Jpeg);
    request.output = std::filesystem::path(options.output);
    request.chunkSize = options.chunkSize;
    request.towns = !options.noTowns;
    render::RenderResult result;
    {
        Progress progress(io.stderrIsTerminal ? &io.err : nullptr, "placing zip codes",
                          codes.size());
        request.progress = [&](const render::Progress& p) { progress.update(p.done); };
        result = render::render(request);
    }

    const std::vector<std::string>& unmatched = result.notFound;
    if (result.placedAtTown.empty()) {
        io.err << "placed " << result.placed() << " of " << codes.size() << " zip codes\n";
    } else {
        // Codes without an area of their own were placed at their post-office town.
        io.err << "placed " << withThousands(result.placed()) << " of "
               << withThousands(codes.size()) << ": " << withThousands(result.placedAtArea)
               << " at their area, " << withThousands(result.placedAtTown.size())
               << " at their post-office town";
        if (!unmatched.empty()) {
            io.err << "; not found:";
            for (const auto& code : unmatched) io.err << ' ' << code;
        }
        io.err << '\n';
    }
    if (repeats > 0) io.err << "skipped " << repeats << " repeated zip codes\n";
    if (!unmatched.empty()) {
        if (result.placedAtTown.empty()) printList(io.err, "not found", unmatched);
        if (hasShortNumericCode(unmatched)) {
            io.err << "note: zip codes keep their leading zeros (08873, not 8873)\n";
        }
    }
    io.out << options.output << '\n';
    return 0;
}

}  // namespace zembra::cli
