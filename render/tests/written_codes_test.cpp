// Codes as people write them (ZIP+4, lost leading zeros) and an honest count of the codes
// that lie outside the map, through the real engine and a private zip-code table.
#include <sqlite3.h>

#include <zembra/render/codes.hpp>
#include <zembra/render/render.hpp>
#include <zembra/test/odbc_ini.hpp>

#include "engine_fixtures.hpp"
#include "imaging.hpp"
#include "support.hpp"

namespace zembra::render::test {
namespace {

constexpr uint8_t kMarkerRed = 220;

TEST(RewrittenCode, ZipPlusFourAndShortNumbersOnly) {
    for (const char* plus4 : {"08873-1234", "08873 1234", "088731234"}) {
        const auto r = rewrittenCode(plus4);
        ASSERT_TRUE(r) << plus4;
        EXPECT_EQ(r->code, "08873");
        EXPECT_EQ(r->how, Rewrite::DropPlus4);
    }
    EXPECT_EQ(rewrittenCode("8873")->code, "08873");
    EXPECT_EQ(rewrittenCode("501")->code, "00501");
    EXPECT_EQ(rewrittenCode("501")->how, Rewrite::RestoreZeros);
    for (const char* other : {"08873", "", "12", "88731", "0887-1234", "08873-123", "08873_1234",
                              "8873a", "08873-12345", "1234567890", "-873"}) {
        EXPECT_FALSE(rewrittenCode(other)) << other;
    }
}

class WrittenCodesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        writeSquare(dir_ / "map.png", 100, {40, 20, 20});
        writeSquare(dir_ / "marker.png", 3, {kMarkerRed, 20, 20});
        // 99501 lies in Alaska's bounds and 96813 in Hawaii's, both far outside the grid;
        // 8873 is a code of its own, stored as written.
        runSql(dir_ / "zips.db",
               "CREATE TABLE zips (zipcode TEXT, latitude REAL, Longitude REAL);"
               "INSERT INTO zips VALUES ('08873', 40.0, -74.0), ('00501', 50.0, -30.0),"
               "('8873', 20.0, -20.0), ('99501', 61.2, -149.9), ('96813', 21.3, -157.8),"
               "('99502', 61.1, -150.0);"
               "CREATE TABLE zip_towns (zipcode TEXT, latitude REAL, Longitude REAL);"
               "INSERT INTO zip_towns VALUES ('10008', 60.0, -40.0), ('10009', 21.0, -157.0);");
        database_.emplace("ZEMBRA_ZIPCODES_DB", dir_ / "zips.db");
    }

    RenderRequest request(std::vector<std::string> zips) const {
        RenderRequest r;
        r.map = dir_ / "map.png";
        r.marker = dir_ / "marker.png";
        r.bounds = kGrid;
        r.zips = std::move(zips);
        r.format = OutputFormat::Png;
        return r;
    }

    static bool markedAt(const RenderResult& result, int32_t x, int32_t y) {
        const auto picture = imaging::decode(result.bytes, "result");
        return picture.rgba[(size_t(y) * size_t(picture.width) + size_t(x)) * 4] == kMarkerRed;
    }

    zembra::test::OdbcIni odbc_;
    TempDir dir_;
    std::optional<ScopedEnv> database_;
};

TEST_F(WrittenCodesTest, ZipPlusFourAndLostZerosArePlacedAndToldApart) {
    auto r = request({"08873-1234", "501", "8873", "088731234", "10008-0001", "99999-1234", "zz"});
    r.chunkSize = 2;
    const RenderResult result = render(r);
    EXPECT_EQ(result.requested, 7u);
    // 8873 is in the table as written, so it is never rewritten.
    EXPECT_EQ(result.placedAtArea, 1u);
    EXPECT_EQ(result.placedWithoutPlus4, (std::vector<std::string>{"08873-1234", "088731234"}));
    EXPECT_EQ(result.placedWithZeros, (std::vector<std::string>{"501"}));
    EXPECT_EQ(result.placedAtTown, (std::vector<std::string>{"10008-0001"}));
    EXPECT_EQ(result.notFound, (std::vector<std::string>{"99999-1234", "zz"}));
    EXPECT_EQ(result.placed(), 5u);
    EXPECT_TRUE(markedAt(result, 26, 60));  // 08873
    EXPECT_TRUE(markedAt(result, 70, 50));  // 00501
    EXPECT_TRUE(markedAt(result, 80, 80));  // 8873 as written
    EXPECT_TRUE(markedAt(result, 60, 40));  // 10008's town
    EXPECT_EQ(summarize(result, 5),
              "placed 5 of 7: 1 as written, 2 after dropping the +4, 1 after restoring leading "
              "zeros, 1 at their post-office town; not found: 99999-1234, zz");

    r.exact = true;
    const RenderResult exact = render(r);
    EXPECT_EQ(exact.placed(), 1u);
    EXPECT_TRUE(exact.placedWithoutPlus4.empty());
    EXPECT_TRUE(exact.placedWithZeros.empty());
    EXPECT_TRUE(exact.placedAtTown.empty());
    EXPECT_EQ(exact.notFound.size(), 6u);
    EXPECT_FALSE(markedAt(exact, 26, 60));
}

