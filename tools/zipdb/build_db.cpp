// Builds the zip-code database from its CSV source:
//   zembra_build_zipdb <zipcodes.csv> <zipcodes.db>
// The CSV has the header zipcode,latitude,longitude,city,state (RFC 4180 quoting).
// The database gets one table `zips` with the column names the engine queries and
// indexes for the zip lookup and the latitude/longitude box query. It is written to a
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

size_t build(const std::filesystem::path& csvPath, const std::filesystem::path& dbPath) {
    std::ifstream csv(csvPath);
    if (!csv) fail("cannot read " + csvPath.string());

    const std::vector<std::string> expected{"zipcode", "latitude", "longitude", "city", "state"};
    std::string line;
    if (!std::getline(csv, line) || splitCsv(line, 1) != expected) {
        fail(csvPath.string() + ": header must be zipcode,latitude,longitude,city,state");
    }

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
         "state TEXT)");
    sqlite3_stmt* rawStmt = nullptr;
    if (sqlite3_prepare_v2(db.get(), "INSERT INTO zips VALUES (?1, ?2, ?3, ?4, ?5)", -1, &rawStmt,
                           nullptr) != SQLITE_OK) {
        fail(std::string("prepare failed: ") + sqlite3_errmsg(db.get()));
    }
    Stmt insert(rawStmt);

    size_t rows = 0;
    for (size_t lineNo = 2; std::getline(csv, line); ++lineNo) {
        if (line.empty() || line == "\r") continue;
        auto fields = splitCsv(line, lineNo);
        if (fields.size() != expected.size()) {
            fail("line " + std::to_string(lineNo) + ": expected 5 fields, found " +
                 std::to_string(fields.size()));
        }
        if (fields[0].empty()) fail("line " + std::to_string(lineNo) + ": empty zip code");
        bindText(insert.get(), 1, fields[0]);
        sqlite3_bind_double(insert.get(), 2, toDouble(fields[1], lineNo, "latitude"));
        sqlite3_bind_double(insert.get(), 3, toDouble(fields[2], lineNo, "longitude"));
        bindText(insert.get(), 4, fields[3]);
        bindText(insert.get(), 5, fields[4]);
        if (sqlite3_step(insert.get()) != SQLITE_DONE) {
            fail("line " + std::to_string(lineNo) + ": " + sqlite3_errmsg(db.get()));
        }
        sqlite3_reset(insert.get());
        ++rows;
    }
    if (csv.bad()) fail("read error in " + csvPath.string());
    insert.reset();

    exec(db.get(),
         "CREATE INDEX zips_zipcode ON zips (zipcode);"
         "CREATE INDEX zips_latitude_longitude ON zips (latitude, Longitude);"
         "COMMIT; ANALYZE;");
    if (sqlite3_close(db.get()) != SQLITE_OK) fail("cannot close " + temp.string());
    db.release();  // closed above
    std::filesystem::rename(temp, dbPath);
    return rows;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " <zipcodes.csv> <zipcodes.db>\n";
        return 2;
    }
    try {
        size_t rows = build(argv[1], argv[2]);
        std::cout << "zipcodes.db: " << rows << " zip codes\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << argv[0] << ": " << e.what() << '\n';
        return 1;
    }
}
