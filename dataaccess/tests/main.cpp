// Test main: builds the sample databases and a private ODBC configuration before any
// test runs, so that every ODBC call of the process sees only them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <zembra/test/odbc_ini.hpp>

#include "test_env.hpp"

namespace zembra::test {

namespace {

const TestData* current = nullptr;

void createSampleDatabase(const std::filesystem::path& path, const std::string& sourceName) {
    sqlite3* raw = nullptr;
    int rc = sqlite3_open(path.c_str(), &raw);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    if (rc != SQLITE_OK) throw std::runtime_error("cannot create " + path.string());
    std::string longText(10000, 'x');
    longText.replace(0, 5, "start");
    longText.replace(longText.size() - 3, 3, "end");
    std::string sql =
        "CREATE TABLE zips (zipcode TEXT, latitude REAL, Longitude REAL, city TEXT, state TEXT);"
        "INSERT INTO zips VALUES ('08873', 40.499667, -74.531844, 'Somerset', 'NJ');"
        "INSERT INTO zips VALUES ('00601', 18.180555, -66.749961, 'Adjuntas', 'PR');"
        "INSERT INTO zips VALUES ('08854', 40.54914, -74.4633, 'Piscataway', 'NJ');"
        "INSERT INTO zips VALUES ('99501', 61.216799, -149.87828, NULL, NULL);"
        "CREATE TABLE kinds (id INTEGER, small INTEGER, big INTEGER, ratio REAL, label TEXT, "
        "  missing TEXT, story TEXT);"
        "INSERT INTO kinds VALUES (1, -5, 5000000000, 0.1, 'Jos\xc3\xa9 N\xc3\xba\xc3\xb1"
        "ez', "
        "  NULL, '" +
        longText +
        "');"
        "CREATE TABLE empty_table (a TEXT);"
        "CREATE TABLE source (name TEXT);"
        "INSERT INTO source VALUES ('" +
        sourceName + "');";
    char* message = nullptr;
    if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "?";
        sqlite3_free(message);
        throw std::runtime_error("cannot fill " + path.string() + ": " + text);
    }
}

class DataAccessEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zembra-data-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        data_.dir = pattern;
        data_.embeddedDb = data_.dir / "embedded.db";
        data_.odbcDb = data_.dir / "odbc.db";
        createSampleDatabase(data_.embeddedDb, "embedded");
        createSampleDatabase(data_.odbcDb, "odbc");
        odbc_ = std::make_unique<OdbcIni>(
            std::vector<OdbcDataSource>{sqliteDataSource("zipcodes", data_.odbcDb)});
        setenv("ZEMBRA_ZIPCODES_DB", data_.embeddedDb.c_str(), 1);
        unsetenv("ZEMBRA_SQL_TRACE");
        current = &data_;
    }

    void TearDown() override {
        current = nullptr;
        odbc_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(data_.dir, ignored);
    }

  private:
    TestData data_;
    std::unique_ptr<OdbcIni> odbc_;
};

}  // namespace

const TestData& testData() {
    if (!current) throw std::logic_error("test data used outside the test run");
    return *current;
}

}  // namespace zembra::test

#ifdef ZEMBRA_LSAN_SUPPRESSIONS
// In the sanitizer build these tests look for leaks; the drivers' own leaks and the connect
// handle abandoned on purpose at the deadline are listed in this file by name.
extern "C" const char* __lsan_default_options() {
    return "suppressions=" ZEMBRA_LSAN_SUPPRESSIONS ":print_suppressions=0";
}
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // GoogleTest takes ownership of the environment.
    ::testing::AddGlobalTestEnvironment(new zembra::test::DataAccessEnvironment);
    return RUN_ALL_TESTS();
}
