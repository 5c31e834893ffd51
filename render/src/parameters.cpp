#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <zembra/render/density.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/render/pictures.hpp>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

namespace zembra::render {

namespace {

constexpr unsigned kCommands = kRenderCommand | kPointsCommand;
constexpr unsigned kMapCommands = kRenderCommand | kPointsCommand | kLookupCommand;

std::vector<ParameterChoice> formatChoices() {
    std::vector<ParameterChoice> choices;
    for (const imaging::FormatInfo& info : imaging::formats()) {
        choices.push_back({std::string(info.name), std::string(info.label)});
    }
    return choices;
}

// Each row names only what it sets; every other member keeps its default, which GCC's
// warning about designated initializers would otherwise refuse.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
std::vector<Parameter> makeTable() {
    std::vector<Parameter> rows;
    const auto row = [&rows](Parameter p) { rows.push_back(std::move(p)); };
    row({.name = "column",
         .flags = "--column",
         .typeName = "NAME",
         .kind = ParameterKind::Column,
         .help = "CSV column (header name) with the codes",
         .label = "Column holding the zip codes",
         .section = "codes",
         .scope = kRenderCommand | kWebRender});
    row({.name = "sheet",
         .flags = "--sheet",
         .typeName = "NAME",
         .help = "Sheet of an .xls, .xlsx or .ods input to read (default: the first)",
         .label = "Sheet",
         .section = "codes",
         .scope = kRenderCommand | kWebRender});
    row({.name = "map",
         .flags = "-m,--map",
         .typeName = "MAP",
         .kind = ParameterKind::Picture,
         .defaultValue = std::string(kDefaultMapName),
         .help = "Map picture: a path, or a name from Maps/ (usa, alaska, hawaii)",
         .label = "Map",
         .section = "map",
         .scope = kMapCommands | kWebRender});
    row({.name = "bounds",
         .flags = "--bounds",
         .typeName = "minLat,maxLat,minLon,maxLon",
         .kind = ParameterKind::Bounds,
         .help = "Degrees; default: from the map's world file (usa.jgw beside usa.jpg) or, "
                 "without one, its name (usa, alaska or hawaii in it)",
         .scope = kMapCommands});
    row({.name = "images",
         .flags = "--images",
         .typeName = "DIR",
         .help = "Folder holding Maps/ and Overlays/",
         .scope = kMapCommands});
    row({.name = "connection",
         .flags = "--connection",
         .typeName = "TEXT",
         .help = "Zip-code database: ODBC data source or connection string",
         .scope = kMapCommands});
    row({.name = "region",
         .flags = "--region",
         .typeName = "REGION",
         .help = "Draw the map for a place: a state (NJ, \"New Jersey\"), several (NY,NJ,CT), "
                 "fit (the extent of the zip codes) or minLat,maxLat,minLon,maxLon",
         .label = "Or draw a map of a place",
         .section = "map",
         .scope = kRenderCommand | kWebRender | kMapCommand});
    row({.name = "width",
         .flags = "--width",
         .typeName = "PIXELS",
         .kind = ParameterKind::Count,
         .help = "Width of the drawn map in pixels (default " + std::to_string(kDefaultMapWidth) +
                 "; the height follows from the region)",
         .label = "Width of the drawn map",
         .section = "map",
         .minimum = 1,
         .maximum = uint64_t(kMaxMapSide),
         .scope = kRenderCommand | kWebRender | kMapCommand});
    row({.name = "marker",
         .flags = "--marker",
         .typeName = "MARKER",
         .kind = ParameterKind::Picture,
         .help = "Marker picture: a path, or a name from Overlays/ (default: the fifth)",
         .label = "Marker",
         .section = "marker",
         .scope = kCommands | kWebRender});
    row({.name = "output",
         .flags = "-o,--output",
         .typeName = "FILE",
         .help = "Picture to write: " + imaging::formatNames(".") + "; - is stdout (with --format)",
         .scope = kCommands,
         .required = true});
    row({.name = "format",
         .flags = "--format",
         .typeName = "FORMAT",
         .kind = ParameterKind::Format,
         .defaultValue = std::string(imaging::formats().front().name),
         .help = "Picture format: " + imaging::formatNames() + " (default: from the extension)",
         .label = "Format",
         .choices = formatChoices(),
         .scope = kCommands | kWebRender | kClientRender});
    row({.name = "chunkSize",
         .flags = "--chunk-size",
         .typeName = "N",
         .kind = ParameterKind::Count,
         .defaultValue = std::to_string(kDefaultChunkSize),
         .help = "Items per engine call (progress between calls)",
         .minimum = 1,
         .scope = kCommands | kClientRender});
    row({.name = "towns",
         .flags = "--no-towns",
         .kind = ParameterKind::Switch,
         .defaultValue = "true",
         .help = "Codes without an area of their own (post-office boxes) go at their "
                 "post-office town; off, they stay unplaced",
         .label = "Place codes without an area at their town",
         .section = "codes",
         .scope = kRenderCommand | kWebRender | kClientRender});
    row({.name = "exact",
         .flags = "--exact",
         .kind = ParameterKind::Switch,
         .defaultValue = "false",
         .help = "Look codes up only as written: no second try of a ZIP+4 (08873-1234) by its "
                 "first five digits or of 8873 as 08873",
         .label = "Look codes up only as written",
         .section = "codes",
         .scope = kRenderCommand | kWebRender | kClientRender});
    row({.name = "worldFile",
         .flags = "--world-file",
         .kind = ParameterKind::Switch,
         .defaultValue = "false",
         .help = "Write the picture's world file beside it (out.jgw for out.jpg), for GIS "
                 "programs to place it",
         .scope = kCommands});
    // The styles beside the plain markers; their combinations are checked by
    // draw::thematicOptions. A style's setting is refused with the plain markers, stands in
    // the page's Style part and is offered where the styles are unless its row says otherwise.
    const auto styleRow = [&row](Parameter p) {
        if (p.scope == 0) p.scope = kRenderCommand | kWebRender | kClientRender;
        p.styling = true;
        p.section = "style";
        row(std::move(p));
    };
    styleRow({.name = "style",
              .flags = "--style",
              .typeName = "STYLE",
              .kind = ParameterKind::Choice,
              .defaultValue = "markers",
              .help =
                  "markers (the marker picture at each code), category (circles coloured by "
                  "the category column), value (circles sized by the value column or the rows), "
                  "density, states or counties (filled by codes or values)",
              .label = "Draw the codes as",
              .choices = {{"markers", "Markers (the marker picture at each code)"},
                          {"category", "Circles coloured by a category column"},
                          {"value", "Circles sized by a value column (or the rows)"},
                          {"density", "Density"},
                          {"states", "Filled states"},
                          {"counties", "Filled counties"}}});
    styleRow({.name = "category",
              .flags = "--category",
              .typeName = "COLUMN",
              .kind = ParameterKind::Column,
              .help = "CSV column whose values colour the circles",
              .label = "Category column"});
    styleRow({.name = "value",
              .flags = "--value",
              .typeName = "COLUMN",
              .kind = ParameterKind::Column,
              .help = "CSV column of numbers, summed per code: sizes, weights or fills",
              .label = "Value column"});
    styleRow({.name = "bandwidth",
              .flags = "--bandwidth",
              .typeName = "PIXELS",
              .kind = ParameterKind::Count,
              .help =
                  "Density: the kernel's spread in pixels (default: 2.5 times the median spacing "
                  "of neighbouring codes)",
              .label = "Density spread",
              .minimum = uint64_t(kMinBandwidth),
              .maximum = uint64_t(kMaxBandwidth)});
    styleRow({.name = "classes",
              .flags = "--classes",
              .typeName = "quantile|equal",
              .kind = ParameterKind::Choice,
              .defaultValue = "quantile",
              .help = "States, counties: quantile (as many areas per class) or equal (intervals)",
              .label = "Classes",
              .choices = {{"quantile", "Quantiles"}, {"equal", "Equal intervals"}}});
    styleRow({.name = "title",
              .flags = "--title",
              .typeName = "TEXT",
              .help = "Title in a corner of the picture",
              .label = "Title"});
    styleRow({.name = "subtitle",
              .flags = "--subtitle",
              .typeName = "TEXT",
              .help = "Line under the title",
              .label = "Subtitle"});
    styleRow({.name = "legend",
              .flags = "--no-legend",
              .kind = ParameterKind::Switch,
              .defaultValue = "true",
              .help = "The legend of the colours, sizes or classes in the picture; off, none",
              .label = "Legend"});
    // The numbers behind a style: a file on the command line, a member of the server's answer.
    styleRow({.name = "tableFile",
              .flags = "--table",
              .typeName = "FILE.csv",
              .help = "Write the numbers per area (fips,abbr,name,codes,rows,sum) or per "
                      "category (category,codes,rows,sum) as CSV",
              .scope = kRenderCommand});
    styleRow({.name = "table",
              .kind = ParameterKind::Switch,
              .defaultValue = "false",
              .help = "Answer with the numbers per area or per category as CSV text",
              .label = "The numbers as a table (CSV) to download",
              .scope = kWebRender});
    return rows;
}
#pragma GCC diagnostic pop

std::vector<std::string_view> splitOn(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The bounds of `text`, or the problem with it.
std::string boundsProblem(std::string_view text, Bounds& b) {
    const auto parts = splitOn(text, ',');
    if (parts.size() != 4) return "expected four numbers minLat,maxLat,minLon,maxLon";
    std::array<double, 4> values{};
    for (size_t i = 0; i < parts.size(); ++i) {
        const auto part = trimBlanks(parts[i]);
        const std::string quoted = std::string("'").append(part) + "'";
        if (!isNumericText(part)) return quoted + " is not a number";
        try {
            values[i] = parseNumber(part);
        } catch (const Error&) {  // beyond a double's range
            values[i] = HUGE_VAL;
        }
        if (!std::isfinite(values[i])) return quoted + " is not a finite number";
    }
    b = Bounds{values[0], values[1], values[2], values[3]};
    if (b.minLat < -90 || b.maxLat > 90) return "latitudes must lie between -90 and 90";
    if (!(b.minLat < b.maxLat)) {
        return "the minimum latitude must be below the maximum (the order is "
               "minLat,maxLat,minLon,maxLon)";
    }
    if (!(b.minLon < b.maxLon)) {
        return "the minimum longitude must be below the maximum (the order is "
               "minLat,maxLat,minLon,maxLon)";
    }
    if (b.maxLon - b.minLon > 360) return "the longitudes must lie at most 360 degrees apart";
    return {};
}

std::optional<bool> readSwitch(std::string_view text) {
    const std::string lower = lowerAscii(trimBlanks(text));
    if (lower == "true" || lower == "1" || lower == "yes" || lower == "on") return true;
    if (lower == "false" || lower == "0" || lower == "no" || lower == "off") return false;
    return std::nullopt;
}

// "a, b or c"
std::string choiceNames(const Parameter& p) {
    std::string out;
    for (size_t i = 0; i < p.choices.size(); ++i) {
        if (i > 0) out += i + 1 == p.choices.size() ? " or " : ", ";
        out += p.choices[i].value;
    }
    return out;
}

void check(const Parameter& p, std::string_view text) {
    if (std::string problem = checkParameter(p, text); !problem.empty()) {
        throw ParameterError(p, std::string(text), std::move(problem));
    }
}

}  // namespace

std::string Parameter::longFlag() const {
    const auto at = flags.rfind(',');
    return at == std::string::npos ? flags : flags.substr(at + 1);
}

std::span<const Parameter> renderParameters() {
    static const std::vector<Parameter> table = makeTable();
    return table;
}

const Parameter* findParameter(std::string_view name) noexcept {
    for (const Parameter& p : renderParameters()) {
        if (p.name == name) return &p;
    }
    return nullptr;
}

const Parameter& parameter(std::string_view name) {
    if (const Parameter* p = findParameter(name)) return *p;
    throw Error::standard(err::kInvalidArgument, "Zembra",
                          "no render parameter '" + std::string(name) + "'");
}

std::string checkParameter(const Parameter& p, std::string_view text) {
    switch (p.kind) {
        case ParameterKind::Format:
            if (text.starts_with('.') || imaging::formatForExtension(text) == nullptr) {
                return "use " + imaging::formatNames();
            }
            return {};
        case ParameterKind::Count: {
            const bool digits = !text.empty() && text.size() <= 18 &&
                                std::all_of(text.begin(), text.end(),
                                            [](unsigned char c) { return std::isdigit(c) != 0; });
            const uint64_t value = digits ? std::stoull(std::string(text)) : 0;
            if (!digits || value < p.minimum || value > p.maximum) {
                std::string range = "at least " + std::to_string(p.minimum);
                if (p.maximum != UINT64_MAX) range += " and at most " + std::to_string(p.maximum);
                return "must be a whole number of " + range + ", not '" + std::string(text) + "'";
            }
            return {};
        }
        case ParameterKind::Bounds: {
            Bounds ignored;
            return boundsProblem(text, ignored);
        }
        case ParameterKind::Switch:
            return readSwitch(text) ? std::string() : "must be true or false";
        case ParameterKind::Picture:
            return text.empty() ? "names no picture" : std::string();
        case ParameterKind::Choice:
            for (const ParameterChoice& c : p.choices) {
                if (c.value == text) return {};
            }
            return "use " + choiceNames(p);
        case ParameterKind::Text:
        case ParameterKind::Column:
            return {};
    }
    return {};
}

ParameterError::ParameterError(const Parameter& p, std::string text, std::string problem)
    : std::runtime_error(p.name + " '" + text + "': " + problem),
      parameter_(&p),
      text_(std::move(text)),
      problem_(std::move(problem)) {}

std::string ParameterError::message(std::string_view spelling) const {
    return std::string(spelling) + " '" + text_ + "': " + problem_;
}

void ParameterValues::set(std::string_view name, std::string text) {
    given_.insert_or_assign(std::string(name), std::move(text));
}

bool ParameterValues::given(std::string_view name) const { return given_.contains(name); }

std::string ParameterValues::text(std::string_view name) const {
    if (const auto it = given_.find(name); it != given_.end()) return it->second;
    return parameter(name).defaultValue;
}

std::string& ParameterValues::slot(std::string_view name) {
    return given_.try_emplace(std::string(name)).first->second;
}

OutputFormat formatValue(const Parameter& p, std::string_view text) {
    check(p, text);
    return imaging::formatForExtension(text)->format;
}

uint64_t countValue(const Parameter& p, std::string_view text) {
    check(p, text);
    return std::stoull(std::string(text));
}

bool switchValue(const Parameter& p, std::string_view text) {
    check(p, text);
    return *readSwitch(text);
}

size_t choiceValue(const Parameter& p, std::string_view text) {
    check(p, text);
    size_t at = 0;
    while (p.choices[at].value != text) ++at;
    return at;
}

Bounds boundsValue(const Parameter& p, std::string_view text) {
    std::string problem;
    if (const auto b = readBounds(text, &problem)) return *b;
    throw ParameterError(p, std::string(text), std::move(problem));
}

std::optional<Bounds> readBounds(std::string_view text, std::string* problem) {
    Bounds b;
    std::string found = boundsProblem(text, b);
    if (found.empty()) return b;
    if (problem) *problem = std::move(found);
    return std::nullopt;
}

std::string boundsText(const Bounds& b) {
    return formatNumber(b.minLat) + "," + formatNumber(b.maxLat) + "," + formatNumber(b.minLon) +
           "," + formatNumber(b.maxLon);
}

void applyParameters(const ParameterValues& values, RenderRequest& request) {
    if (values.given("bounds")) {
        request.bounds = boundsValue(parameter("bounds"), values.text("bounds"));
    }
    request.format = formatValue(parameter("format"), values.text("format"));
    request.chunkSize = countValue(parameter("chunkSize"), values.text("chunkSize"));
    request.towns = switchValue(parameter("towns"), values.text("towns"));
    request.exact = switchValue(parameter("exact"), values.text("exact"));
    request.worldFile = switchValue(parameter("worldFile"), values.text("worldFile"));
}

}  // namespace zembra::render
