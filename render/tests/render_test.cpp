// render() and lookupPixel() over the real engine, created by name, reading a private
// SQLite zip-code table.
#include <sqlite3.h>

#include <atomic>
#include <memory>
#include <zembra/render/render.hpp>
#include <zembra/test/odbc_ini.hpp>

#include "engine_fixtures.hpp"
#include "imaging.hpp"
#include "support.hpp"

namespace zembra::render::test {
namespace {

class RenderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        writeSquare(dir_ / "map.png", 100, {40, 90, 160});
        writeSquare(dir_ / "marker.png", 3, {220, 20, 20});
        std::string rows;
        for (int i = 0; i < 120; ++i) {
            rows += "('" + std::to_string(10000 + i) + "', " + std::to_string(10 + i % 80) + ", -" +
                    std::to_string(10 + i % 70) + "), ";
        }
        rows +=
            "('08873', 40.0, -74.0), ('NULLROW', NULL, -80), ('TEXTROW', 'north', -80), "
            "('FARROW', 1e300, -80)";
        runSql(dir_ / "zips.db",
               "CREATE TABLE zips (zipcode TEXT, latitude, Longitude); INSERT INTO zips VALUES " +
                   rows);
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

    std::vector<std::string> codes(int count) const {
        std::vector<std::string> out;
        for (int i = 0; i < count; ++i) out.push_back(std::to_string(10000 + i));
        return out;
    }

    zembra::test::OdbcIni odbc_;  // no system data source named "zipcodes" interferes
    TempDir dir_;
    std::optional<ScopedEnv> database_;
};

TEST_F(RenderTest, CodesWithControlCharactersAreNotFoundInOrderAndTheRestIsPlaced) {
    auto r = request({"08873",
                      std::string("08\0"
                                  "873",
                                  6),
                      "zz", "BAD\x1b[2J", "10001",
                      "\xC2\x9B"
                      "31m",
                      "08873"});
    r.chunkSize = 3;
    std::vector<Progress> seen;
    r.progress = [&](const Progress& p) { seen.push_back(p); };
    const RenderResult result = render(r);
    EXPECT_EQ(result.requested, 7u);
    EXPECT_EQ(result.notFound, (std::vector<std::string>{std::string("08\0"
                                                                     "873",
                                                                     6),
                                                         "zz", "BAD\x1b[2J",
                                                         "\xC2\x9B"
                                                         "31m"}));
    EXPECT_EQ(result.placed(), 3u);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].done, 3u);
    EXPECT_EQ(seen[2].done, 7u);
    EXPECT_EQ(seen[2].total, 7u);
    ASSERT_GT(result.bytes.size(), 8u);
    const auto picture = imaging::decode(result.bytes, "result");
    EXPECT_EQ(picture.width, 100);
    // 08873 at 40, -74: pixel (26, 60).
    const uint8_t* px = picture.rgba.data() + (size_t(60) * 100 + 26) * 4;
    EXPECT_EQ(px[0], 220);
    EXPECT_FALSE(result.written);
}

TEST_F(RenderTest, EveryCodeRefusedStillSavesThePlainMap) {
    auto r = request({std::string(1, '\0'), "\t"});
    r.output = dir_ / "out.bmp";
    r.format = OutputFormat::Bmp;
    const RenderResult result = render(r);
    EXPECT_EQ(result.notFound.size(), 2u);
    EXPECT_EQ(result.placed(), 0u);
    EXPECT_EQ(result.written, dir_ / "out.bmp");
    EXPECT_EQ(readText(dir_ / "out.bmp").substr(0, 2), "BM");
}