TEST_F(WrittenCodesTest, CodesOutsideTheMapAreCountedApartWithTheMapsThatHoldThem) {
    const RenderResult result =
        render(request({"99501", "08873", "96813", "10009", "0501", "99502-0001", "99999"}));
    EXPECT_EQ(result.placed(), 2u);  // 08873 and 0501 as 00501
    EXPECT_EQ(result.placedAtArea, 1u);
    EXPECT_EQ(result.placedWithZeros, (std::vector<std::string>{"0501"}));
    EXPECT_TRUE(result.placedAtTown.empty());
    EXPECT_EQ(result.outside, (std::vector<std::string>{"99501", "96813", "10009", "99502-0001"}));
    EXPECT_EQ(result.notFound, (std::vector<std::string>{"99999"}));
    ASSERT_EQ(result.suggestions.size(), 2u);
    EXPECT_EQ(result.suggestions[0].map, "alaska");
    EXPECT_EQ(result.suggestions[0].codes, 2u);
    EXPECT_EQ(result.suggestions[1].map, "hawaii");  // 96813, and 10009's town
    EXPECT_EQ(result.suggestions[1].codes, 2u);
    EXPECT_EQ(summarize(result),
              "placed 2 of 7: 1 as written, 1 after restoring leading zeros; "
              "4 outside this map");
    EXPECT_EQ(summarize(result, 2),
              "placed 2 of 7: 1 as written, 1 after restoring leading zeros; 4 outside this map: "
              "99501, 96813 and 2 more (alaska holds 2, hawaii holds 2); not found: 99999");

    // On a map that holds them they count as placed; a shipped map is not suggested for
    // itself.
    auto onAlaska = request({"99501", "08873"});
    onAlaska.bounds = mapKeys()[1].bounds;
    const RenderResult alaska = render(onAlaska);
    EXPECT_EQ(alaska.placed(), 1u);
    EXPECT_EQ(alaska.outside, (std::vector<std::string>{"08873"}));
    ASSERT_EQ(alaska.suggestions.size(), 1u);
    EXPECT_EQ(alaska.suggestions[0].map, "usa");
    EXPECT_EQ(summarize(alaska, 9), "placed 1 of 2; 1 outside this map: 08873 (usa holds it)");

    // A code outside every shipped map, from a table without states, gets no suggestion.
    auto offAll = request({"00501"});
    offAll.bounds = mapKeys()[2].bounds;
    const RenderResult nowhere = render(offAll);
    EXPECT_EQ(nowhere.outside, (std::vector<std::string>{"00501"}));
    EXPECT_TRUE(nowhere.suggestions.empty());
    EXPECT_EQ(suggestionText(nowhere), "");
}

TEST_F(WrittenCodesTest, CodesNoShippedMapHoldsSuggestTheirRegion) {
    // The state column is read from the engine's own table; a code that a shipped map holds
    // keeps that suggestion alone.
    runSql(dir_ / "zips.db",
           "ALTER TABLE zips ADD COLUMN state TEXT;"
           "UPDATE zips SET state = ' pr' WHERE zipcode = '00501';"
           "UPDATE zips SET state = 'AK' WHERE zipcode = '99501';");
    auto onHawaii = request({"00501", "99501", "99999"});
    onHawaii.bounds = mapKeys()[2].bounds;
    const RenderResult result = render(onHawaii);
    EXPECT_EQ(result.suggestedRegion, "PR");
    EXPECT_EQ(summarize(result, 9),
              "placed 0 of 3; 2 outside this map: 00501, 99501 (alaska holds 1; try region PR); "
              "not found: 99999");
    EXPECT_EQ(suggestionText(result, "--region "), "alaska holds 1; try --region PR");

    // On the Alaska map, 08873 (without a state) has usa, the other code its region.
    auto onAlaska = request({"08873", "00501"});
    onAlaska.bounds = mapKeys()[1].bounds;
    const RenderResult alaska = render(onAlaska);
    EXPECT_EQ(alaska.outside, (std::vector<std::string>{"08873", "00501"}));
    EXPECT_EQ(suggestionText(alaska), "usa holds 1; try region PR");
}

TEST(SuggestRegion, OneStateItsCodeSeveralAFittedMap) {
    const Bounds usa = mapKeys()[0].bounds;
    const LatLon atlantic{50, -30};
    const LatLon anchorage{61.2, -149.9};
    EXPECT_EQ(suggestRegion({{atlantic, "pr"}, {std::nullopt, "PR"}}, usa), "PR");
    EXPECT_EQ(suggestRegion({{atlantic, "PR"}, {atlantic, "VI"}}, usa), "fit");
    // Held by a shipped map, or without a usable state: nothing to suggest.
    EXPECT_EQ(suggestRegion({{anchorage, "AK"}}, usa), "");
    EXPECT_EQ(suggestRegion({{atlantic, "Puerto Rico"}, {atlantic, ""}, {atlantic, "P1"}}, usa),
              "");
    EXPECT_EQ(suggestRegion({{atlantic, "P1"}, {anchorage, "AK"}, {atlantic, "vi"}}, usa), "VI");
}

TEST_F(WrittenCodesTest, PointsOffThePictureAreCounted) {
    auto r = request({});
    r.points = {{40, -74}, {61, -150}, {-5, -5}};
    const RenderResult result = render(r);
    EXPECT_EQ(result.points, 3u);
    EXPECT_EQ(result.pointsOutside, 2u);
}

}  // namespace
}  // namespace zembra::render::test
