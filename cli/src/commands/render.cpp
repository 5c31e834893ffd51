#include <zembra/render/parameters.hpp>
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
CodeList gatherCodes(const RenderOptions& options, const render::ParameterValues& values, Io& io) {
    const std::string column = values.text("column");
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
        if (!column.empty()) {
            throw UsageError("--column names a column of the input: give -f FILE or -f -");
        }
        return codes;
    }
    const char separator = separatorForName(options.separator);
    const auto input = openInput(file, io, column.empty() && separator == 0 ? ',' : separator,
                                 values.text("sheet"));
    const size_t before = codes.items().size() + codes.repeats();
    if (column.empty()) {
        readZipLines(*input, codes);
    } else {
        readZipColumn(*input, column, codes);
        // What was detected is said, so that a wrong guess can be seen and overridden.
        const auto* csv = dynamic_cast<const render::CsvReader*>(input.get());
        if (csv != nullptr && separator == 0 &&
            (csv->separator() != ',' || csv->encoding() == render::TextEncoding::Utf16Le ||
             csv->encoding() == render::TextEncoding::Utf16Be)) {
            io.err << render::escapeForDisplay(csv->name()) << ": read as "
                   << render::encodingName(csv->encoding()) << ", fields separated by "
                   << render::separatorName(csv->separator()) << "s\n";
        }
    }
    if (codes.items().empty() && before == 0) {
        throw UsageError("no zip codes in " + input->name());
    }
    return codes;
}

// At most kListedCodes of a list; the rest counted, so a whole table's misses stay readable.
constexpr size_t kListedCodes = 20;

void printList(std::ostream& out, std::string_view heading, const std::vector<std::string>& codes,
               const std::string& suffix = {}) {
    out << heading << " (" << codes.size() << "):";
    for (size_t i = 0; i < codes.size() && i < kListedCodes; ++i)
        out << ' ' << render::escapeForDisplay(codes[i]);
    if (codes.size() > kListedCodes) out << " and " << codes.size() - kListedCodes << " more";
    out << suffix << '\n';
}

}  // namespace

void reportCodes(const render::RenderResult& result, size_t repeats, bool exact, Io& io) {
    if (!result.outside.empty()) {
        const std::string hint = render::suggestionText(result, "--region ");
        printList(io.err, "outside this map", result.outside,
                  hint.empty() ? std::string() : " (" + hint + ")");
    }
    if (repeats > 0) io.err << "skipped " << repeats << " repeated zip codes\n";
    if (!result.notFound.empty()) {
        printList(io.err, "not found", result.notFound);
        if (exact && hasShortNumericCode(result.notFound)) {
            io.err << "note: zip codes keep their leading zeros (08873, not 8873)\n";
        }
    }
}

int runRender(const RenderOptions& options, Io& io) {
    // Every check that needs no engine comes first, so a mistake costs no waiting.
    const render::ParameterValues values = options.parameters.values();
    if (wantsThematic(values)) return runThematic(options, io);
    const RegionOptions region = regionOptions(values);
    // A drawn map replaces the map picture and its bounds.
    if (!region.region.empty() && (values.given("map") || values.given("bounds")))
        throw UsageError("--region draws the map: it cannot be combined with --map or --bounds");
    if (region.width > 0 && region.region.empty())
        throw UsageError("--width sets the width of a map drawn with --region: give --region");
    const render::OutputFormat format = checkOutput(values, io);
    const bool drawsMap = !region.region.empty();
    if (drawsMap) (void)parseRegionOption(region.region);
    const ResolvedMap resolved = resolveMap(values);
    CodeList codes = gatherCodes(options, values, io);
    const size_t repeats = codes.repeats();
    // A map drawn for the region, kept until the render is done.
    const auto marker = resolveMarker(values, resolved.folders);
    refuseOutputOver(values, {resolved.map, marker});
    std::unique_ptr<draw::TemporaryMap> drawn;
    if (drawsMap) {
        drawn = drawRegionForRender(
            region, values.text("connection"), codes.items(),
            render::switchValue(render::parameter("towns"), values.text("towns")), io);
    }

    render::RenderRequest request;
    setParameters(request, values, format);
    request.map = drawn ? drawn->path() : resolved.map;
    request.marker = marker;
    request.bounds = drawn ? drawn->bounds() : resolved.bounds;
    request.zips = codes.take();
    render::RenderResult result;
    {
        Progress progress(io.stderrIsTerminal ? &io.err : nullptr, "placing zip codes",
                          request.zips.size());
        request.progress = [&](const render::Progress& p) { progress.update(p.done); };
        result = render::render(request);
    }

    io.err << render::summarize(result) << '\n';
    reportCodes(result, repeats, request.exact, io);
    reportOutput(result, values, io);
    return 0;
}

}  // namespace zembra::cli
