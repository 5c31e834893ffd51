// Positions and states of codes read by the render library itself, from the shipped zip-code
// database and from tables made on the spot.
#include <zembra/render/locate.hpp>
#include <zembra/runtime.hpp>
#include <zembra/test/odbc_ini.hpp>

#include "engine_fixtures.hpp"
#include "support.hpp"

namespace zembra::render::test {
namespace {

class LocateTest : public ::testing::Test {
  protected:
    void use(const fs::path& db) { ::setenv("ZEMBRA_ZIPCODES_DB", db.c_str(), 1); }
    void TearDown() override { ::unsetenv("ZEMBRA_ZIPCODES_DB"); }

    zembra::test::OdbcIni odbc_;  // no system data source named "zipcodes" interferes
    TempDir dir_;
};

TEST_F(LocateTest, TheShippedDatabasePlacesEveryCodeWithItsState) {
    use(ZEMBRA_ZIPCODES_DB_FILE);
    const Locations l = locate({"08873", "10008", "99999", "08873", "96813", "0887\x01"}, "");
    ASSERT_EQ(l.placed.size(), 4u);
    EXPECT_EQ(l.placed[0].index, 0u);
    EXPECT_EQ(l.placed[0].state, "NJ");
    EXPECT_NEAR(l.placed[0].position.lat, 40.5, 0.1);
    EXPECT_NEAR(l.placed[0].position.lon, -74.5, 0.1);
    EXPECT_FALSE(l.placed[0].atTown);
    EXPECT_EQ(l.placed[1].index, 1u);  // a post-office box, at its town
    EXPECT_TRUE(l.placed[1].atTown);
    EXPECT_EQ(l.placed[1].state, "NY");
    EXPECT_EQ(l.placed[2].index, 3u);  // a repeat is placed again
    EXPECT_EQ(l.placed[3].state, "HI");
    EXPECT_EQ(l.atTown(), 1u);
    EXPECT_EQ(l.notFound, (std::vector<std::string>{"99999", "0887\x01"}));

    const Locations without = locate({"10008", "08873"}, "", false);
    EXPECT_EQ(without.placed.size(), 1u);
    EXPECT_EQ(without.notFound, (std::vector<std::string>{"10008"}));
}

TEST_F(LocateTest, TablesOfTheirOwn) {
    // No state column and no zip_towns: codes are placed without a state; a bad row raises
    // only when its code is asked for, naming it.
    runSql(dir_.path() / "own.db",
           "CREATE TABLE zips (zipcode TEXT, latitude REAL, Longitude REAL);"
           "INSERT INTO zips VALUES ('A1', 10.0, -20.0);"
           "INSERT INTO zips VALUES ('A1', 11.0, -21.0);"
           "INSERT INTO zips VALUES ('B2', NULL, -20.0);");
    use(dir_.path() / "own.db");
    const Locations l = locate({"A1", "10008"}, "");
    ASSERT_EQ(l.placed.size(), 1u);
    EXPECT_EQ(l.placed[0].position, (LatLon{10.0, -20.0}));  // the first row wins
    EXPECT_EQ(l.placed[0].state, "");
    EXPECT_EQ(l.notFound, (std::vector<std::string>{"10008"}));

    const Error null = errorOf([] { locate({"A1", "B2"}, ""); }).value();
    EXPECT_EQ(null.number(), err::kInvalidUseOfNull);
    EXPECT_NE(null.description().find("zip code B2"), std::string::npos) << null.description();

    // A connection that cannot be opened fails as the engine's would.
    EXPECT_EQ(errorOf([] { locate({"A1"}, "Driver={No Such Driver};"); }).value().number(),
              err::kDatabase);
}

}  // namespace
}  // namespace zembra::render::test
