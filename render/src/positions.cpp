#include <unordered_map>
#include <zembra/dataaccess.hpp>
#include <zembra/render/positions.hpp>
#include <zembra/runtime.hpp>

#include "engine_members.hpp"

namespace zembra::render {

namespace {

std::optional<double> numberOf(const Variant& v) {
    if (v.isNull()) return std::nullopt;
    try {
        return v.toDouble();
    } catch (const Error&) {
        return std::nullopt;
    }
}

// Fills the positions still missing from one table read whole: one query instead of
// one per code, which matters for lists of tens of thousands.
void fill(db::Connection& db, const std::string& sql, const std::vector<std::string>& codes,
          std::vector<std::optional<LatLon>>& out) {
    std::unordered_map<std::string, size_t> wanted;
    for (size_t i = 0; i < codes.size(); ++i)
        if (!out[i]) wanted.emplace(codes[i], i);
    if (wanted.empty()) return;
    for (db::Recordset rows = db.execute(sql); !rows.eof(); rows.moveNext()) {
        const Variant zip = rows.field(0);
        if (zip.isNull()) continue;
        const auto found = wanted.find(zip.toString());
        if (found == wanted.end()) continue;
        const auto lat = numberOf(rows.field(1));
        const auto lon = numberOf(rows.field(2));
        if (lat && lon) out[found->second] = LatLon{*lat, *lon};
    }
}

}  // namespace

std::vector<std::optional<LatLon>> positionsOf(const std::string& connection,
                                               const std::vector<std::string>& codes, bool towns) {
    // The engine names the table, its columns and the default database.
    Object engineObject = createObject(engine::kProgId);
    if (!connection.empty()) engineObject.put(engine::kConnectionString, Variant(connection));
    const std::string zip = engineObject.get(engine::kZipField).toString();
    const std::string lat = engineObject.get(engine::kLatField).toString();
    const std::string lon = engineObject.get(engine::kLonField).toString();
    const std::string table = engineObject.get(engine::kZipTable).toString();

    std::vector<std::optional<LatLon>> out(codes.size());
    db::Connection db;
    db.open(engineObject.get(engine::kConnectionString).toString());
    fill(db, "SELECT " + zip + ", " + lat + ", " + lon + " FROM " + table, codes, out);
    if (towns) {
        try {
            db.execute("SELECT zipcode, latitude, Longitude FROM zip_towns WHERE 1 = 0");
        } catch (const Error&) {
            return out;  // a zip-code table of its own, without town positions
        }
        fill(db, "SELECT zipcode, latitude, Longitude FROM zip_towns", codes, out);
    }
    return out;
}

}  // namespace zembra::render
