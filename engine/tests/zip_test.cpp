// Zip codes and reverse lookup through the real data-access layer: the shipped
// database, private SQLite files, and the SQLite ODBC driver under a private DSN.
#include <sqlite3.h>

#include <cstdlib>
#include <sstream>
#include <zembra/test/odbc_ini.hpp>

#include "engine_test_support.hpp"

namespace zembra::engine::test {
namespace {

using zembra::test::OdbcIni;
using zembra::test::sqliteDataSource;

struct Row {
    const char* zip;
    std::optional<double> lat;
    std::optional<double> lon;
};

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

// Rows for plotting on a 100 x 100 map spanning latitude 0..100 and longitude -100..0,
// where latitude L and longitude -G land on pixel (100 - G, 100 - L).
const std::vector<Row> kZipRows = {{"08873", 40.499667, -74.531844},
                                   {"DUP", 30.0, -90.0},
                                   {"DUP", 31.0, -91.0},
                                   {"O'1", 70.0, -40.0},
                                   {"NUL", std::nullopt, -80.0}};

// Rows for reverse lookup on the same map; comments name the pixel whose point they serve.
const std::vector<Row> kReverseRows = {
    // (26, 60) = 40, -74: nothing within 5 miles, two rows within 10.
    {"F2", 40.12, -74.0},
    {"F1", 40.1, -74.0},
    // (20, 65) = 35, -80: two rows at one place; the first returned wins.
    {"I1", 35.01, -80.01},
    {"I2", 35.01, -80.01},
    // (15, 55) = 45, -85: a row exactly at the point has no distance, so the next replaces it.
    {"E1", 45.0, -85.0},
    {"E2", 45.03, -85.0},
    // (23, 62) = 38, -77: a row a hair away from the point.
    {"H1", 38.0000000001, -77.0000000001},
    {"H2", 38.01, -77.0}};

class ZipTest : public ::testing::Test {
  protected:
    void SetUp() override {
        createDatabase(dir_.file("zips.db"), kZipRows);
        createDatabase(dir_.file("reverse.db"), kReverseRows);
    }

    // An object over a 100 x 100 map with a 3 x 3 marker, reading `connection`.
    Object gridMap(const std::string& connection) {
        Object map = newMap(dir_, 100, 100, 3);
        map.put("MinLat", 0.0);
        map.put("MaxLat", 100.0);
        map.put("MinLon", -100.0);
        map.put("MaxLon", 0.0);
        map.put("ConnectionString", connection);
        return map;
    }

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
        Object map = gridMap(connection);
        EXPECT_EQ(map.callWith("MapZips", array({"DUP", "zz", "08873", int32_t{8873}, "O'1"})),
                  Variant(true));
        EXPECT_EQ(map.get("UnmatchedZips"), array({"zz", "8873"}));
        const imaging::Picture p = currentPicture(map);
        // DUP: the first row (30, -90) is pixel (10, 70), so the marker starts at (8, 68).
        EXPECT_EQ(markerBox(p).left, 8);
        EXPECT_EQ(markerBox(p).top, 28);  // O'1 at (60, 30) -> top 28
        // The unknown codes sit at 0, 0: pixel (100, 100), the picture's corner.
        const uint8_t* corner = p.rgba.data() + (size_t(99) * 100 + 99) * 4;
        EXPECT_EQ(corner[0], kMarkerColour.r);
        EXPECT_EQ(markerBox(p).count, 3 * 9 + 4);
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
    Object map = gridMap("ZipCodes");              // as the viewer names the source
    EXPECT_EQ(zipAt(map, 26, 60), Variant("F1"));  // from the 10-mile box
    EXPECT_EQ(zipAt(map, 20, 65), Variant("I1"));  // identical places: first wins
    EXPECT_EQ(zipAt(map, 15, 55), Variant("E2"));  // a distance-less row gives way
    EXPECT_EQ(zipAt(map, 23, 62), Variant("H1"));  // a hair away is about 0 miles
    EXPECT_TRUE(zipAt(map, 10, 70).isNull());      // nothing within 10 miles
}

}  // namespace
}  // namespace zembra::engine::test
