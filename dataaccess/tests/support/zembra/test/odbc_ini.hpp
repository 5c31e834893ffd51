// Test support: a private unixODBC configuration for one test process.
//
// OdbcIni writes odbcinst.ini (the drivers below) and an odbc.ini (the data sources given) into
// a fresh temporary folder and points ODBCSYSINI and ODBCINI at them, so tests see exactly
// these drivers and data sources and none of the machine's. The previous environment is
// restored and the folder removed when the object goes. Create it before the first ODBC
// call of the process and keep one alive at a time.
//
// Registered drivers:
//   "SQLite3"                          Debian's SQLite ODBC driver
//   "SQL Server"                       the SQLite ODBC driver again: no SQL Server runs here
//   "Microsoft Access Driver (*.mdb)"  mdbtools' driver
//   "FreeTDS"                          FreeTDS's driver (SQL Server's protocol)
//   "PostgreSQL"                       psqlODBC
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zembra::test {

inline constexpr const char* kSqliteOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
inline constexpr const char* kMdbOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libmdbodbc.so";
inline constexpr const char* kFreeTdsOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";
inline constexpr const char* kPostgresOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";

// One data source of odbc.ini: [name] with Driver=<driver> and further key=value lines
// (for the SQLite driver: {"Database", "/path/file.db"}).
struct OdbcDataSource {
    std::string name;
    std::string driver;
    std::vector<std::pair<std::string, std::string>> attributes;
};

// A data source named `name` over the SQLite file `database` through the SQLite ODBC driver.
inline OdbcDataSource sqliteDataSource(std::string name, const std::filesystem::path& database) {
    return {std::move(name), "SQLite3", {{"Database", database.string()}}};
}

class OdbcIni {
  public:
    explicit OdbcIni(const std::vector<OdbcDataSource>& dataSources = {}) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zembra-odbc-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
        dir_ = pattern;

        write(dir_ / "odbcinst.ini",
              "[SQLite3]\nDescription = SQLite3 ODBC driver\nDriver = " +
                  std::string(kSqliteOdbcDriver) +
                  "\n\n"
                  "[SQL Server]\nDescription = SQLite3 ODBC driver standing in for SQL Server\n"
                  "Driver = " +
                  std::string(kSqliteOdbcDriver) +
                  "\n\n"
                  "[Microsoft Access Driver (*.mdb)]\nDescription = mdbtools ODBC driver\n"
                  "Driver = " +
                  std::string(kMdbOdbcDriver) + "\n\n[FreeTDS]\nDriver = " + kFreeTdsOdbcDriver +
                  "\n\n[PostgreSQL]\nDriver = " + kPostgresOdbcDriver + "\n");
        std::string sources;
        for (const auto& source : dataSources) {
            sources += "[" + source.name + "]\nDriver = " + source.driver + "\n";
            for (const auto& [key, value] : source.attributes)
                sources += key + " = " + value + "\n";
            sources += "\n";
        }
        // <ODBCSYSINI>/odbc.ini holds the system data sources: none. ODBCINI names the
        // user's file, which holds the test's own.
        write(dir_ / "odbc.ini", "");
        write(dir_ / "user-odbc.ini", sources);

        saved_.emplace_back("ODBCSYSINI", get("ODBCSYSINI"));
        saved_.emplace_back("ODBCINI", get("ODBCINI"));
        setenv("ODBCSYSINI", dir_.c_str(), 1);
        setenv("ODBCINI", (dir_ / "user-odbc.ini").c_str(), 1);
    }

    ~OdbcIni() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    OdbcIni(const OdbcIni&) = delete;
    OdbcIni& operator=(const OdbcIni&) = delete;

    const std::filesystem::path& directory() const noexcept { return dir_; }

  private:
    static std::optional<std::string> get(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }

    static void write(const std::filesystem::path& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary);
        out << text;
        if (!out) throw std::runtime_error("cannot write " + path.string());
    }

    std::filesystem::path dir_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace zembra::test
