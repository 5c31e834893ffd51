// Shared set-up of the data-access tests: two small SQLite databases with the same
// tables, one reached as the embedded database (ZEMBRA_ZIPCODES_DB) and one through the
// SQLite ODBC driver as the data source "zipcodes". Their table `source` tells them apart.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <zembra/dataaccess.hpp>
#include <zembra/test/support.hpp>

namespace zembra::test {

struct TestData {
    std::filesystem::path dir;         // private temporary folder of this run
    std::filesystem::path embeddedDb;  // source.name = 'embedded'
    std::filesystem::path odbcDb;      // source.name = 'odbc'
};

// Valid while the tests run (set up by main.cpp).
const TestData& testData();

}  // namespace zembra::test
