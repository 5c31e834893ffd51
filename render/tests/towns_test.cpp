// Codes without an area of their own: render() places them at their post-office town from
// the table zip_towns, and lookupPixel() names a code's city and state.
#include <sqlite3.h>

#include <memory>
#include <zembra/render/render.hpp>
#include <zembra/test/odbc_ini.hpp>

#include "engine_fixtures.hpp"
#include "imaging.hpp"
#include "support.hpp"

namespace zembra::render::test {
namespace {

constexpr uint8_t kMarkerRed = 220;

class TownsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        writeSquare(dir_ / "map.png", 100, {40, 20, 20});
        writeSquare(dir_ / "marker.png", 3, {kMarkerRed, 20, 20});
        runSql(dir_ / "zips.db",
               "CREATE TABLE zips (zipcode TEXT, latitude REAL, Longitude REAL, city TEXT, "
               "state TEXT);"
               "INSERT INTO zips VALUES ('08873', 40.0, -74.0, 'Somerset', 'NJ');"
               "INSERT INTO zips VALUES ('99501', 70.0, -20.0, NULL, NULL);"
               "CREATE TABLE zip_towns (zipcode TEXT, latitude REAL, Longitude REAL, city TEXT, "
               "state TEXT);"
               "INSERT INTO zip_towns VALUES ('10008', 60.0, -40.0, 'New York', 'NY');"
               "INSERT INTO zip_towns VALUES ('10041', 50.0, -30.0, 'New York', 'NY');"
               "INSERT INTO zip_towns VALUES ('O''1', 20.0, -60.0, 'Quote', 'QQ');");
        ::setenv("ZEMBRA_ZIPCODES_DB", (dir_ / "zips.db").c_str(), 1);
    }
    void TearDown() override { ::unsetenv("ZEMBRA_ZIPCODES_DB"); }

    RenderRequest request(std::vector<std::string> zips) const {
        RenderRequest r;
        r.map = dir_ / "map.png";
        r.marker = dir_ / "marker.png";
        r.bounds = kGrid;
        r.zips = std::move(zips);
        r.format = OutputFormat::Png;
        return r;
    }

    static bool markedAt(const imaging::Picture& picture, int32_t x, int32_t y) {
        return picture.rgba[(size_t(y) * size_t(picture.width) + size_t(x)) * 4] == kMarkerRed;
    }

    zembra::test::OdbcIni odbc_;  // no system data source named "zipcodes" interferes
    TempDir dir_;
};

TEST_F(TownsTest, CodesWithoutAnAreaArePlacedAtTheirTownAndToldApart) {
    auto r = request({"10041", "08873", "zz", "10008", "O'1", "10041"});
    r.chunkSize = 2;
    const RenderResult result = render(r);
    EXPECT_EQ(result.requested, 6u);
    EXPECT_EQ(result.placedAtArea, 1u);
    EXPECT_EQ(result.placedAtTown, (std::vector<std::string>{"10041", "10008", "O'1", "10041"}));
    EXPECT_EQ(result.notFound, (std::vector<std::string>{"zz"}));
    EXPECT_EQ(result.placed(), 5u);

    const auto picture = imaging::decode(result.bytes, "result");
    EXPECT_TRUE(markedAt(picture, 26, 60));   // 08873, its area
    EXPECT_TRUE(markedAt(picture, 60, 40));   // 10008, its town
    EXPECT_TRUE(markedAt(picture, 70, 50));   // 10041
    EXPECT_TRUE(markedAt(picture, 40, 80));   // O'1
    EXPECT_FALSE(markedAt(picture, 80, 30));  // 99501 was not asked for
}

TEST_F(TownsTest, WithoutTownsOrTheirTableTheCodesAreNotFound) {
    auto r = request({"10008", "08873"});
    r.towns = false;
    RenderResult result = render(r);
    EXPECT_TRUE(result.placedAtTown.empty());
    EXPECT_EQ(result.notFound, (std::vector<std::string>{"10008"}));
    EXPECT_FALSE(markedAt(imaging::decode(result.bytes, "result"), 60, 40));

    // A zip-code database of its own, without zip_towns: the same, and no error.
    runSql(dir_ / "zips.db", "DROP TABLE zip_towns");
    result = render(request({"10008", "08873"}));
    EXPECT_EQ(result.placedAtArea, 1u);
    EXPECT_EQ(result.notFound, (std::vector<std::string>{"10008"}));
}

TEST_F(TownsTest, ATownRowWithoutPositionFailsTheRenderAndSavesNothing) {
    runSql(dir_ / "zips.db", "INSERT INTO zip_towns VALUES ('10009', NULL, -40.0, 'X', 'NY')");
    auto r = request({"08873", "10009"});
    r.output = dir_ / "out.png";
    const auto e = errorOf([&] { render(r); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), err::kInvalidUseOfNull);
    EXPECT_FALSE(fs::exists(dir_ / "out.png"));
}

TEST_F(TownsTest, LookupNamesTheCitiesAndStatesTheTableHolds) {
    LookupRequest r;
    r.map = dir_ / "map.png";
    r.bounds = kGrid;
    r.x = 26;
    r.y = 60;
    LookupResult hit = lookupPixel(r);
    EXPECT_EQ(hit.zip, "08873");
    EXPECT_EQ(hit.city, "Somerset");
    EXPECT_EQ(hit.state, "NJ");

    r.x = 80;
    r.y = 30;
    hit = lookupPixel(r);
    EXPECT_EQ(hit.zip, "99501");
    EXPECT_EQ(hit.city, "");
    EXPECT_EQ(hit.state, "");

    // A table without city and state columns still answers the code.
    runSql(dir_ / "zips.db",
           "CREATE TABLE bare AS SELECT zipcode, latitude, Longitude FROM zips;"
           "DROP TABLE zips; ALTER TABLE bare RENAME TO zips;");
    hit = lookupPixel(r);
    EXPECT_EQ(hit.zip, "99501");
    EXPECT_EQ(hit.city, "");
}

}  // namespace
}  // namespace zembra::render::test
