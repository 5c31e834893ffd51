#include <zembra/render/render.hpp>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"
#include "commands/input_file.hpp"
#include "commands/region_map.hpp"
#include "core/progress.hpp"
#include "core/text.hpp"
#include "core/usage_error.hpp"
#include "core/zip_input.hpp"

namespace zembra::cli {

namespace {

// The codes from the arguments, then from the file or standard input.
CodeList gatherCodes(const RenderOptions& options, Io& io) {
    CodeList codes;
    for (const auto& code : options.zips) codes.add(code);
    std::string file = options.file;
    if (file.empty() && options.zips.empty()) {
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
    const auto input = openInput(file, io);
    const size_t before = codes.items().size() + codes.repeats();
    if (options.column.empty()) {
        readZipLines(*input, codes);
    } else {
        readZipColumn(*input, options.column, codes);
    }
    if (codes.items().empty() && before == 0) {
        throw UsageError("no zip codes in " + input->name());
    }
    return codes;
}

void printList(std::ostream& out, std::string_view heading, const std::vector<std::string>& codes) {
    out << heading << " (" << codes.size() << "):";
    for (const auto& code : codes) out << ' ' << render::escapeForDisplay(code);
    out << '\n';
}

}  // namespace

int runRender(const RenderOptions& options, Io& io) {
    if (wantsThematic(options.style)) return runThematic(options, io);
    // Every check that needs no engine comes first, so a mistake costs no waiting.
    const render::OutputFormat format = checkOutput(options.output, io);
    const bool drawsMap = !options.region.region.empty();
    if (drawsMap) (void)parseRegionOption(options.region.region);
    const ResolvedMap resolved = resolveMap(options.map);
    CodeList codes = gatherCodes(options, io);
    const size_t repeats = codes.repeats();
    // A map drawn for the region, kept until the render is done.
    const auto marker = resolveMarker(options.marker, resolved.images);
    std::unique_ptr<draw::TemporaryMap> drawn;
    if (drawsMap) {
        drawn = drawRegionForRender(options.region, options.map.connection, codes.items(),
                                    !options.noTowns, io);
    }

    render::RenderRequest request;
    request.map = drawn ? drawn->path() : resolved.map;
    request.marker = marker;
    request.bounds = drawn ? drawn->bounds() : resolved.bounds;
    request.connection = options.map.connection;
    request.zips = codes.take();
    request.format = format;
    setOutput(request, options.output);
    request.towns = !options.noTowns;
    render::RenderResult result;
    {
        Progress progress(io.stderrIsTerminal ? &io.err : nullptr, "placing zip codes",
                          request.zips.size());
        request.progress = [&](const render::Progress& p) { progress.update(p.done); };
        result = render::render(request);
    }

    const std::vector<std::string>& unmatched = result.notFound;
    if (result.placedAtTown.empty()) {
        io.err << "placed " << result.placed() << " of " << result.requested << " zip codes\n";
    } else {
        // Codes without an area of their own were placed at their post-office town.
        io.err << "placed " << withThousands(result.placed()) << " of "
               << withThousands(result.requested) << ": " << withThousands(result.placedAtArea)
               << " at their area, " << withThousands(result.placedAtTown.size())
               << " at their post-office town";
        if (!unmatched.empty()) {
            io.err << "; not found:";
            for (const auto& code : unmatched) io.err << ' ' << render::escapeForDisplay(code);
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
    reportOutput(result, options.output, io);
    return 0;
}

}  // namespace zembra::cli
