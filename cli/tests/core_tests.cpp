// Unit tests of the command line's Qt-free core: option values, output formats, input readers
// and the images folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <zembra/runtime.hpp>
#include <zembra/test/support.hpp>

#include "core/images.hpp"
#include "core/option_values.hpp"
#include "core/output_format.hpp"
#include "core/points_input.hpp"
#include "core/usage_error.hpp"
#include "core/zip_input.hpp"

namespace zc = zembra::cli;
namespace fs = std::filesystem;

namespace {

std::string usageMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const zc::UsageError& e) {
        return e.what();
    }
    ADD_FAILURE() << "no UsageError raised";
    return {};
}

using zembra::test::TempDir;

// Raises nothing but the error's number and description matter: the raised Error, or a
// recorded failure.
zembra::Error engineError(const std::function<void()>& f) {
    return zembra::test::errorOf(f).value_or(zembra::Error(0, "", ""));
}

// An empty file at `relative` below the folder, its folders made.
void touch(const TempDir& dir, const fs::path& relative) {
    fs::create_directories((dir.path() / relative).parent_path());
    zembra::test::writeText(dir.path() / relative, "x");
}

// A reader of a file holding `bytes`.
std::unique_ptr<zembra::render::CsvReader> reader(const TempDir& dir, const std::string& name,
                                                  const std::string& bytes) {
    zembra::test::writeText(dir.path() / name, bytes);
    return std::make_unique<zembra::render::CsvReader>(dir.path() / name);
}

}  // namespace

TEST(Bounds, ParsesFourNumbersAndRefusesNonsense) {
    EXPECT_EQ(zc::parseBounds("24,50,-125,-66.44"), (zembra::render::Bounds{24, 50, -125, -66.44}));
    EXPECT_EQ(zc::parseBounds(" 18.5 , 22.5,-161 ,-154"),
              (zembra::render::Bounds{18.5, 22.5, -161, -154}));
    EXPECT_EQ(zc::parseBounds(zc::formatBounds({24, 50, -125, -66.44})),
              (zembra::render::Bounds{24, 50, -125, -66.44}));

    EXPECT_NE(usageMessage([] { zc::parseBounds("24,50,-125"); }).find("four numbers"),
              std::string::npos);
    EXPECT_NE(usageMessage([] { zc::parseBounds("24,50,-125,-66,1"); }).find("four numbers"),
              std::string::npos);
    EXPECT_NE(usageMessage([] { zc::parseBounds("24,fifty,-125,-66"); }).find("'fifty'"),
              std::string::npos);
    EXPECT_NE(usageMessage([] { zc::parseBounds("24,,-125,-66"); }).find("not a number"),
              std::string::npos);
    // Equal or swapped pairs would divide by zero or mirror the picture.
    EXPECT_NE(usageMessage([] { zc::parseBounds("50,24,-125,-66"); }).find("minimum latitude"),
              std::string::npos);
    EXPECT_NE(usageMessage([] { zc::parseBounds("24,50,-66,-66"); }).find("minimum longitude"),
              std::string::npos);
    EXPECT_NE(usageMessage([] { zc::parseBounds("-91,50,-125,-66"); }).find("-90 and 90"),
              std::string::npos);
}

TEST(OutputFormat, ExtensionChoosesTheTypeWithoutRegardToCase) {
    using F = zembra::render::OutputFormat;
    EXPECT_EQ(zc::formatForPath("out/map.jpg"), F::Jpeg);
    EXPECT_EQ(zc::formatForPath("MAP.JPEG"), F::Jpeg);
    EXPECT_EQ(zc::formatForPath("a.b/map.Gif"), F::Gif);
    EXPECT_EQ(zc::formatForPath("map.BMP"), F::Bmp);
    EXPECT_EQ(zc::formatForPath("map.png"), F::Png);
    EXPECT_NE(usageMessage([] { zc::formatForPath("map.tif"); }).find("'.tif'"), std::string::npos);
    EXPECT_NE(usageMessage([] { zc::formatForPath("a.png/map"); }).find("no extension"),
              std::string::npos);
    EXPECT_NE(usageMessage([] { zc::formatForPath("map.png.txt"); }).find(".jpg, .gif"),
              std::string::npos);
    EXPECT_EQ(zc::formatForName("PNG"), F::Png);
    EXPECT_NE(usageMessage([] { zc::formatForName(".png"); }).find("jpg, gif"), std::string::npos);
    EXPECT_EQ(zc::checkCount("2000"), "");
    EXPECT_EQ(zc::checkCount("0"), "must be a whole number of at least 1, not '0'");
    EXPECT_NE(zc::checkCount("-1"), "");
    EXPECT_NE(zc::checkCount("99999999999999999999999"), "");
}

