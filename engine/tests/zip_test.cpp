// Zip codes and reverse lookup through the real data-access layer: the shipped
// database, private SQLite files, and the SQLite ODBC driver under a private DSN.
#include <sqlite3.h>

#include <cstdlib>
#include <sstream>
#include <zembra/test/odbc_ini.hpp>

#include "zip_lookup_bodies.hpp"

namespace zembra::engine::test {
namespace {

using zembra::test::OdbcIni;
using zembra::test::sqliteDataSource;

void createDatabase(const std::string& path, const std::vector<Row>& rows) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open(path.c_str(), &raw);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, &sqlite3_close);
    ASSERT_EQ(rc, SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db.get(), "CREATE TABLE zips (zipcode TEXT, latitude REAL, Longitude REAL)",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_stmt* rawStmt = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(db.get(), "INSERT INTO zips VALUES (?, ?, ?)", -1, &rawStmt, nullptr),
        SQLITE_OK);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(rawStmt, &sqlite3_finalize);
    for (const Row& row : rows) {
        sqlite3_bind_text(stmt.get(), 1, row.zip, -1, SQLITE_TRANSIENT);
        row.lat ? sqlite3_bind_double(stmt.get(), 2, *row.lat) : sqlite3_bind_null(stmt.get(), 2);
        row.lon ? sqlite3_bind_double(stmt.get(), 3, *row.lon) : sqlite3_bind_null(stmt.get(), 3);
        ASSERT_EQ(sqlite3_step(stmt.get()), SQLITE_DONE);
        sqlite3_reset(stmt.get());
    }
}

class ZipTest : public ::testing::Test {
  protected:
    void SetUp() override {
        createDatabase(dir_.file("zips.db"), kZipRows);
        createDatabase(dir_.file("reverse.db"), kReverseRows);
    }

    Object gridMap(const std::string& connection) { return test::gridMap(dir_, connection); }

    std::string odbcFile(const std::string& name) const {
        return "Driver=SQLite3;Database=" + dir_.file(name);
    }

    Variant zipAt(Object& map, int32_t x, int32_t y) {
        return map.callWith("GetZipCodeFromMapPoint", x, y);
    }

    TempDir dir_;
};

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST_F(ZipTest, ShippedDatabaseIsTheDefaultAndSeesTheRightSql) {
    OdbcIni noDataSources;  // so "zipcodes" can only mean the shipped database
    const std::string trace = dir_.file("trace.sql");
    std::optional<ScopedEnv> tracing(std::in_place, "ZEMBRA_SQL_TRACE", trace);

    Object map = newMap(dir_);
    EXPECT_EQ(map.callWith("MapZips", array({"08873", "08232"})), Variant(true));
    // 08873 (40.499667, -74.531844) is pixel (861, 183), 08232 (39.387525, -74.515196) is
    // (862, 204) on the 1000 x 500 map; the 15-pixel markers start 7.5 before, to even.
    const Box box = markerBox(currentPicture(map));
    EXPECT_EQ(box.count, 2 * 15 * 15);
    EXPECT_EQ(box.left, 854);
    EXPECT_EQ(box.top, 176);
    EXPECT_EQ(box.bottom, 196 + 14);
    EXPECT_EQ(map.get("UnmatchedZips").upperBound(), -1);

    // A pixel next to 08873's centre on a detailed map of its neighbourhood.
    Object local = createObject("Zembra.CMap");
    local.put("InputMapFile", map.get("InputMapFile"));
    local.put("MinLat", 40.4);
    local.put("MaxLat", 40.6);
    local.put("MinLon", -74.6);
    local.put("MaxLon", -74.4);
    EXPECT_EQ(zipAt(local, 341, 251), Variant("08873"));
    tracing.reset();

    const std::vector<std::string> sql = lines(trace);
    ASSERT_GE(sql.size(), 3u);
    EXPECT_EQ(sql[0], "select Longitude, latitude from zips where zipcode = '08873'");
    EXPECT_EQ(sql[1], "select Longitude, latitude from zips where zipcode = '08232'");
    EXPECT_EQ(sql[2].rfind("SELECT * FROM zips WHERE (latitude Between ", 0), 0u) << sql[2];
}

