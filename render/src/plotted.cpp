#include <algorithm>
#include <cmath>
#include <unordered_set>
#include <zembra/dataaccess.hpp>
#include <zembra/render/plotted.hpp>
#include <zembra/runtime.hpp>

#include "engine_members.hpp"
#include "towns.hpp"

namespace zembra::render {

namespace {

std::string sqlNumber(double value) { return formatNumber(value); }

// The position of a pixel, by the engine's own projection.
LatLon positionOf(Object& object, int32_t x, int32_t y) {
    std::vector<Variant> args{Variant(x), Variant(y), Variant(), Variant()};
    object.call(engine::kGetLatLonFromMapPoint, args);
    return {args[2].toDouble(), args[3].toDouble()};
}

}  // namespace

std::optional<PlottedCode> plottedCodeAt(const LookupRequest& request, int markerWidth,
                                         int markerHeight, const std::vector<std::string>& codes) {
    if (codes.empty()) return std::nullopt;
    Object object = createObject(engine::kProgId);
    object.put(engine::kInputMapFile, Variant(request.map.string()));
    object.put(engine::kMinLat, Variant(request.bounds.minLat));
    object.put(engine::kMaxLat, Variant(request.bounds.maxLat));
    object.put(engine::kMinLon, Variant(request.bounds.minLon));
    object.put(engine::kMaxLon, Variant(request.bounds.maxLon));
    if (!request.connection.empty())
        object.put(engine::kConnectionString, Variant(request.connection));

    // The geographic box of every marker centre whose marker could cover the pixel (a pixel
    // of slack for the rounding of positions to pixels).
    const int32_t halfW = markerWidth / 2 + 1;
    const int32_t halfH = markerHeight / 2 + 1;
    const LatLon topLeft = positionOf(object, request.x - halfW, request.y - halfH);
    const LatLon bottomRight = positionOf(object, request.x + halfW, request.y + halfH);
    const LatLon click = positionOf(object, request.x, request.y);
    const double minLat = std::min(topLeft.lat, bottomRight.lat);
    const double maxLat = std::max(topLeft.lat, bottomRight.lat);
    const double minLon = std::min(topLeft.lon, bottomRight.lon);
    const double maxLon = std::max(topLeft.lon, bottomRight.lon);
    // Degrees per pixel, to measure distances in pixels.
    const double perX = (maxLon - minLon) / (2.0 * halfW);
    const double perY = (maxLat - minLat) / (2.0 * halfH);

    const std::unordered_set<std::string> plotted(codes.begin(), codes.end());
    const std::string connection = object.get(engine::kConnectionString).toString();
    const std::string table = object.get(engine::kZipTable).toString();
    const std::string zipField = object.get(engine::kZipField).toString();
    const std::string latField = object.get(engine::kLatField).toString();
    const std::string lonField = object.get(engine::kLonField).toString();

    std::optional<PlottedCode> best;
    double bestDistance = 0;
    const auto consider = [&](const std::string& zip, LatLon at) {
        if (!plotted.count(zip)) return;
        const double dx = perX > 0 ? (at.lon - click.lon) / perX : 0;
        const double dy = perY > 0 ? (at.lat - click.lat) / perY : 0;
        if (std::abs(dx) > markerWidth / 2.0 + 1 || std::abs(dy) > markerHeight / 2.0 + 1) return;
        const double distance = std::hypot(dx, dy);
        if (!best || distance < bestDistance) {
            best = PlottedCode{zip, at, {}, {}};
            bestDistance = distance;
        }
    };
    const std::string box = " BETWEEN " + sqlNumber(minLat) + " AND " + sqlNumber(maxLat);
    const std::string lonBox = " BETWEEN " + sqlNumber(minLon) + " AND " + sqlNumber(maxLon);
    db::Connection db;
    db.open(connection);
    {
        auto rows = db.execute("SELECT " + zipField + ", " + latField + ", " + lonField + " FROM " +
                               table + " WHERE " + latField + box + " AND " + lonField + lonBox);
        for (; !rows.eof(); rows.moveNext()) {
            if (rows.field(1).isNull() || rows.field(2).isNull()) continue;
            consider(rows.field(0).toString(),
                     {rows.field(1).toDouble(), rows.field(2).toDouble()});
        }
    }
    // Codes plotted at their post-office town; a table without towns has none.
    try {
        auto rows = db.execute("SELECT zipcode, latitude, Longitude FROM zip_towns WHERE latitude" +
                               box + " AND Longitude" + lonBox);
        for (; !rows.eof(); rows.moveNext()) {
            if (rows.field(1).isNull() || rows.field(2).isNull()) continue;
            consider(rows.field(0).toString(),
                     {rows.field(1).toDouble(), rows.field(2).toDouble()});
        }
    } catch (const Error&) {
    }
    db.close();
    if (best)
        std::tie(best->city, best->state) =
            towns::cityAndState(connection, table, zipField, best->zip);
    return best;
}

}  // namespace zembra::render