TEST(ZipInput, OneCodePerLine) {
    TempDir dir;
    auto in = reader(dir, "codes.txt",
                     "\xEF\xBB\xBF"
                     "08873\r\n  08232  \n\n\t\n\"10001\"\n08873\n");
    zc::CodeList codes;
    zc::readZipLines(*in, codes);
    EXPECT_EQ(codes.items(), (std::vector<std::string>{"08873", "08232", "10001"}));
    EXPECT_EQ(codes.repeats(), 1u);

    auto table = reader(dir, "codes.txt", "zip\n08873,NJ\n");
    const auto message = usageMessage([&] { zc::readZipLines(*table, codes); });
    EXPECT_NE(message.find("codes.txt, line 2"), std::string::npos);
    EXPECT_NE(message.find("--column"), std::string::npos);
}

TEST(ZipInput, CsvColumnByHeaderName) {
    TempDir dir;
    auto in = reader(dir, "people.csv",
                     "Name, Zip ,State\n"
                     "Alice,08873,NJ\n"
                     "Bob, 08232 ,NJ\n"
                     "Carol,,NY\n"
                     "Dan\n"
                     "\"Eve, Jr.\",\"99501\",AK\n");
    zc::CodeList codes;
    zc::readZipColumn(*in, "zip", codes);
    EXPECT_EQ(codes.items(), (std::vector<std::string>{"08873", "08232", "99501"}));

    auto wrong = reader(dir, "people.csv", "Name,Zip\nAlice,08873\n");
    const auto message = usageMessage([&] { zc::readZipColumn(*wrong, "zipcode", codes); });
    EXPECT_NE(message.find("no column 'zipcode'"), std::string::npos);
    EXPECT_NE(message.find("Name, Zip"), std::string::npos);

    auto empty = reader(dir, "people.csv", "");
    EXPECT_NE(usageMessage([&] { zc::readZipColumn(*empty, "zip", codes); }).find("empty"),
              std::string::npos);
}

TEST(ZipInput, RepeatsDroppedInOrderAndShortCodesNoticed) {
    zc::CodeList codes;
    for (const char* code : {"08873", "08232", "08873", "10001", "08232"}) codes.add(code);
    EXPECT_EQ(codes.items(), (std::vector<std::string>{"08873", "08232", "10001"}));
    EXPECT_EQ(codes.repeats(), 2u);
    EXPECT_TRUE(zc::hasShortNumericCode({"99999", "8873"}));
    EXPECT_FALSE(zc::hasShortNumericCode({"99999", "ABC", "O'1"}));
}

TEST(PointsInput, PairsAndHeader) {
    const auto p = zc::parsePoint(" 40.7 , -74 ");
    EXPECT_DOUBLE_EQ(p.lat, 40.7);
    EXPECT_DOUBLE_EQ(p.lon, -74.0);
    EXPECT_NE(usageMessage([] { zc::parsePoint("40.7"); }).find("LAT,LON"), std::string::npos);
    EXPECT_NE(usageMessage([] { zc::parsePoint("40.7,-74,3"); }).find("LAT,LON"),
              std::string::npos);
    EXPECT_NE(usageMessage([] { zc::parsePoint("north,-74"); }).find("'north'"), std::string::npos);
    EXPECT_NE(usageMessage([] { zc::parsePoint("95,-74"); }).find("-90..90"), std::string::npos);

    TempDir dir;
    auto in = reader(dir, "pts.csv", "latitude,longitude\n40.7,-74\n\n\"21.3\",-157.8\n");
    std::vector<zembra::render::LatLon> points;
    zc::readPoints(*in, points);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_DOUBLE_EQ(points[1].lon, -157.8);
    // A broken first pair is an error, not a header.
    auto broken = reader(dir, "pts.csv", "40.7;-74\n21.3,-157.8\n");
    EXPECT_NE(usageMessage([&] { zc::readPoints(*broken, points); }).find("pts.csv, line 1"),
              std::string::npos);
}

