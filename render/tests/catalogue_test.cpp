// The map catalogue: the name rule of the shipped maps and world files for any other map.
#include <charconv>
#include <cmath>
#include <random>
#include <sstream>
#include <zembra/render/catalogue.hpp>

#include "support.hpp"

namespace zembra::render::test {
namespace {

std::vector<std::string> lines(const fs::path& path) {
    std::istringstream in(readText(path));
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

double number(const std::string& text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

TEST(NameRule, FirstKeyInTheLowerCasedFileNameDecides) {
    const auto usa = boundsForMapName("usa.jpg");
    ASSERT_TRUE(usa);
    EXPECT_EQ(*usa, (Bounds{24.0, 50.0, -125.0, -66.44}));
    EXPECT_EQ(boundsForMapName("My-HAWAII-map.JPG"), (Bounds{18.5, 22.5, -161.0, -154.0}));
    // "usa" is tried first, whatever the order of the keys in the name.
    EXPECT_EQ(boundsForMapName("hawaii-alaska-usa.jpg"), usa);
    EXPECT_EQ(boundsForMapName("Alaska_USA.jpg"), usa);
    EXPECT_EQ(boundsForMapName("alaska_and_hawaii.jpg"), (Bounds{51.0, 77.0, -180.0, -125.0}));
    EXPECT_EQ(boundsForMapName("/maps/old/hawaii.jpg"), boundsForMapName("hawaii.jpg"));
    // Folders above the file do not count.
    EXPECT_EQ(boundsForMapName("/maps/usa/world.jpg"), std::nullopt);
    EXPECT_EQ(boundsForMapName("world.jpg"), std::nullopt);
    ASSERT_EQ(mapKeys().size(), 3u);
    EXPECT_EQ(mapKeys()[0].key, "usa");
}

TEST(WorldFile, NameTakesTheFirstAndLastLetterOfTheExtension) {
    EXPECT_EQ(worldFilePath("/m/usa.jpg"), fs::path("/m/usa.jgw"));
    EXPECT_EQ(worldFilePath("a.b.png"), fs::path("a.b.pgw"));
    EXPECT_EQ(worldFilePath("x.jpeg"), fs::path("x.jgw"));
    EXPECT_EQ(worldFilePath("X.TIF"), fs::path("X.TFW"));
    EXPECT_EQ(worldFilePath("plain"), fs::path("plain.w"));
}

// The shipped maps, copied under names that hold no key, get their bounds back from the
// world files written for them, to the last bit, and the file's origin is the engine's
// mapping of the top-left pixel.
TEST(WorldFile, ShippedMapsRoundTripExactly) {
    TempDir dir;
    for (const MapKey& key : mapKeys()) {
        SCOPED_TRACE(std::string(key.key));
        const fs::path picture = dir / ("copy-of-" + std::to_string(key.bounds.minLat) + ".jpg");
        fs::copy_file(fs::path(ZEMBRA_ASSETS_MAPS) / (std::string(key.key) + ".jpg"), picture);
        EXPECT_EQ(boundsForMap(picture), std::nullopt);  // no key, no world file yet

        const auto size = std::string(key.key) == "usa"      ? std::pair{2000, 1112}
                          : std::string(key.key) == "alaska" ? std::pair{1500, 1618}
                                                             : std::pair{1800, 1098};
        writeWorldFile(worldFilePath(picture), key.bounds, size.first, size.second);
        const auto read = boundsForMap(picture);
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, key.bounds);

        const auto text = lines(worldFilePath(picture));
        ASSERT_EQ(text.size(), 6u);
        EXPECT_EQ(text[1], "0");
        EXPECT_EQ(text[2], "0");
        EXPECT_EQ(number(text[4]), key.bounds.minLon);
        EXPECT_EQ(number(text[5]), key.bounds.maxLat);
        EXPECT_GT(number(text[0]), 0);
        EXPECT_LT(number(text[3]), 0);
    }
}

TEST(WorldFile, NameRuleComesFirstAndAPictureWithoutEitherHasNoBounds) {
    TempDir dir;
    const fs::path usa = dir / "usa-detail.jpg";
    fs::copy_file(fs::path(ZEMBRA_ASSETS_MAPS) / "hawaii.jpg", usa);
    writeWorldFile(worldFilePath(usa), Bounds{1, 2, 3, 4}, 1800, 1098);
    EXPECT_EQ(boundsForMap(usa), boundsForMapName("usa.jpg"));
}

// Bounds as people type them (two decimals) and picture sizes up to 6000 pixels: read
// back exactly in most cases, and never further off than a few units in the last
// place.
TEST(WorldFile, TypedBoundsComeBackExactOrWithinAFewUnitsInTheLastPlace) {
    TempDir dir;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> lat(-9000, 9000);
    std::uniform_int_distribution<int> lon(-18000, 18000);
    std::uniform_int_distribution<int> size(1, 6000);
    int exact = 0;
    int total = 0;
    const auto close = [](double a, double b) {
        return std::abs(a - b) <=
                   8 * (std::nextafter(std::max(std::abs(a), std::abs(b)), INFINITY) -
                        std::max(std::abs(a), std::abs(b))) ||
               std::abs(a - b) < 1e-12;
    };
    for (int i = 0; i < 300; ++i) {
        double a = lat(rng) / 100.0, b = lat(rng) / 100.0;
        double c = lon(rng) / 100.0, d = lon(rng) / 100.0;
        if (a == b || c == d) continue;
        const Bounds bounds{std::min(a, b), std::max(a, b), std::min(c, d), std::max(c, d)};
        const int w = size(rng);
        const int h = size(rng);
        writeWorldFile(dir / "m.jgw", bounds, w, h);
        const auto read = readWorldFile(dir / "m.jgw", w, h);
        ASSERT_TRUE(read);
        ++total;
        if (*read == bounds) ++exact;
        EXPECT_TRUE(close(read->minLat, bounds.minLat) && close(read->maxLat, bounds.maxLat) &&
                    close(read->minLon, bounds.minLon) && close(read->maxLon, bounds.maxLon))
            << i;
    }
    EXPECT_GT(exact, total * 3 / 4);
    std::cout << exact << " of " << total << " typed bounds came back exactly\n";
}

TEST(WorldFile, MalformedOrRotatedFilesAreRefusedNamingTheFile) {
    TempDir dir;
    EXPECT_EQ(readWorldFile(dir / "none.jgw", 10, 10), std::nullopt);
    const auto refused = [&](const std::string& text) {
        const fs::path path = write(dir, "bad.jgw", text);
        const auto e = errorOf([&] { readWorldFile(path, 10, 10); });
        if (!e) return std::string();
        EXPECT_EQ(e->number(), err::kTypeMismatch);
        EXPECT_NE(e->description().find("bad.jgw"), std::string::npos) << e->description();
        return e->description();
    };
    EXPECT_NE(refused("0.1\n0\n0\n-0.1\n-120\n").find("six numbers"), std::string::npos);
    EXPECT_NE(refused("0.1\n0\n0\n-0.1\n-120\n50\n7\n").find("six numbers"), std::string::npos);
    EXPECT_NE(refused("0.1\n0.01\n0\n-0.1\n-120\n50\n").find("rotated"), std::string::npos);
    EXPECT_NE(refused("0.1\n0\n0\n-0,1\n-120\n50\n").find("'-0,1' on line 4"), std::string::npos);
    EXPECT_NE(refused("0\n0\n0\n-0.1\n-120\n50\n").find("no width"), std::string::npos);
    EXPECT_NE(refused("0.1\n0\n0\n-0.1\n-120\nnan\n").find("line 6"), std::string::npos);
    EXPECT_NE(refused(std::string(70000, ' ')).find("too large"), std::string::npos);
    // A north of 1e308 leaves no room for a pixel's step: named, not a division by zero.
    EXPECT_NE(refused("0.1\n0\n0\n-0.1\n-120\n1e308\n").find("out of range"), std::string::npos);
    // Windows line ends and blanks around the numbers are fine.
    const fs::path crlf = write(dir, "ok.jgw", " 0.5\r\n0\r\n0\r\n-0.25\r\n-120\r\n50\r\n");
    EXPECT_EQ(readWorldFile(crlf, 10, 8), (Bounds{48.0, 50.0, -120.0, -115.0}));
}

TEST(WorldFile, WritingRefusesWhatCannotMakeAWorldFile) {
    TempDir dir;
    const auto e = errorOf([&] {
        writeWorldFile(dir.path() / "no" / "m.jgw", {1, 2, 3, 4}, 5, 5);
    });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), err::kPathNotFound);
    EXPECT_EQ(errorOf([&] {
                  writeWorldFile(dir / "m.jgw", {1, 1, 3, 4}, 5, 5);
              })->number(),
              err::kInvalidArgument);
    EXPECT_EQ(errorOf([&] {
                  writeWorldFile(dir / "m.jgw", {1, 2, 3, 4}, 0, 5);
              })->number(),
              err::kInvalidArgument);
}

TEST(WorldFile, APictureThatIsNoPictureRaisesThePictureError) {
    TempDir dir;
    const fs::path picture = write(dir, "mine.jpg", "not a picture");
    writeWorldFile(worldFilePath(picture), {1, 2, 3, 4}, 5, 5);
    const auto e = errorOf([&] { boundsForMap(picture); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), err::kEngine);
}

}  // namespace
}  // namespace zembra::render::test
