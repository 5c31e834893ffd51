// The zip-code database as the engine uses it: one lookup query per zip code over one
// connection (embedded SQLite and the same file through the SQLite ODBC driver), the
// reverse lookup's box query, and the cost of opening a connection by bare name.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>
#include <zembra/dataaccess.hpp>

namespace {

const char* const kZips[] = {"08873", "00601", "10001", "99501", "60614",
                             "94103", "33101", "73301", "98101", "02108"};

std::string lookupSql(const char* zip) {
    return std::string("select Longitude, latitude from zips where zipcode = '") + zip + "'";
}

void lookups(benchmark::State& state, const std::string& connectionString) {
    zembra::db::Connection connection;
    connection.open(connectionString);
    std::vector<std::string> queries;
    for (const char* zip : kZips) queries.push_back(lookupSql(zip));
    size_t i = 0;
    for (auto _ : state) {
        auto rs = connection.execute(queries[i++ % queries.size()]);
        if (!rs.eof()) benchmark::DoNotOptimize(rs.field("latitude").toDouble());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LookupEmbedded(benchmark::State& state) { lookups(state, "zipcodes"); }
BENCHMARK(BM_LookupEmbedded);

void BM_LookupOdbcSqlite(benchmark::State& state) {
    lookups(state,
            "Driver=/usr/lib/x86_64-linux-gnu/odbc/"
            "libsqlite3odbc.so;Database=" ZEMBRA_ZIPCODES_DB_PATH);
}
BENCHMARK(BM_LookupOdbcSqlite);

// The 5-mile box around Somerset, NJ, reading every row as the ranking does.
void BM_BoxQueryEmbedded(benchmark::State& state) {
    zembra::db::Connection connection;
    connection.open("zipcodes");
    const std::string sql =
        "SELECT * FROM zips WHERE (latitude Between 40.4272 And 40.5721) And "
        "(Longitude Between -74.6273 And -74.4364) ";
    for (auto _ : state) {
        int rows = 0;
        for (auto rs = connection.execute(sql); !rs.eof(); rs.moveNext()) {
            benchmark::DoNotOptimize(rs.field("latitude").toDouble());
            ++rows;
        }
        state.counters["rows"] = rows;
    }
}
BENCHMARK(BM_BoxQueryEmbedded);

// Opening by bare name lists the ODBC data sources first, then opens the embedded file.
void BM_OpenByBareName(benchmark::State& state) {
    for (auto _ : state) {
        zembra::db::Connection connection;
        connection.open("zipcodes");
    }
}
BENCHMARK(BM_OpenByBareName);

}  // namespace

BENCHMARK_MAIN();
