#include "core/bounds.hpp"

#include <array>
#include <cmath>
#include <filesystem>
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

Bounds parseBounds(std::string_view text) {
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
    const Bounds b{values[0], values[1], values[2], values[3]};
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

std::optional<Bounds> boundsForMapName(std::string_view fileName) {
    struct Entry {
        std::string_view key;
        Bounds bounds;
    };
    // The client's table, in its order: "usa" wins over the others in a name holding several.
    static constexpr std::array<Entry, 3> kTable{{
        {"usa", {24.0, 50.0, -125.0, -66.44}},
        {"alaska", {51.0, 77.0, -180.0, -125.0}},
        {"hawaii", {18.5, 22.5, -161.0, -154.0}},
    }};
    const std::string name = toLower(std::filesystem::path(fileName).filename().string());
    for (const auto& entry : kTable) {
        if (name.find(entry.key) != std::string::npos) return entry.bounds;
    }
    return std::nullopt;
}

std::string formatBounds(const Bounds& b) {
    return formatNumber(b.minLat) + "," + formatNumber(b.maxLat) + "," + formatNumber(b.minLon) +
           "," + formatNumber(b.maxLon);
}

}  // namespace zembra::cli
