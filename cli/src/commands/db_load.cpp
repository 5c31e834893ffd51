#include "commands/db_load.hpp"

#include <sqlite3.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <system_error>

#include "core/images.hpp"
#include "core/progress.hpp"
#include "core/text.hpp"

#ifndef ZEMBRA_REL_BIN_TO_DATA
#error "ZEMBRA_REL_BIN_TO_DATA must give the data folder relative to the program's"
#endif

namespace zembra::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSource = "zembra";

struct SqliteClose {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct SqliteFinalize {
    void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};

[[noreturn]] void raiseSqlite(sqlite3* db, const fs::path& file) {
    throw Error(err::kDatabase, kSource, std::string(sqlite3_errmsg(db)) + ": " + file.string());
}

std::string columnText(sqlite3_stmt* stmt, int column) {
    const unsigned char* text = sqlite3_column_text(stmt, column);
    return text ? reinterpret_cast<const char*>(text) : std::string();
}

// A text literal with quotes doubled, or NULL for empty text.
void appendText(std::string& sql, const std::string& text) {
    if (text.empty()) {
        sql += "NULL";
        return;
    }
    sql += '\'';
    for (char c : text) {
        if (c == '\'') sql += '\'';
        sql += c;
    }
    sql += '\'';
}

// The shortest text that reads back as the same double.
void appendNumber(std::string& sql, double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    sql.append(buffer, result.ptr);
}

// Whether the target has the table with the columns the engine reads.
bool hasTable(db::Connection& target, const std::string& table) {
    try {
        target.execute("SELECT zipcode, latitude, Longitude, city, state FROM " + table +
                       " WHERE 1 = 0");
        return true;
    } catch (const Error&) {
        return false;
    }
}

void createTable(db::Connection& target, const std::string& table) {
    target.execute("CREATE TABLE " + table +
                   " (zipcode VARCHAR(10) NOT NULL, latitude DOUBLE PRECISION NOT NULL, "
                   "Longitude DOUBLE PRECISION NOT NULL, city VARCHAR(64), state VARCHAR(2))");
    // The zip lookup of the engine and the render library, and the engine's search box.
    target.execute("CREATE INDEX " + table + "_zipcode ON " + table + " (zipcode)");
    if (table == "zips") {
        target.execute("CREATE INDEX zips_latitude_longitude ON zips (latitude, Longitude)");
    }
}

}  // namespace

fs::path shippedZipDatabase() {
    if (const char* path = std::getenv("ZEMBRA_ZIPCODES_DB"); path && *path) return path;
    return (programDirectory() / ZEMBRA_REL_BIN_TO_DATA / "zipcodes.db").lexically_normal();
}

std::vector<ZipTable> readZipTables(const fs::path& database) {
    std::error_code ec;
    if (!fs::is_regular_file(database, ec)) {
        throw Error::standard(err::kFileNotFound, kSource, database.string());
    }
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(database.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, SqliteClose> db(raw);
    if (rc != SQLITE_OK) raiseSqlite(raw, database);

    std::vector<ZipTable> tables;
    for (const char* name : {"zips", "zip_towns"}) {
        const std::string sql =
            std::string("SELECT zipcode, latitude, Longitude, city, state FROM ") + name +
            " ORDER BY zipcode";
        sqlite3_stmt* rawStmt = nullptr;
        if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &rawStmt, nullptr) != SQLITE_OK) {
            // An older database without the town table still loads its zips.
            if (std::string_view(name) == "zip_towns") break;
            raiseSqlite(db.get(), database);
        }
        std::unique_ptr<sqlite3_stmt, SqliteFinalize> stmt(rawStmt);
        ZipTable table{name, {}};
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            if (sqlite3_column_type(stmt.get(), 1) == SQLITE_NULL ||
                sqlite3_column_type(stmt.get(), 2) == SQLITE_NULL) {
                throw Error(err::kInvalidUseOfNull, kSource,
                            "zip code " + columnText(stmt.get(), 0) + " in " + name +
                                " has no position: " + database.string());
            }
            table.rows.push_back({columnText(stmt.get(), 0), sqlite3_column_double(stmt.get(), 1),
                                  sqlite3_column_double(stmt.get(), 2), columnText(stmt.get(), 3),
                                  columnText(stmt.get(), 4)});
        }
        if (step != SQLITE_DONE) raiseSqlite(db.get(), database);
        tables.push_back(std::move(table));
    }
    return tables;
}

