#include "core/option_values.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <vector>
#include <zembra/runtime.hpp>

#include "core/text.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

namespace {

std::vector<std::string_view> splitOn(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

}  // namespace

render::Bounds parseBounds(std::string_view text) {
    const auto parts = splitOn(text, ',');
    const std::string shown = "'" + std::string(text) + "'";
    if (parts.size() != 4) {
        throw UsageError("--bounds " + shown +
                         ": expected four numbers minLat,maxLat,minLon,maxLon");
    }
    std::array<double, 4> values{};
    for (size_t i = 0; i < parts.size(); ++i) {
        const auto part = trim(parts[i]);
        if (!isNumericText(part)) {
            throw UsageError("--bounds " + shown + ": '" + std::string(part) + "' is not a number");
        }
        values[i] = parseNumber(part);
        if (!std::isfinite(values[i])) {
            throw UsageError("--bounds " + shown + ": '" + std::string(part) +
                             "' is not a finite number");
        }
    }
    const render::Bounds b{values[0], values[1], values[2], values[3]};
    if (b.minLat < -90 || b.maxLat > 90) {
        throw UsageError("--bounds " + shown + ": latitudes must lie between -90 and 90");
    }
    if (!(b.minLat < b.maxLat)) {
        throw UsageError("--bounds " + shown +
                         ": the minimum latitude must be below the maximum (the order is "
                         "minLat,maxLat,minLon,maxLon)");
    }
    if (!(b.minLon < b.maxLon)) {
        throw UsageError("--bounds " + shown +
                         ": the minimum longitude must be below the maximum (the order is "
                         "minLat,maxLat,minLon,maxLon)");
    }
    return b;
}

std::string formatBounds(const render::Bounds& b) {
    return formatNumber(b.minLat) + "," + formatNumber(b.maxLat) + "," + formatNumber(b.minLon) +
           "," + formatNumber(b.maxLon);
}

std::string checkCount(const std::string& text) {
    const bool digits =
        !text.empty() && text.size() <= 18 &&
        std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
    if (!digits || std::stoull(text) == 0) {
        return "must be a whole number of at least 1, not '" + text + "'";
    }
    return {};
}

}  // namespace zembra::cli
