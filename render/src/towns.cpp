#include "towns.hpp"

#include <zembra/dataaccess.hpp>

namespace zembra::render::towns {

namespace {

// A text literal with quotes doubled, as the engine writes zip codes into its SQL.
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

std::string textOf(const Variant& value) {
    return value.isNull() ? std::string() : value.toString();
}

}  // namespace

std::optional<std::vector<TownPosition>> lookUp(const std::string& connection,
                                                const std::vector<std::string>& codes) {
    db::Connection db;
    db.open(connection);
    try {
        db.execute("SELECT zipcode, latitude, Longitude FROM zip_towns WHERE 1 = 0");
    } catch (const Error&) {
        return std::nullopt;  // a zip-code table of its own, without town positions
    }
    std::vector<TownPosition> found;
    for (const std::string& code : codes) {
        db::Recordset row =
            db.execute("SELECT latitude, Longitude FROM zip_towns WHERE zipcode = " + quoted(code));
        if (row.eof()) continue;
        // A Null coordinate fails the conversion, as it does in the engine's own lookup.
        found.push_back(
            {code, {row.field("latitude").toDouble(), row.field("Longitude").toDouble()}});
    }
    return found;
}

std::vector<std::optional<LatLon>> positions(const std::string& connection,
                                             const ZipColumns& columns,
                                             const std::vector<std::string>& codes) {
    db::Connection db;
    db.open(connection);
    std::vector<std::optional<LatLon>> found;
    found.reserve(codes.size());
    for (const std::string& code : codes) {
        db::Recordset row =
            db.execute("select " + columns.lon + ", " + columns.lat + " from " + columns.table +
                       " where " + columns.zip + " = " + quoted(code));
        std::optional<LatLon> position;
        if (!row.eof()) {
            try {
                position =
                    LatLon{row.field(columns.lat).toDouble(), row.field(columns.lon).toDouble()};
            } catch (const Error&) {
                // The engine placed it, so its row converts; a changed row only loses the hint.
            }
        }
        found.push_back(position);
    }
    return found;
}

std::vector<std::string> states(const std::string& connection, const ZipColumns& columns,
                                const std::vector<std::string>& codes) {
    db::Connection db;
    db.open(connection);
    std::vector<std::string> found(codes.size());
    try {
        for (size_t i = 0; i < codes.size(); ++i) {
            db::Recordset row = db.execute("select state from " + columns.table + " where " +
                                           columns.zip + " = " + quoted(codes[i]));
            if (!row.eof()) found[i] = textOf(row.field("state"));
        }
    } catch (const Error&) {
        return std::vector<std::string>(codes.size());  // a table without a state column
    }
    return found;
}

std::pair<std::string, std::string> cityAndState(const std::string& connection,
                                                 const std::string& table,
                                                 const std::string& zipField,
                                                 const std::string& zip) {
    db::Connection db;
    db.open(connection);
    try {
        db::Recordset row = db.execute("SELECT city, state FROM " + table + " WHERE " + zipField +
                                       " = " + quoted(zip));
        if (row.eof()) return {};
        return {textOf(row.field("city")), textOf(row.field("state"))};
    } catch (const Error&) {
        return {};  // a table without city and state columns
    }
}

}  // namespace zembra::render::towns