void loadZipTables(db::Connection& target, const std::vector<ZipTable>& tables,
                   const std::function<void(size_t, size_t)>& progress) {
    size_t total = 0;
    for (const ZipTable& table : tables) total += table.rows.size();

    // Asked before the transaction: on some servers a failed statement spoils the
    // transaction it runs in.
    std::vector<bool> present;
    present.reserve(tables.size());
    for (const ZipTable& table : tables) present.push_back(hasTable(target, table.name));

    target.beginTrans();
    std::string current;  // the table being written, for the error's context
    try {
        size_t done = 0;
        for (size_t t = 0; t < tables.size(); ++t) {
            const ZipTable& table = tables[t];
            current = table.name;
            if (!present[t]) createTable(target, table.name);
            target.execute("DELETE FROM " + table.name);
            const std::string insert = "INSERT INTO " + table.name +
                                       " (zipcode, latitude, Longitude, city, state) VALUES ";
            for (size_t first = 0; first < table.rows.size(); first += kRowsPerInsert) {
                const size_t end = std::min(table.rows.size(), first + kRowsPerInsert);
                std::string sql = insert;
                for (size_t i = first; i < end; ++i) {
                    const ZipRecord& row = table.rows[i];
                    sql += i == first ? "(" : ", (";
                    appendText(sql, row.zipcode);
                    sql += ", ";
                    appendNumber(sql, row.latitude);
                    sql += ", ";
                    appendNumber(sql, row.longitude);
                    sql += ", ";
                    appendText(sql, row.city);
                    sql += ", ";
                    appendText(sql, row.state);
                    sql += ')';
                }
                target.execute(sql);
                done += end - first;
                if (progress) progress(done, total);
            }
        }
        current.clear();
        target.commitTrans();
    } catch (...) {
        try {
            target.rollbackTrans();
        } catch (const Error&) {
            // The first failure is the one to report; a lost connection rolls back anyway.
        }
        try {
            throw;
        } catch (const Error& e) {
            if (current.empty()) throw;
            throw e.withContext("loading " + current + " (nothing was changed)");
        }
    }
}

CLI::App* addDbCommand(CLI::App& app, DbLoadOptions& options) {
    auto* dbCmd = app.add_subcommand("db", "Put the zip-code tables into a shared database");
    dbCmd->require_subcommand(1);
    auto* load = dbCmd->add_subcommand(
        "load", "Create the tables zips and zip_towns in an ODBC database and fill them");
    load->add_option("--connection", options.connection,
                     "The target: an ODBC data source or connection string")
        ->type_name("TEXT")
        ->required();
    load->add_option("--from", options.from, "Source database file (default: the shipped one)")
        ->type_name("FILE");
    load->footer(
        "\nCreates the tables that are missing (columns zipcode, latitude, Longitude, city,\n"
        "state, with the indexes the lookups use) and replaces all their rows in one\n"
        "transaction, so it is safe to run again. Then point --connection of the other\n"
        "commands, or an ODBC data source named zipcodes, at the same database.\n\n"
        "Example:\n"
        "  zembra db load --connection \"DSN=teamzips\"\n");
    return dbCmd;
}

int runDbLoad(const DbLoadOptions& options, Io& io) {
    const fs::path source = options.from.empty() ? shippedZipDatabase() : fs::path(options.from);
    const std::vector<ZipTable> tables = readZipTables(source);
    size_t total = 0;
    for (const ZipTable& table : tables) total += table.rows.size();

    db::Connection target;
    target.open(options.connection);
    {
        Progress shown(io.stderrIsTerminal ? &io.err : nullptr, "loading zip codes", total);
        loadZipTables(target, tables, [&](size_t done, size_t) { shown.update(done); });
    }
    target.close();

    io.err << "loaded";
    for (size_t t = 0; t < tables.size(); ++t) {
        io.err << (t == 0 ? " " : ", ") << withThousands(tables[t].rows.size()) << " rows into "
               << tables[t].name;
    }
    io.err << '\n';
    return 0;
}

}  // namespace zembra::cli
