// Zip codes to positions: one connection per call, one query per code, the first
// row of each answer wins; then the positions are plotted like coordinates.
#include <zembra/dataaccess.hpp>

#include "cmap.hpp"

namespace zembra::engine {

db::Connection CMap::openZipConnection() {
    db::Connection connection;
    connection.open(connectionString());
    return connection;
}

namespace {
// The zip code as a SQL text literal: single quotes doubled, so a code can never end
// the literal early.
std::string quoted(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    out += '\'';
    return out;
}
}  // namespace

bool CMap::lookupZip(const std::string& zip, db::Connection& connection, double& lat, double& lon) {
    const std::string sql = "select " + lonField() + ", " + latField() + " from " + zipTable() +
                            " where " + zipField() + " = " + quoted(zip);
    db::Recordset rows = connection.execute(sql);
    lat = 0;
    lon = 0;
    const bool found = !rows.eof();
    if (found) {
        lat = rows.field(latField()).toDouble();
        lon = rows.field(lonField()).toDouble();
    }
    rows.close();
    return found;
}

bool CMap::mapZips(const Variant& zips) {
    const int32_t upper = zips.upperBound();
    if (upper < 0) throw Error::standard(err::kSubscript, kRuntimeSource);
    const auto count = static_cast<size_t>(upper) + 1;
    // Sized by the elements the array holds, not by its upper bound: with a lower bound
    // above 0 the first lookup fails at index 0, after the connection was opened.
    const size_t size = zips.lowerBound() <= 0 ? count : 0;
    std::vector<Variant> lats;
    std::vector<Variant> lons;
    lats.reserve(size);
    lons.reserve(size);
    std::vector<std::string> unmatched;

    db::Connection connection = openZipConnection();
    for (size_t i = 0; i < count; ++i) {
        const std::string zip = zips.at(static_cast<int32_t>(i)).toString();
        double lat = 0;
        double lon = 0;
        if (!lookupZip(zip, connection, lat, lon)) unmatched.push_back(zip);
        lons.emplace_back(lon);
        lats.emplace_back(lat);
    }
    connection.close();
    unmatchedZips_ = std::move(unmatched);

    return mapCoordinates(Variant(std::move(lats)), Variant(std::move(lons)));
}

bool CMap::mapZip(const std::string& zip) {
    return mapZips(Variant(std::vector<Variant>{Variant(zip)}));
}

Variant CMap::unmatchedZips() const {
    std::vector<Variant> texts;
    texts.reserve(unmatchedZips_.size());
    for (const std::string& zip : unmatchedZips_) texts.emplace_back(zip);
    return Variant::array(std::move(texts), 0);
}

}  // namespace zembra::engine
