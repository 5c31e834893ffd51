// Builds the zip-code database from its CSV sources:
//   zembra_build_zipdb <zipcodes.csv> <zip_towns.csv> <zipcodes.db>
// Both CSV files have the header zipcode,latitude,longitude,city,state (RFC 4180 quoting).
// The database gets two tables with the column names the engine queries: `zips` (the codes
// with an area, at its centroid) with indexes for the zip lookup and the latitude/longitude
// box query, and `zip_towns` (codes without an area, at their post-office town) with an
// index for the zip lookup. A code may be in one table only. The database is written to a
// temporary file in one transaction and renamed into place, so an interrupted build never
// leaves a half-filled database behind.
#include <sqlite3.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace {

struct DbClose {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalize {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Db = std::unique_ptr<sqlite3, DbClose>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalize>;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

void exec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        fail(std::string("SQL failed: ") + sql + ": " + text);
    }
}

// Splits one CSV record; quoted fields may hold commas and doubled quotes (no line breaks:
// the source never has them).
std::vector<std::string> splitCsv(const std::string& line, size_t lineNo) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    if (quoted) fail("line " + std::to_string(lineNo) + ": unterminated quote");
    return fields;
}

double toDouble(const std::string& text, size_t lineNo, const char* column) {
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        fail("line " + std::to_string(lineNo) + ": " + column + " is not a number: '" + text + "'");
    }
    return value;
}

void bindText(sqlite3_stmt* stmt, int index, const std::string& text) {
    if (text.empty()) {
        sqlite3_bind_null(stmt, index);
    } else {
        sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
}

// Reads one CSV source into `table` (already created); returns the number of rows.
size_t loadTable(sqlite3* db, const std::filesystem::path& csvPath, const std::string& table) {
    std::ifstream csv(csvPath);
    if (!csv) fail("cannot read " + csvPath.string());

    const std::vector<std::string> expected{"zipcode", "latitude", "longitude", "city", "state"};
    std::string line;
    if (!std::getline(csv, line) || splitCsv(line, 1) != expected) {
        fail(csvPath.string() + ": header must be zipcode,latitude,longitude,city,state");
    }

    sqlite3_stmt* rawStmt = nullptr;
    const std::string sql = "INSERT INTO " + table + " VALUES (?1, ?2, ?3, ?4, ?5)";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &rawStmt, nullptr) != SQLITE_OK) {
        fail(std::string("prepare failed: ") + sqlite3_errmsg(db));
    }
    Stmt insert(rawStmt);

    size_t rows = 0;
    for (size_t lineNo = 2; std::getline(csv, line); ++lineNo) {
        if (line.empty() || line == "\r") continue;
        const std::string where = csvPath.filename().string() + " line " + std::to_string(lineNo);
        auto fields = splitCsv(line, lineNo);
        if (fields.size() != expected.size()) {
            fail(where + ": expected 5 fields, found " + std::to_string(fields.size()));
        }
        if (fields[0].empty()) fail(where + ": empty zip code");
        bindText(insert.get(), 1, fields[0]);
        sqlite3_bind_double(insert.get(), 2, toDouble(fields[1], lineNo, "latitude"));
        sqlite3_bind_double(insert.get(), 3, toDouble(fields[2], lineNo, "longitude"));
        bindText(insert.get(), 4, fields[3]);
        bindText(insert.get(), 5, fields[4]);
        if (sqlite3_step(insert.get()) != SQLITE_DONE) fail(where + ": " + sqlite3_errmsg(db));
        sqlite3_reset(insert.get());
        ++rows;
    }
    if (csv.bad()) fail("read error in " + csvPath.string());
    return rows;
}

struct Counts {
    size_t zips = 0;
    size_t towns = 0;
};

Counts build(const std::filesystem::path& zipsCsv, const std::filesystem::path& townsCsv,
             const std::filesystem::path& dbPath) {
    auto temp = dbPath;
    temp += ".tmp";
    std::filesystem::remove(temp);
    sqlite3* raw = nullptr;
    int rc =
        sqlite3_open_v2(temp.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK) fail("cannot create " + temp.string() + ": " + sqlite3_errstr(rc));

    exec(db.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;");
    exec(db.get(),
         "CREATE TABLE zips (zipcode TEXT, latitude REAL, Longitude REAL, city TEXT, "
         "state TEXT);"
         "CREATE TABLE zip_towns (zipcode TEXT, latitude REAL, Longitude REAL, city TEXT, "
         "state TEXT);");
    Counts counts;
    counts.zips = loadTable(db.get(), zipsCsv, "zips");
    counts.towns = loadTable(db.get(), townsCsv, "zip_towns");
    exec(db.get(),
         "CREATE INDEX zips_zipcode ON zips (zipcode);"
         "CREATE INDEX zips_latitude_longitude ON zips (latitude, Longitude);"
         "CREATE UNIQUE INDEX zip_towns_zipcode ON zip_towns (zipcode);");
    // A code in both tables would be plotted at its area and never at its town: a fault of
    // the sources.
    {
        sqlite3_stmt* rawStmt = nullptr;
        if (sqlite3_prepare_v2(db.get(),
                               "SELECT zipcode FROM zip_towns WHERE zipcode IN "
                               "(SELECT zipcode FROM zips) LIMIT 1",
                               -1, &rawStmt, nullptr) != SQLITE_OK) {
            fail(std::string("prepare failed: ") + sqlite3_errmsg(db.get()));
        }
        Stmt both(rawStmt);
        if (sqlite3_step(both.get()) == SQLITE_ROW) {
            fail(std::string("zip code ") +
                 reinterpret_cast<const char*>(sqlite3_column_text(both.get(), 0)) +
                 " is in both zips and zip_towns");
        }
    }
    exec(db.get(), "COMMIT; ANALYZE;");
    if (sqlite3_close(db.get()) != SQLITE_OK) fail("cannot close " + temp.string());
    (void)db.release();  // closed above
    std::filesystem::rename(temp, dbPath);
    return counts;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: " << argv[0] << " <zipcodes.csv> <zip_towns.csv> <zipcodes.db>\n";
        return 2;
    }
    try {
        const Counts counts = build(argv[1], argv[2], argv[3]);
        std::cout << "zipcodes.db: " << counts.zips << " zip codes at their area, " << counts.towns
                  << " at their post-office town\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << argv[0] << ": " << e.what() << '\n';
        return 1;
    }
}