// A bad row among many codes: the error keeps its number and source and names the code.
TEST_F(RenderTest, ABadCoordinateNamesItsZipCode) {
    struct Case {
        const char* code;
        int32_t number;
    };
    for (const Case c : {Case{"NULLROW", err::kInvalidUseOfNull},
                         Case{"TEXTROW", err::kTypeMismatch}, Case{"FARROW", err::kOverflow}}) {
        SCOPED_TRACE(c.code);
        auto zips = codes(90);
        zips.insert(zips.begin() + 57, c.code);
        auto r = request(zips);
        r.chunkSize = 40;
        const auto e = errorOf([&] { render(r); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->number(), c.number);
        // The engine's own text follows the code that caused it.
        const std::string prefix = std::string("zip code ") + c.code + ": ";
        EXPECT_EQ(e->description().rfind(prefix, 0), 0u) << e->description();
        EXPECT_NE(e->description().find(Error::standard(c.number).description()), std::string::npos)
            << e->description();
    }
}

TEST_F(RenderTest, CancelStopsBeforeTheNextPieceAndSavesNothing) {
    std::atomic<bool> cancel{false};
    auto r = request(codes(100));
    r.chunkSize = 10;
    r.output = dir_ / "out.png";
    size_t calls = 0;
    r.progress = [&](const Progress&) {
        if (++calls == 2) cancel = true;
    };
    r.cancel = &cancel;
    EXPECT_THROW(render(r), Cancelled);
    EXPECT_EQ(calls, 2u);
    EXPECT_FALSE(fs::exists(dir_ / "out.png"));
}

TEST_F(RenderTest, PointsArePlottedAfterTheCodesAndCounted) {
    auto r = request({"08873"});
    r.points = {{90.0, -90.0}, {10.0, -10.0}};
    r.chunkSize = 1;
    std::vector<size_t> done;
    r.progress = [&](const Progress& p) { done.push_back(p.done); };
    const RenderResult result = render(r);
    EXPECT_EQ(result.points, 2u);
    EXPECT_EQ(done, (std::vector<size_t>{1, 2, 3}));
    const auto picture = imaging::decode(result.bytes, "result");
    EXPECT_EQ(picture.rgba[(size_t(10) * 100 + 10) * 4], 220);
    EXPECT_EQ(picture.rgba[(size_t(90) * 100 + 90) * 4], 220);
}

TEST_F(RenderTest, EngineErrorsPassUnchanged) {
    // An empty request: the engine refuses the empty list as always.
    EXPECT_EQ(errorOf([&] { render(request({})); })->number(), err::kSubscript);
    auto r = request({"08873"});
    r.map = dir_ / "missing.png";
    const auto e = errorOf([&] { render(r); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), err::kFileNotFound);
}

TEST_F(RenderTest, LookupAnswersTheCodeAndPositionUnderAPixel) {
    LookupRequest r;
    r.map = dir_ / "map.png";
    r.bounds = kGrid;
    r.x = 26;
    r.y = 60;
    const LookupResult hit = lookupPixel(r);
    EXPECT_EQ(hit.zip, "08873");
    EXPECT_EQ(hit.position, (LatLon{40.0, -74.0}));
    r.x = 99;
    r.y = 1;
    EXPECT_EQ(lookupPixel(r).zip, std::nullopt);

    // A world file's origin is what the engine answers for the top-left pixel.
    const Bounds odd{12.345, 47.125, -123.456, -67.89};
    writeWorldFile(dir_ / "map.pgw", odd, 100, 100);
    const auto read = boundsForMap(dir_ / "map.png");
    ASSERT_TRUE(read);
    r.bounds = *read;
    r.x = 0;
    r.y = 0;
    EXPECT_EQ(lookupPixel(r).position, (LatLon{47.125, -123.456}));
}

TEST(Formats, NamesAndExtensions) {
    EXPECT_EQ(formatForExtension(".JPEG"), OutputFormat::Jpeg);
    EXPECT_EQ(formatForExtension("png"), OutputFormat::Png);
    EXPECT_EQ(formatForExtension(".tif"), std::nullopt);
    EXPECT_EQ(formatForExtension(""), std::nullopt);
    EXPECT_EQ(formatName(OutputFormat::Jpeg), "jpg");
    EXPECT_EQ(escapeForDisplay(std::string("a\0\\b\x1b\xC2\x9B\xC3\xA9", 9)),
              "a\\x00\\\\b\\x1B\\xC2\\x9B\xC3\xA9");
    EXPECT_FALSE(hasControlCharacter("08873 \xC3\xA9"));
    // A driver's message of several lines reads as one; its other controls stay escaped.
    EXPECT_EQ(messageForDisplay("[driver] connect failed\r\n  server not found\n\n"),
              "[driver] connect failed; server not found");
    EXPECT_EQ(messageForDisplay("a\n\x1b[31mb\tc"), "a; \\x1B[31mb\\x09c");
    EXPECT_EQ(messageForDisplay("\nonly\n"), "only");
}

}  // namespace
}  // namespace zembra::render::test
