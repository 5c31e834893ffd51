#include <unordered_map>
#include <zembra/dataaccess.hpp>
#include <zembra/render/codes.hpp>
#include <zembra/render/locate.hpp>
#include <zembra/render/positions.hpp>
#include <zembra/runtime.hpp>

#include "engine_members.hpp"

namespace zembra::render {

namespace {

// A table row of a code: its coordinates as read, converted only when the code is asked for,
// so a bad row of a code nobody asked for costs nothing.
struct TableRow {
    Variant lat;
    Variant lon;
    std::string state;
};

using RowsByCode = std::unordered_map<std::string, TableRow>;

std::string textOf(const Variant& value) {
    return value.isNull() ? std::string() : value.toString();
}

// Every row of `table`, keyed by code; the first row of a code wins. The state column is
// read when the table has one.
RowsByCode readTable(db::Connection& db, const std::string& table, const std::string& zipField,
                     const std::string& latField, const std::string& lonField) {
    const std::string columns = zipField + ", " + latField + ", " + lonField;
    db::Recordset rows;
    bool withState = true;
    try {
        rows = db.execute("SELECT " + columns + ", state FROM " + table);
    } catch (const Error&) {
        withState = false;
        rows = db.execute("SELECT " + columns + " FROM " + table);
    }
    RowsByCode out;
    for (; !rows.eof(); rows.moveNext()) {
        TableRow row{rows.field(1), rows.field(2),
                     withState ? textOf(rows.field(3)) : std::string()};
        out.try_emplace(textOf(rows.field(0)), std::move(row));
    }
    return out;
}

LatLon positionOf(const TableRow& row, const std::string& code) {
    try {
        return {row.lat.toDouble(), row.lon.toDouble()};
    } catch (const Error& e) {
        throw e.withContext("zip code " + escapeForDisplay(code));
    }
}

}  // namespace

size_t Locations::atTown() const noexcept {
    size_t n = 0;
    for (const auto& p : placed) n += p.atTown ? 1 : 0;
    return n;
}

Locations locate(const std::vector<std::string>& codes, const std::string& connection, bool towns,
                 bool exact) {
    Object engine = createObject(engine::kProgId);
    if (!connection.empty()) engine.put(engine::kConnectionString, Variant(connection));
    const auto property = [&](std::string_view name) { return engine.get(name).toString(); };
    const std::string latField = property(engine::kLatField);
    const std::string lonField = property(engine::kLonField);

    db::Connection db;
    db.open(property(engine::kConnectionString));
    const RowsByCode zips =
        readTable(db, property(engine::kZipTable), property(engine::kZipField), latField, lonField);
    const auto find = [](const RowsByCode& rows, const std::string& code) {
        return hasControlCharacter(code) ? rows.end() : rows.find(code);
    };

    // Each code's place, in the order asked: as written, then as people write codes (a
    // ZIP+4, dropped leading zeros), then at its post-office town.
    std::vector<std::optional<Located>> found(codes.size());
    std::vector<std::string> lookedUp(codes);
    bool missing = false;
    for (size_t i = 0; i < codes.size(); ++i) {
        auto it = find(zips, codes[i]);
        std::optional<Rewrite> how;
        if (it == zips.end() && !exact) {
            if (auto rewritten = rewrittenCode(codes[i])) {
                it = find(zips, rewritten->code);
                lookedUp[i] = std::move(rewritten->code);
                how = rewritten->how;
            }
        }
        if (it == zips.end()) {
            missing = true;
            continue;
        }
        found[i] = Located{i, positionOf(it->second, codes[i]), it->second.state, false, how};
    }
    if (towns && missing) {
        std::optional<RowsByCode> townRows;
        try {
            townRows = readTable(db, "zip_towns", "zipcode", "latitude", "Longitude");
        } catch (const Error&) {
            // A zip-code table of its own, without town positions.
        }
        for (size_t i = 0; townRows && i < codes.size(); ++i) {
            if (found[i]) continue;
            if (const auto it = find(*townRows, lookedUp[i]); it != townRows->end()) {
                found[i] = Located{i, positionOf(it->second, codes[i]), it->second.state, true,
                                   std::nullopt};
            }
        }
    }
    Locations out;
    for (size_t i = 0; i < codes.size(); ++i) {
        if (found[i]) {
            out.placed.push_back(std::move(*found[i]));
        } else {
            out.notFound.push_back(codes[i]);
        }
    }
    return out;
}

std::vector<std::optional<LatLon>> positionsOf(const std::string& connection,
                                               const std::vector<std::string>& codes, bool towns) {
    const Locations found = locate(codes, connection, towns);
    std::vector<std::optional<LatLon>> out(codes.size());
    for (const Located& l : found.placed) out[l.index] = l.position;
    return out;
}

}  // namespace zembra::render

namespace zembra::render {

std::vector<PlacedEntry> placeEntries(const RowTable& table, const Locations& locations) {
    const std::vector<std::string> codes = table.codes();
    std::unordered_map<std::string_view, const Located*> byCode;
    for (const Located& l : locations.placed) {
        if (l.index < codes.size()) byCode.emplace(codes[l.index], &l);
    }
    std::vector<PlacedEntry> out;
    const auto& entries = table.entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto it = byCode.find(entries[i].code);
        if (it != byCode.end()) out.push_back({i, it->second->position, it->second->state});
    }
    return out;
}

}  // namespace zembra::render
