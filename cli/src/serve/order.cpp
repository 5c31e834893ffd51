#include "serve/order.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <zembra/draw/geo.hpp>
#include <zembra/render/csv.hpp>
#include <zembra/runtime.hpp>

#include "core/text.hpp"
#include "core/zip_input.hpp"

namespace zembra::serve {

namespace {

using nlohmann::json;

ApiError badRequest(const std::string& message) { return ApiError(400, "bad_request", message); }

void checkCount(size_t count, const Limits& limits) {
    if (count > limits.maxCodes) {
        throw ApiError(413, "too_many_codes",
                       "The request holds " + std::to_string(count) +
                           " zip codes and points; at most " + std::to_string(limits.maxCodes) +
                           " are accepted in one render.",
                       limits.maxCodes);
    }
}

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

std::string textMember(const json& body, const char* name, std::string fallback) {
    const auto it = body.find(name);
    if (it == body.end() || it->is_null()) return fallback;
    if (!it->is_string()) throw badRequest(std::string("\"") + name + "\" must be a text.");
    return it->get<std::string>();
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
    if (const auto format = render::formatForExtension(text)) return *format;
    throw badRequest("Unknown picture format \"" + std::string(text.substr(0, 20)) +
                     "\"; use jpg, gif, bmp or png.");
}

int parseWidth(std::string_view text) {
    if (text.empty()) return 0;
    int width = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), width);
    if (ec != std::errc() || end != text.data() + text.size() || width < 1 ||
        width > draw::kMaxSide)
        throw badRequest("\"width\" must be a whole number of pixels from 1 to " +
                         std::to_string(draw::kMaxSide) + ".");
    return width;
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
    checkCount(zips.size() + points.size(), limits);

    RenderOrder order;
    order.map = textMember(parsed, "map", order.map);
    order.mapGiven = parsed.contains("map") && !parsed["map"].is_null();
    order.region = textMember(parsed, "region", "");
    if (const auto w = parsed.find("width"); w != parsed.end() && !w->is_null()) {
        if (!w->is_number_integer())
            throw badRequest("\"width\" must be a whole number of pixels.");
        order.width = parseWidth(std::to_string(w->get<int64_t>()));
    }
    order.marker = textMember(parsed, "marker", "");
    order.format = parseFormat(textMember(parsed, "format", "jpg"));
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
        render::CsvReader reader(file.fd(), "the upload", "Zembra", options);
        std::vector<std::string> fields;
        if (!reader.next(fields)) throw badRequest("The upload is empty.");
        order.readAs = std::string(render::encodingName(reader.encoding())) + ", " +
                       render::separatorName(reader.separator());
        const auto index = render::findField(fields, column, render::NameMatch::IgnoreCase);
        if (!index) {
            throw badRequest("The upload has no column \"" + std::string(cli::trim(column)) +
                             "\"; its columns are: " + joinNames(fields) + " (read as " +
                             order.readAs + ").");
        }
        while (reader.next(fields)) {
            if (*index >= fields.size() || cli::trim(fields[*index]).empty()) continue;
            codes.push_back(std::move(fields[*index]));
            checkCount(codes.size(), limits);
        }
    } catch (const Error& e) {
        throw badRequest(e.description());
    }
    order.zips = cleanCodes(codes);
    return order;
}

}  // namespace zembra::serve
