// `zembra render --style ...`: the styles that colour, size or shade by the rows of a list.
#include <zembra/draw/thematic.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/render/rows.hpp>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"
#include "commands/input_file.hpp"
#include "commands/region_map.hpp"
#include "core/text.hpp"
#include "core/usage_error.hpp"
#include "core/zip_input.hpp"

namespace zembra::cli {

namespace {

// The rows: the codes of the arguments (a row each), then those of the file or standard
// input, one per line or, with --column, with their category and value columns.
render::RowTable gatherRows(const RenderOptions& options, const render::ParameterValues& values,
                            const draw::ThematicOptions& style, Io& io) {
    const std::string column = values.text("column");
    render::RowTable table(style.style == draw::Style::Category);
    for (const auto& code : options.zips) table.add(code, "", std::nullopt);
    std::string file = options.file;
    if (file.empty() && options.zips.empty()) {
        if (io.stdinIsTerminal) {
            throw UsageError(
                "no zip codes given: list them, read them with -f FILE, or pipe them in");
        }
        file.assign(1, '-');
    }
    if ((!style.categoryName.empty() || !style.valueName.empty()) && column.empty()) {
        throw UsageError(
            "--category and --value name columns of a CSV input: give -f FILE and the codes' "
            "column with --column");
    }
    if (file.empty()) {
        if (!column.empty()) {
            throw UsageError("--column names a column of the input: give -f FILE or -f -");
        }
        return table;
    }
    const auto input = openInput(file, io, ',', values.text("sheet"));
    if (column.empty()) {
        CodeList codes;
        readZipLines(*input, codes);
        // Repeats are rows too: a code listed twice counts two rows.
        for (const auto& code : codes.items()) table.add(code, "", std::nullopt);
    } else {
        std::vector<std::string> header;
        if (!input->next(header)) {
            throw UsageError(input->name() + " is empty: expected a header naming column '" +
                             column + "'");
        }
        const render::RowColumns columns{column, style.categoryName, style.valueName};
        std::string missing;
        const auto positions =
            render::findColumns(header, columns, render::NameMatch::IgnoreCase, &missing);
        if (!positions) {
            std::string names;
            for (const auto& f : header)
                names += (names.empty() ? "" : ", ") + std::string(trim(f));
            throw UsageError(input->name() + " has no column '" + missing +
                             "'; its columns are: " + names);
        }
        render::readRows(*input, *positions, columns, table);
    }
    if (table.entries().empty()) throw UsageError("no zip codes in " + input->name());
    return table;
}

std::optional<draw::ThematicOptions> styleOf(const render::ParameterValues& values) {
    try {
        return draw::thematicOptions(values);
    } catch (const render::ParameterError& e) {
        throw refused(e);
    }
}

}  // namespace

bool wantsThematic(const render::ParameterValues& values) { return styleOf(values).has_value(); }

int runThematic(const RenderOptions& options, Io& io) {
    const render::ParameterValues values = options.parameters.values();
    const RegionOptions region = regionOptions(values);
    if (!region.region.empty() && (values.given("map") || values.given("bounds")))
        throw UsageError("--region draws the map: it cannot be combined with --map or --bounds");
    const draw::ThematicOptions style = *styleOf(values);
    if (values.given("marker")) {
        throw UsageError("--marker goes with the plain markers; --style " + values.text("style") +
                         " draws its own");
    }

    const render::OutputFormat format = checkOutput(values, io);
    const bool drawsMap = !region.region.empty();
    if (drawsMap) (void)parseRegionOption(region.region);
    const ResolvedMap resolved = resolveMap(values);
    const bool towns = render::switchValue(render::parameter("towns"), values.text("towns"));
    const render::RowTable rows = gatherRows(options, values, style, io);
    // A map drawn for the region, kept until the render is done.
    std::unique_ptr<draw::TemporaryMap> drawn;
    if (drawsMap) {
        drawn = drawRegionForRender(region, values.text("connection"), rows.codes(), towns, io);
    }

    draw::ThematicRequest request;
    request.map = drawn ? drawn->path() : resolved.map;
    request.bounds = drawn ? drawn->bounds() : resolved.bounds;
    request.connection = values.text("connection");
    request.towns = towns;
    request.exact = render::switchValue(render::parameter("exact"), values.text("exact"));
    request.format = format;
    const std::string output = values.text("output");
    if (output != "-") request.output = output;
    const std::string table = values.text("tableFile");
    if (!table.empty()) request.table = table;
    request.options = style;
    const draw::ThematicResult result = draw::renderThematic(request, rows);

    io.err << render::summarize(result) << " (" << withThousands(result.rows) << " rows)\n";
    reportCodes(result, 0, request.exact, io);
    if (!table.empty()) io.err << "table: " << table << '\n';
    if (output == "-") {
        io.out.write(reinterpret_cast<const char*>(result.bytes.data()),
                     static_cast<std::streamsize>(result.bytes.size()));
    } else {
        io.out << output << '\n';
    }
    return 0;
}

}  // namespace zembra::cli
