#include <unordered_map>
#include <zembra/dataaccess.hpp>
#include <zembra/render/locate.hpp>
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

Locations locate(const std::vector<std::string>& codes, const std::string& connection, bool towns) {
    Object engine = createObject(engine::kProgId);
    if (!connection.empty()) engine.put(engine::kConnectionString, Variant(connection));
    const auto property = [&](std::string_view name) { return engine.get(name).toString(); };
    const std::string latField = property(engine::kLatField);
    const std::string lonField = property(engine::kLonField);

    db::Connection db;
    db.open(property(engine::kConnectionString));
    const RowsByCode zips =
        readTable(db, property(engine::kZipTable), property(engine::kZipField), latField, lonField);

    Locations out;
    std::vector<size_t> missing;
    for (size_t i = 0; i < codes.size(); ++i) {
        const auto it = hasControlCharacter(codes[i]) ? zips.end() : zips.find(codes[i]);
        if (it == zips.end()) {
            missing.push_back(i);
            continue;
        }
        out.placed.push_back({i, positionOf(it->second, codes[i]), it->second.state, false});
    }
    if (towns && !missing.empty()) {
        std::optional<RowsByCode> townRows;
        try {
            townRows = readTable(db, "zip_towns", "zipcode", "latitude", "Longitude");
        } catch (const Error&) {
            // A zip-code table of its own, without town positions.
        }
        if (townRows) {
            std::vector<Located> atTown;
            std::vector<size_t> still;
            for (const size_t i : missing) {
                const auto it =
                    hasControlCharacter(codes[i]) ? townRows->end() : townRows->find(codes[i]);
                if (it == townRows->end()) {
                    still.push_back(i);
                } else {
                    atTown.push_back({i, positionOf(it->second, codes[i]), it->second.state, true});
                }
            }
            // Both lists are in the order asked; merge them so that `placed` is too.
            std::vector<Located> merged;
            merged.reserve(out.placed.size() + atTown.size());
            size_t a = 0;
            size_t b = 0;
            while (a < out.placed.size() || b < atTown.size()) {
                if (b == atTown.size() ||
                    (a < out.placed.size() && out.placed[a].index < atTown[b].index)) {
                    merged.push_back(std::move(out.placed[a++]));
                } else {
                    merged.push_back(std::move(atTown[b++]));
                }
            }
            out.placed = std::move(merged);
            missing = std::move(still);
        }
    }
    for (const size_t i : missing) out.notFound.push_back(codes[i]);
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
