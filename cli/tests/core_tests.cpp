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

TEST(Images, DefaultMarkerIsTheFifthInNameOrder) {
    TempDir dir;
    const auto overlays = dir.path() / "Overlays";
    const auto folders = zc::pictureFolders(dir.path().string());
    EXPECT_EQ(engineError([&] { zc::defaultMarker(folders); }).number(),
              zembra::err::kPathNotFound);
    fs::create_directories(overlays);
    EXPECT_EQ(engineError([&] { zc::defaultMarker(folders); }).number(),
              zembra::err::kFileNotFound);
    touch(dir, "Overlays/pin-blue.png");
    touch(dir, "Overlays/Dot-Green.png");
    EXPECT_EQ(zc::defaultMarker(folders), overlays / "Dot-Green.png");
    for (const char* name : {"dot-black.png", "Pin-Red.png", "dot-red.png", "readme.txt"}) {
        touch(dir, fs::path("Overlays") / name);
    }
    // dot-black, Dot-Green, dot-red, pin-blue, Pin-Red: the fifth.
    EXPECT_EQ(zc::defaultMarker(folders), overlays / "Pin-Red.png");
}
