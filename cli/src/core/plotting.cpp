#include "core/plotting.hpp"

#include <algorithm>

namespace zembra::cli {

Object createMap(const MapSettings& settings) {
    Object map = createObject("Zembra.CMap");
    map.put("InputMapFile", Variant(settings.map.string()));
    if (!settings.marker.empty()) map.put("InputOverlayFile", Variant(settings.marker.string()));
    map.put("MinLat", Variant(settings.bounds.minLat));
    map.put("MaxLat", Variant(settings.bounds.maxLat));
    map.put("MinLon", Variant(settings.bounds.minLon));
    map.put("MaxLon", Variant(settings.bounds.maxLon));
    if (!settings.connection.empty()) map.put("ConnectionString", Variant(settings.connection));
    return map;
}

std::vector<std::string> plotZips(Object& map, const std::vector<std::string>& codes,
                                  size_t chunkSize, const ProgressFn& progress) {
    chunkSize = std::max<size_t>(chunkSize, 1);
    std::vector<std::string> unmatched;
    for (size_t start = 0; start < codes.size(); start += chunkSize) {
        const size_t end = std::min(codes.size(), start + chunkSize);
        std::vector<Variant> piece;
        piece.reserve(end - start);
        for (size_t i = start; i < end; ++i) piece.emplace_back(codes[i]);
        std::vector<Variant> args{Variant(std::move(piece))};
        map.call("MapZips", args);
        const Variant missing = map.get("UnmatchedZips");
        for (const auto& code : missing.elements()) unmatched.push_back(code.toString());
        if (progress) progress(end);
    }
    return unmatched;
}

void plotPoints(Object& map, const std::vector<Point>& points, size_t chunkSize,
                const ProgressFn& progress) {
    chunkSize = std::max<size_t>(chunkSize, 1);
    for (size_t start = 0; start < points.size(); start += chunkSize) {
        const size_t end = std::min(points.size(), start + chunkSize);
        std::vector<Variant> lats;
        std::vector<Variant> lons;
        lats.reserve(end - start);
        lons.reserve(end - start);
        for (size_t i = start; i < end; ++i) {
            lats.emplace_back(points[i].lat);
            lons.emplace_back(points[i].lon);
        }
        std::vector<Variant> args{Variant(std::move(lats)), Variant(std::move(lons))};
        map.call("MapCoordinates", args);
        if (progress) progress(end);
    }
}

void saveMap(Object& map, const std::string& imageType, const std::filesystem::path& path) {
    map.put("OutputImageType", Variant(imageType));
    std::vector<Variant> args{Variant(path.string())};
    map.call("SaveMap", args);
}

}  // namespace zembra::cli
