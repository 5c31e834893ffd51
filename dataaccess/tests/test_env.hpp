// Shared set-up of the data-access tests: two small SQLite databases with the same
// tables, one reached as the embedded database (ZEMBRA_ZIPCODES_DB) and one through the
// SQLite ODBC driver as the data source "zipcodes". Their table `source` tells them apart.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <zembra/dataaccess.hpp>

namespace zembra::test {

struct TestData {
    std::filesystem::path dir;         // private temporary folder of this run
    std::filesystem::path embeddedDb;  // source.name = 'embedded'
    std::filesystem::path odbcDb;      // source.name = 'odbc'
};

// Valid while the tests run (set up by main.cpp).
const TestData& testData();

inline std::filesystem::path fixture(const char* name) {
    return std::filesystem::path(ZEMBRA_TEST_DATA_DIR) / name;
}

// Sets (or, with nullopt, removes) an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace zembra::test
