// The zip-code database built from assets/zipcodes/zipcodes.csv, found next to the library
// as an installed program finds it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "test_env.hpp"

namespace zembra::test {
namespace {

using db::Connection;
using db::Recordset;

class ShippedDatabase : public ::testing::Test {
  protected:
    void SetUp() override { connection.open("Provider=Zembra.Embedded"); }

    // No override: the library finds zipcodes.db in its data folder by itself.
    ScopedEnv noOverride{"ZEMBRA_ZIPCODES_DB", std::nullopt};
    Connection connection;
};

// The CSV line of one zip code, split at commas.
std::vector<std::string> csvRow(const std::string& zip) {
    std::ifstream in(ZEMBRA_ZIPCODES_CSV);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(zip + ",", 0) == 0) {
            std::vector<std::string> fields;
            std::stringstream stream(line);
            for (std::string field; std::getline(stream, field, ',');) fields.push_back(field);
            return fields;
        }
    }
    return {};
}

TEST_F(ShippedDatabase, HoldsEveryZipCodeOfTheSource) {
    Recordset rs = connection.execute("select count(*) as n from zips");
    EXPECT_EQ(rs.field("n"), Variant(int32_t{33791}));
}

// Codes without an area (post-office boxes, single organisations) are kept apart, at their
// post-office town, so that they never win a reverse lookup over a code with an area.
TEST_F(ShippedDatabase, TownCodesAreKeptApartFromTheAreas) {
    EXPECT_EQ(connection.execute("select count(*) as n from zip_towns").field("n"),
              Variant(int32_t{8120}));
    EXPECT_TRUE(connection
                    .execute("select zipcode from zip_towns where zipcode in "
                             "(select zipcode from zips)")
                    .eof());
    // Five-digit codes of the states, DC, the territories and the freely associated states
    // only: no military codes, nothing from other countries.
    Recordset odd = connection.execute(
        "select zipcode, state from zip_towns where length(zipcode) <> 5 or "
        "zipcode glob '*[^0-9]*' or state in ('AA', 'AE', 'AP') or state is null or "
        "latitude is null or Longitude is null");
    EXPECT_TRUE(odd.eof()) << odd.field("zipcode").toString();

    Recordset rs = connection.execute(
        "select Longitude, latitude, city, state from zip_towns where zipcode = '10041'");
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.field("city"), Variant("New York"));
    EXPECT_EQ(rs.field("state"), Variant("NY"));
    EXPECT_NEAR(rs.field("latitude").toDouble(), 40.70, 0.05);
    EXPECT_NEAR(rs.field("Longitude").toDouble(), -74.01, 0.05);
    EXPECT_TRUE(connection.execute("select * from zips where zipcode = '10041'").eof());
}

TEST_F(ShippedDatabase, LooksUpAsTheEngineAsks) {
    auto expected = csvRow("08873");
    ASSERT_EQ(expected.size(), 5u);
    Recordset rs =
        connection.execute("select Longitude, latitude from zips where zipcode = '08873'");
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.field("latitude"), Variant(std::stod(expected[1])));
    EXPECT_EQ(rs.field("Longitude"), Variant(std::stod(expected[2])));
    rs.moveNext();
    EXPECT_TRUE(rs.eof());

    // The text comparison keeps leading zeros: 8873 is not 08873.
    EXPECT_TRUE(connection.execute("select * from zips where zipcode = '8873'").eof());
    Recordset pr = connection.execute("select * from zips where zipcode = '00601'");
    ASSERT_FALSE(pr.eof());
    EXPECT_EQ(pr.field("zipcode"), Variant("00601"));
    EXPECT_EQ(pr.field("state"), Variant("PR"));
}

TEST_F(ShippedDatabase, BoxQueryUsesTheCoordinateIndex) {
    Recordset rs = connection.execute(
        "SELECT * FROM zips WHERE (latitude Between 40.45 And 40.55) And "
        "(Longitude Between -74.6 And -74.45) ");
    bool found = false;
    for (; !rs.eof(); rs.moveNext()) found = found || rs.field("zipcode") == Variant("08873");
    EXPECT_TRUE(found);

    Recordset plan = connection.execute(
        "EXPLAIN QUERY PLAN SELECT * FROM zips WHERE (latitude Between 40.45 And 40.55) And "
        "(Longitude Between -74.6 And -74.45) ");
    ASSERT_FALSE(plan.eof());
    EXPECT_NE(plan.field("detail").toString().find("zips_latitude_longitude"), std::string::npos)
        << plan.field("detail").toString();
}

}  // namespace
}  // namespace zembra::test
