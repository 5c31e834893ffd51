// Pixel to position, and pixel to the nearest zip code in the table.
#include <cmath>
#include <optional>
#include <zembra/dataaccess.hpp>

#include "cmap.hpp"
#include "distance.hpp"

namespace zembra::engine {

namespace {

// Rounds to 6 decimal places, a tie going to the even sixth digit.
double roundTo6(double value) {
    const double scaled = value * 1e6;
    // Beyond 2^52 a double has no fractional digits left to round.
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 4503599627370496.0) return value;
    return roundHalfEven(scaled) / 1e6;
}

std::string boxQuery(const std::string& table, const std::string& latField,
                     const std::string& lonField, const std::array<double, 4>& box) {
    return "SELECT * FROM " + table + " WHERE " + "(" + latField + " Between " +
           formatNumber(box[0]) + " And " + formatNumber(box[1]) + ") And " + "(" + lonField +
           " Between " + formatNumber(box[2]) + " And " + formatNumber(box[3]) + ") ";
}

}  // namespace

void CMap::getLatLonFromMapPoint(int32_t x, int32_t y, Variant& lat, Variant& lon) {
    lat = Variant(roundTo6(yToLat(y)));
    lon = Variant(roundTo6(xToLon(x)));
}

Variant CMap::getZipCodeFromMapPoint(int32_t x, int32_t y) {
    const double lat = yToLat(y);
    const double lon = xToLon(x);
    db::Connection connection = openZipConnection();

    db::Recordset rows =
        connection.execute(boxQuery(zipTable(), latField(), lonField(), getSearchBox(lat, lon, 5)));
    if (rows.eof()) {
        rows.close();
        rows = connection.execute(
            boxQuery(zipTable(), latField(), lonField(), getSearchBox(lat, lon, 10)));
    }

    // An Empty distance (nullopt) compares as 0: it replaces any best, and a best that
    // is Empty is replaced by the next row in turn. Ties keep the first row.
    Variant result = Variant::null();
    std::optional<double> best;
    const std::string& latName = latField();
    const std::string& lonName = lonField();
    const std::string& zipName = zipField();
    while (!rows.eof()) {
        const std::optional<double> d =
            getDistance(lat, lon, rows.field(latName).toDouble(), rows.field(lonName).toDouble());
        if (!best || d.value_or(0.0) < *best) {
            result = rows.field(zipName);
            best = d;
        }
        rows.moveNext();
    }
    rows.close();
    connection.close();
    return result;
}

}  // namespace zembra::engine