TEST(Images, ListingIsCaseInsensitiveAndFiltersByExtension) {
    TempDir dir;
    for (const char* name :
         {"usa.jpg", "Hawaii_detail.JPG", "alaska.jpg", "map.jpeg", "map.png", "noext", "b.JpG"}) {
        touch(dir, fs::path("Maps") / name);
    }
    fs::create_directories(dir.path() / "Maps" / "folder.jpg");
    EXPECT_EQ(zc::listPictures(dir.path() / "Maps", "jpg"),
              (std::vector<std::string>{"alaska.jpg", "b.JpG", "Hawaii_detail.JPG", "usa.jpg"}));
    EXPECT_TRUE(zc::listPictures(dir.path() / "missing", "jpg").empty());
}

TEST(Images, PicturesByPathOrByName) {
    TempDir dir;
    touch(dir, "Maps/usa.jpg");
    touch(dir, "Maps/Hawaii.JPG");
    touch(dir, "elsewhere/mine.jpg");
    const auto maps = dir.path() / "Maps";
    EXPECT_EQ(zc::resolvePicture("usa", maps, "jpg", "map"), maps / "usa.jpg");
    EXPECT_EQ(zc::resolvePicture("USA.jpg", maps, "jpg", "map"), maps / "usa.jpg");
    EXPECT_EQ(zc::resolvePicture("hawaii", maps, "jpg", "map"), maps / "Hawaii.JPG");
    const auto mine = dir.path() / "elsewhere" / "mine.jpg";
    EXPECT_EQ(zc::resolvePicture(mine.string(), maps, "jpg", "map"), mine);

    const auto byName = engineError([&] { zc::resolvePicture("alaska", maps, "jpg", "map"); });
    EXPECT_EQ(byName.number(), zembra::err::kFileNotFound);
    EXPECT_NE(byName.description().find("no map 'alaska'"), std::string::npos);
    EXPECT_NE(byName.description().find("Hawaii.JPG, usa.jpg"), std::string::npos);
    const auto byPath =
        engineError([&] { zc::resolvePicture("/no/such/map.jpg", maps, "jpg", "map"); });
    EXPECT_EQ(byPath.number(), zembra::err::kFileNotFound);
    EXPECT_EQ(byPath.description(), "File not found: /no/such/map.jpg");
}

TEST(Images, DefaultMarkerIsTheFifthInNameOrder) {
    TempDir dir;
    const auto overlays = dir.path() / "Overlays";
    EXPECT_EQ(engineError([&] { zc::defaultMarker(overlays); }).number(),
              zembra::err::kPathNotFound);
    fs::create_directories(overlays);
    EXPECT_EQ(engineError([&] { zc::defaultMarker(overlays); }).number(),
              zembra::err::kFileNotFound);
    touch(dir, "Overlays/pin-blue.png");
    touch(dir, "Overlays/Dot-Green.png");
    EXPECT_EQ(zc::defaultMarker(overlays), overlays / "Dot-Green.png");
    for (const char* name : {"dot-black.png", "Pin-Red.png", "dot-red.png", "readme.txt"}) {
        touch(dir, fs::path("Overlays") / name);
    }
    // dot-black, Dot-Green, dot-red, pin-blue, Pin-Red: the fifth.
    EXPECT_EQ(zc::defaultMarker(overlays), overlays / "Pin-Red.png");
}
