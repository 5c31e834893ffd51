// `zembra db load`: puts the zip-code tables of the shipped database (zips and zip_towns)
// into any database reached through ODBC, so that a team can share one copy on a server.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/dataaccess.hpp>

#include "commands/commands.hpp"

namespace CLI {
class App;
}

namespace zembra::cli {

struct DbLoadOptions {
    std::string connection;  // the target: "DSN=..." or any ODBC connection string
    std::string from;        // the source database file; empty: the shipped zipcodes.db
};

// Adds "db" with its subcommand "load" to `app`; returns the "db" command.
CLI::App* addDbCommand(CLI::App& app, DbLoadOptions& options);
int runDbLoad(const DbLoadOptions& options, Io& io);

// One zip-code row as both tables hold it; empty city or state is stored as NULL.
struct ZipRecord {
    std::string zipcode;
    double latitude = 0;
    double longitude = 0;
    std::string city;
    std::string state;
};

struct ZipTable {
    std::string name;  // "zips" or "zip_towns"
    std::vector<ZipRecord> rows;
};

// The tables of a zip-code database file (zip_towns only when the file has it). Raises
// zembra::Error (file not found, or the database's text) on failure.
std::vector<ZipTable> readZipTables(const std::filesystem::path& database);

// The shipped database: ZEMBRA_ZIPCODES_DB when set, else zipcodes.db in the data folder
// beside the program's.
std::filesystem::path shippedZipDatabase();

// Rows per INSERT statement: several rows per statement save round trips to a server.
inline constexpr size_t kRowsPerInsert = 250;

// Creates the tables that the target lacks (unquoted column names, as the engine's SQL
// texts are, and the indexes its queries use), then replaces their rows in one transaction.
// `progress` is called after each statement with the rows written so far and the total.
// Nothing changes on failure; the error propagates.
void loadZipTables(db::Connection& target, const std::vector<ZipTable>& tables,
                   const std::function<void(size_t done, size_t total)>& progress = {});

}  // namespace zembra::cli