TEST_F(ZipTest, QueriesAreBuiltFromThePropertiesWithQuotesDoubled) {
    OdbcIni config;
    const std::string trace = dir_.file("trace.sql");
    const ScopedEnv database("ZEMBRA_ZIPCODES_DB", dir_.file("zips.db"));
    std::optional<ScopedEnv> tracing(std::in_place, "ZEMBRA_SQL_TRACE", trace);
    Object map = gridMap("");
    map.callWith("MapZip", "O'1");
    map.callWith("MapZip", "' OR '1'='1");
    map.callWith("MapZip", "'; DROP TABLE zips; --");
    map.put("ZipTable", "");
    map.callWith("MapZip", int32_t{8873});

    // The box query of the worked example: pixel (26, 60) is exactly 40, -74.
    map.put("LatField", "LATITUDE");
    EXPECT_TRUE(zipAt(map, 26, 60).isNull());
    tracing.reset();

    const std::vector<std::string> expected = {
        "select Longitude, latitude from zips where zipcode = 'O''1'",
        "select Longitude, latitude from zips where zipcode = ''' OR ''1''=''1'",
        "select Longitude, latitude from zips where zipcode = '''; DROP TABLE zips; --'",
        "select Longitude, latitude from zips where zipcode = '8873'",
        "SELECT * FROM zips WHERE (LATITUDE Between 39.9275851696165 And 40.0724148303835) And "
        "(Longitude Between -74.2554789658825 And -73.7445210341175) "};
    const std::vector<std::string> got = lines(trace);
    ASSERT_EQ(got.size(), expected.size() + 1);  // and the 10-mile query, as nothing was near
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(got[i], expected[i]);
    EXPECT_EQ(got.back().rfind("SELECT * FROM zips WHERE (LATITUDE Between 39.855", 0), 0u)
        << got.back();

    // O'1 was found, the injections and the number were not, and the table is intact.
    const Variant unmatched = map.get("UnmatchedZips");
    EXPECT_EQ(unmatched, array({"8873"}));
    map.put("ZipTable", "zips");
    map.callWith("MapZips", array({"08873", "' OR '1'='1", "'; DROP TABLE zips; --"}));
    EXPECT_EQ(map.get("UnmatchedZips"), array({"' OR '1'='1", "'; DROP TABLE zips; --"}));
}

// The same answers from the default name and its other spelling (both a private DSN
// through the SQLite ODBC driver) and from a connection string naming the driver.
TEST_F(ZipTest, EveryRouteToTheTableGivesTheSameAnswers) {
    OdbcIni config({sqliteDataSource("zipcodes", dir_.file("zips.db"))});
    const ScopedEnv unused("ZEMBRA_ZIPCODES_DB", dir_.file("reverse.db"));  // must not be used
    for (const std::string& connection :
         {std::string(""), std::string("ZipCodes"), odbcFile("zips.db")}) {
        SCOPED_TRACE(connection);
        expectForwardLookup(gridMap(connection));
    }
}

TEST_F(ZipTest, LookupFailuresEndTheCallWithNothingDrawn) {
    OdbcIni config;
    Object map = gridMap(odbcFile("zips.db"));
    map.call("Clear");
    map.put("OutputImageType", "png");
    const std::vector<uint8_t> plain = map.get("OutputMap").toBytes();

    EXPECT_EQ(errorNumber([&] {
                  map.callWith("MapZips", array({"08873", "NUL"}));
              }),
              err::kInvalidUseOfNull);
    EXPECT_EQ(errorNumber([&] { map.callWith("MapZips", array({"08873"}, 1)); }), err::kSubscript);
    map.put("ZipTable", "nosuchtable");
    EXPECT_EQ(errorNumber([&] { map.callWith("MapZip", "08873"); }), err::kDatabase);
    map.put("ZipTable", "zips");
    map.put("LatField", "nosuchcolumn");
    EXPECT_EQ(errorNumber([&] { map.callWith("MapZip", "08873"); }), err::kDatabase);
    EXPECT_EQ(map.get("OutputMap").toBytes(), plain);

    // Arrays are sized by the elements they hold, not by their bounds: a lower bound of
    // 100,000,000 fails at index 0 as before, without asking for gigabytes first; and
    // a connection that fails is still reported before that.
    if (kAddressSpaceLimitWorks) {
        const Variant far = array({"08873"}, 100'000'000);
        const Variant farNumber = array({1.0}, 100'000'000);
        EXPECT_EQ(
            runWithMemoryLimit(256u << 20,
                               [&] {
                                   return errorNumber([&] { map.callWith("MapZips", far); }) ==
                                              err::kSubscript &&
                                          errorNumber([&] {
                                              map.callWith("MapCoordinates", farNumber, farNumber);
                                          }) == err::kSubscript;
                               }),
            1);
        Object offline = gridMap("DSN=NoSuchSource");
        EXPECT_EQ(runWithMemoryLimit(256u << 20,
                                     [&] {
                                         return errorNumber([&] {
                                                    offline.callWith("MapZips", far);
                                                }) == err::kDatabase;
                                     }),
                  1);
    }

    // An empty list is refused before any connection is tried.
    map.put("ConnectionString", "DSN=NoSuchSource");
    EXPECT_EQ(errorNumber([&] { map.callWith("MapZips", array({})); }), err::kSubscript);
    const std::optional<Error> e = errorOf([&] { map.callWith("MapZip", "08873"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), err::kDatabase);
    EXPECT_FALSE(e->description().empty());
    EXPECT_EQ(errorNumber([&] { zipAt(map, 1, 1); }), err::kDatabase);

    // The position of a pixel needs no database at all.
    std::vector<Variant> args{int32_t{26}, int32_t{60}, Variant(), Variant()};
    map.call("GetLatLonFromMapPoint", args);
    EXPECT_EQ(args[2], Variant(40.0));
    EXPECT_EQ(args[3], Variant(-74.0));
}

TEST_F(ZipTest, ReverseLookupRanksTheRowsOfTheSearchBox) {
    OdbcIni config({sqliteDataSource("zipcodes", dir_.file("reverse.db"))});
    expectReverseLookup(gridMap("ZipCodes"));  // as the viewer names the source
}

}  // namespace
}  // namespace zembra::engine::test
