#include "serve/order.hpp"

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/text.hpp"
#include "core/usage_error.hpp"
#include "core/zip_input.hpp"

namespace zembra::serve {

namespace {

using nlohmann::json;

// The longest text taken as a zip code; longer entries are refused rather than sent to
// the database.
constexpr size_t kMaxCodeLength = 32;

ApiError badRequest(const std::string& message) { return ApiError(400, "bad_request", message); }

void checkCount(size_t count, const Limits& limits) {
    if (count > limits.maxCodes) {
        throw ApiError(413, "too_many_codes",
                       "The request holds " + std::to_string(count) +
                           " zip codes and points; at most " + std::to_string(limits.maxCodes) +
                           " are accepted in one render.");
    }
}

// Blanks around a code dropped, empty ones skipped, repeats removed; a code holding a
// control character or longer than any zip code is refused.
std::vector<std::string> cleanCodes(std::vector<std::string> raw) {
    std::vector<std::string> codes;
    codes.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto code = cli::trim(raw[i]);
        if (code.empty()) continue;
        const bool control = std::any_of(code.begin(), code.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        });
        if (control || code.size() > kMaxCodeLength) {
            throw badRequest("Zip code " + std::to_string(i + 1) +
                             (control ? " holds a control character."
                                      : " is longer than " + std::to_string(kMaxCodeLength) +
                                            " characters."));
        }
        codes.emplace_back(code);
    }
    size_t repeats = 0;
    return cli::distinctCodes(std::move(codes), repeats);
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

render::OutputFormat parseFormat(std::string_view text) {
    if (const auto format = render::formatForExtension(text)) return *format;
    throw badRequest("Unknown picture format \"" + std::string(text.substr(0, 20)) +
                     "\"; use jpg, gif, bmp or png.");
}

RenderOrder orderFromJson(std::string_view body, const Limits& limits) {
    const json parsed = json::parse(body.begin(), body.end(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        throw badRequest("The body must be a JSON object.");
    }
    const json empty = json::array();
    const json& zips = parsed.contains("zips") ? parsed["zips"] : empty;
    const json& points = parsed.contains("points") ? parsed["points"] : empty;
    if (!zips.is_array() || !points.is_array()) {
        throw badRequest("\"zips\" and \"points\" must be arrays.");
    }
    checkCount(zips.size() + points.size(), limits);

    RenderOrder order;
    order.map = textMember(parsed, "map", order.map);
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
    order.zips = cleanCodes(std::move(raw));
    order.points.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i) order.points.push_back(readPoint(points[i], i));
    return order;
}

RenderOrder orderFromCsv(std::string_view csv, std::string_view column, RenderOrder order,
                         const Limits& limits) {
    if (cli::trim(column).empty()) throw badRequest("Name the CSV column that holds the zip codes.");
    std::istringstream in{std::string(csv)};
    std::vector<std::string> codes;
    try {
        codes = cli::readZipColumn(in, column, "the upload");
    } catch (const cli::UsageError& e) {
        throw badRequest(e.what());
    }
    checkCount(codes.size(), limits);
    order.zips = cleanCodes(std::move(codes));
    return order;
}

}  // namespace zembra::serve
