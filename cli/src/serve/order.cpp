#include "serve/order.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <zembra/render/csv.hpp>
#include <zembra/render/sheets.hpp>
#include <zembra/runtime.hpp>

#include "core/text.hpp"
#include "core/zip_input.hpp"

namespace zembra::serve {

namespace {

using nlohmann::json;

constexpr std::string_view kCodesAndPoints = "zip codes and points";

// Blanks around a code dropped, empty ones skipped, repeats removed. A code that cannot
// be a zip code (a control character in it) goes on to the render, which reports it not
// found as every front end does.
std::vector<std::string> cleanCodes(const std::vector<std::string>& raw) {
    cli::CodeList codes;
    for (const auto& text : raw) {
        if (const auto code = cli::trim(text); !code.empty()) codes.add(std::string(code));
    }
    return codes.take();
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

// The web's render parameters of a JSON body: a switch may be a boolean and a count a
// whole number; anything else is a text.
render::ParameterValues webValues(const json& body) {
    render::ParameterValues values;
    for (const render::Parameter& p : render::renderParameters()) {
        if (!p.offeredIn(render::kWebRender)) continue;
        const auto it = body.find(p.name);
        if (it == body.end() || it->is_null()) continue;
        if (p.kind == render::ParameterKind::Switch && it->is_boolean()) {
            values.set(p.name, it->get<bool>() ? "true" : "false");
        } else if (p.kind == render::ParameterKind::Count && it->is_number_integer()) {
            values.set(p.name, std::to_string(it->get<int64_t>()));
        } else if (p.kind == render::ParameterKind::Count && it->is_number()) {
            throw badRequest("\"" + p.name + "\" must be a whole number.");
        } else if (it->is_string()) {
            values.set(p.name, it->get<std::string>());
        } else {
            throw badRequest("\"" + p.name + "\" must be a text.");
        }
    }
    return values;
}

// The order's typed settings, checked by the table; its message names the member.
void settle(RenderOrder& order) {
    try {
        order.map = order.values.text("map");
        order.mapGiven = order.values.given("map");
        order.region = order.values.text("region");
        if (order.values.given("width")) {
            order.width = static_cast<int>(
                render::countValue(render::parameter("width"), order.values.text("width")));
        }
        order.marker = order.values.text("marker");
        order.format =
            render::formatValue(render::parameter("format"), order.values.text("format"));
        render::RenderRequest probe;
        render::applyParameters(order.values, probe);
    } catch (const render::ParameterError& e) {
        throw badRequest(e.message("\"" + e.parameter().name + "\"") + ".");
    }
}

render::LatLon readPoint(const json& item, size_t index) {
    const auto where = "Point " + std::to_string(index + 1);
    if (!item.is_object() || !item.contains("lat") || !item.contains("lon") ||
        !item["lat"].is_number() || !item["lon"].is_number()) {
        throw badRequest(where + " must be {\"lat\": number, \"lon\": number}.");
    }
    const render::LatLon p{item["lat"].get<double>(), item["lon"].get<double>()};
    if (!std::isfinite(p.lat) || !std::isfinite(p.lon) || std::abs(p.lat) > 90 ||
        std::abs(p.lon) > 180) {
        throw badRequest(where + " lies outside -90..90 latitude or -180..180 longitude.");
    }
    return p;
}

}  // namespace

ApiError badRequest(const std::string& message) { return ApiError(400, "bad_request", message); }

void checkCount(size_t count, const Limits& limits, std::string_view what) {
    if (count > limits.maxCodes) {
        throw ApiError(413, "too_many_codes",
                       "The request holds " + std::to_string(count) + " " + std::string(what) +
                           "; at most " + std::to_string(limits.maxCodes) +
                           " are accepted in one render.",
                       limits.maxCodes);
    }
}

MemoryFile::MemoryFile(std::string_view bytes) : fd_(memfd_create("zembra-upload", MFD_CLOEXEC)) {
    if (fd_ < 0)
        throw Error::standard(err::kInvalidArgument, "zembra serve", "memfd_create failed");
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            throw Error::standard(err::kInvalidArgument, "zembra serve", "upload not buffered");
        done += static_cast<size_t>(n);
    }
    ::lseek(fd_, 0, SEEK_SET);
}

MemoryFile::~MemoryFile() { ::close(fd_); }

render::OutputFormat parseFormat(std::string_view text) {
    try {
        return render::formatValue(render::parameter("format"), text);
    } catch (const render::ParameterError& e) {
        throw badRequest(e.message("\"format\"") + ".");
    }
}

int parseWidth(std::string_view text) {
    if (text.empty()) return 0;
    try {
        return static_cast<int>(render::countValue(render::parameter("width"), text));
    } catch (const render::ParameterError& e) {
        throw badRequest(e.message("\"width\"") + ".");
    }
}

RenderOrder orderFromJson(std::string_view body, const Limits& limits) {
    const json parsed = json::parse(body.begin(), body.end(), nullptr, false);
    if (parsed.is_discarded()) {
        const auto first = body.find_first_not_of(" \t\r\n");
        throw badRequest(first != std::string_view::npos && body[first] != '{' && body[first] != '['
                             ? "The body is not JSON; send a JSON object, or upload a CSV file "
                               "as multipart/form-data."
                             : "The body is not well-formed JSON.");
    }
    if (!parsed.is_object()) throw badRequest("The body must be a JSON object.");
    const json empty = json::array();
    const json& zips = parsed.contains("zips") ? parsed["zips"] : empty;
    const json& points = parsed.contains("points") ? parsed["points"] : empty;
    if (!zips.is_array() || !points.is_array()) {
        throw badRequest("\"zips\" and \"points\" must be arrays.");
    }
    checkCount(zips.size() + points.size(), limits, kCodesAndPoints);

    RenderOrder order;
    order.values = webValues(parsed);
    settle(order);
    std::vector<std::string> raw;
    raw.reserve(zips.size());
    for (size_t i = 0; i < zips.size(); ++i) {
        if (!zips[i].is_string()) {
            throw badRequest("Zip code " + std::to_string(i + 1) +
                             " must be a text (\"08873\"): a number loses its leading zeros.");
        }
        raw.push_back(zips[i].get<std::string>());
    }
    order.zips = cleanCodes(raw);
    order.points.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i) order.points.push_back(readPoint(points[i], i));
    return order;
}

RenderOrder orderFromFields(const std::function<std::string(const std::string&)>& field) {
    RenderOrder order;
    for (const render::Parameter& p : render::renderParameters()) {
        if (!p.offeredIn(render::kWebRender)) continue;
        if (std::string text = field(p.name); !text.empty())
            order.values.set(p.name, std::move(text));
    }
    settle(order);
    return order;
}

std::unique_ptr<render::RecordSource> openUpload(const MemoryFile& file, const std::string& sheet,
                                                 const render::CsvOptions& options) {
    const std::string path = file.path();
    if (render::isWorkbook(path)) {
        return std::make_unique<render::SheetReader>(path, std::string(cli::trim(sheet)),
                                                     "the upload");
    }
    if (!cli::trim(sheet).empty()) {
        throw badRequest(
            "\"sheet\" names a sheet of a workbook (.xls, .xlsx, .ods); the upload "
            "is text.");
    }
    return std::make_unique<render::CsvReader>(file.fd(), "the upload", "Zembra", options);
}

std::string readAsOf(const render::RecordSource& in) {
    if (const auto* csv = dynamic_cast<const render::CsvReader*>(&in)) {
        return std::string(render::encodingName(csv->encoding())) + ", " +
               render::separatorName(csv->separator());
    }
    if (const auto* sheet = dynamic_cast<const render::SheetReader*>(&in)) {
        return "sheet \"" + sheet->sheet() + "\"";
    }
    return {};
}

UploadColumns uploadColumns(std::string_view upload, const std::string& sheet) {
    const MemoryFile file(upload);
    UploadColumns out;
    try {
        render::CsvOptions options;
        options.separator = 0;  // as orderFromCsv reads it
        options.crLineEnds = true;
        const auto reader = openUpload(file, sheet, options);
        std::vector<std::string> fields;
        if (!reader->next(fields)) throw badRequest("The upload is empty.");
        for (const auto& f : fields) {
            if (const auto name = cli::trim(f); !name.empty()) out.columns.emplace_back(name);
        }
        if (reader->headed()) out.sheets = render::workbookSheets(file.path());
        out.readAs = readAsOf(*reader);
    } catch (const Error& e) {
        throw badRequest(e.description());
    }
    return out;
}

RenderOrder orderFromCsv(std::string_view csv, std::string_view column, RenderOrder order,
                         const Limits& limits) {
    if (cli::trim(column).empty())
        throw badRequest("Name the CSV column that holds the zip codes.");
    const MemoryFile file(csv);
    std::vector<std::string> codes;
    try {
        render::CsvOptions options;
        options.separator = 0;  // comma, semicolon, tab or pipe, from the header line
        options.crLineEnds = true;
        const auto reader = openUpload(file, order.values.text("sheet"), options);
        std::vector<std::string> fields;
        if (!reader->next(fields)) throw badRequest("The upload is empty.");
        order.readAs = readAsOf(*reader);
        const auto index = render::findField(fields, column, render::NameMatch::IgnoreCase);
        if (!index) {
            throw badRequest("The upload has no column \"" + std::string(cli::trim(column)) +
                             "\"; its columns are: " + joinNames(fields) + " (read as " +
                             order.readAs + ").");
        }
        while (reader->next(fields)) {
            if (*index >= fields.size() || cli::trim(fields[*index]).empty()) continue;
            codes.push_back(std::move(fields[*index]));
            checkCount(codes.size(), limits, kCodesAndPoints);
        }
    } catch (const Error& e) {
        throw badRequest(e.description());
    }
    order.zips = cleanCodes(codes);
    return order;
}

}  // namespace zembra::serve
