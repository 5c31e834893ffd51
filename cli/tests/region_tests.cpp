// Maps drawn for a place: `zembra map --region` and `zembra render --region`, run as the
// built program over the real engine, boundary data and zip-code database. A drawn map
// with its world file must work like a shipped map: codes land on land, and the pixel of
// a code answers that code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <zembra/render/catalogue.hpp>
#include <zembra/runtime.hpp>

#include "support.hpp"

namespace fs = std::filesystem;
using namespace zembra::test;

namespace {

const fs::path kExe = ZEMBRA_CLI_EXE;

RunResult zembraRun(const std::vector<std::string>& args) { return runProgram(kExe, args); }

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const std::vector<ZipRow>& allCodes() {
    static const auto rows = readZipCsv(ZEMBRA_ZIPCODES_CSV);
    return rows;
}

// The picture as the engine decodes it.
Picture decoded(const fs::path& file) {
    zembra::Object map = zembra::createObject("Zembra.CMap");
    map.put("InputMapFile", zembra::Variant(file.string()));
    map.put("OutputImageType", zembra::Variant("bmp"));
    return decodeBmp(map.get("OutputMap").toBytes());
}

double distance(const Rgb& a, const Rgb& b) {
    const double dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return std::sqrt(dr * dr + dg * dg + db * db);
}

// The shipped maps' sea colour and the distance below which a pixel is water.
constexpr Rgb kWater{170, 200, 230};
constexpr double kWaterDistance = 30;

// New Jersey's map, drawn once for the tests below, and the demo's list of its codes.
struct NewJersey {
    ScratchDir dir{"region-nj"};
    fs::path map = dir.path() / "nj.jpg";
    fs::path list = dir.path() / "nj.txt";
    RunResult drawn;

    NewJersey() {
        drawn = zembraRun({"map", "--region", "NJ", "-o", map.string()});
        std::ofstream out(list);
        for (const auto& row : allCodes())
            if (row.state == "NJ") out << row.code << '\n';
    }
};

const NewJersey& newJersey() {
    static const NewJersey nj;
    return nj;
}

}  // namespace

TEST(RegionMap, NewJerseyIsAMapLikeTheShippedOnes) {
    const NewJersey& nj = newJersey();
    ASSERT_EQ(nj.drawn.status, 0) << nj.drawn.err;
    EXPECT_EQ(nj.drawn.out, nj.map.string() + "\n");
    EXPECT_TRUE(contains(nj.drawn.err, "nj.jgw")) << nj.drawn.err;
    const Picture picture = decoded(nj.map);
    EXPECT_EQ(picture.width, 2000);
    const auto bounds = zembra::render::boundsForMap(nj.map);
    ASSERT_TRUE(bounds) << "the world file gives the bounds";
    EXPECT_TRUE(bounds->contains(38.93, -74.9) && bounds->contains(41.35, -74.7));

    // Every code inside the bounds (New York's and Pennsylvania's too) on land, the sea in
    // the shipped maps' colour.
    size_t inside = 0, land = 0;
    std::string wet;
    for (const auto& row : allCodes()) {
        const Pixel p = project(row.lat, row.lon, bounds->minLat, bounds->maxLat, bounds->minLon,
                                bounds->maxLon, picture.width, picture.height);
        if (p.x < 0 || p.y < 0 || p.x >= picture.width || p.y >= picture.height) continue;
        ++inside;
        if (distance(picture.at(static_cast<int32_t>(p.x), static_cast<int32_t>(p.y)), kWater) >=
            kWaterDistance)
            ++land;
        else if (wet.size() < 120)
            wet += " " + row.code;
    }
    std::printf("nj.jpg: %zu of %zu zip codes inside its bounds on land (%.2f%%)\n", land, inside,
                100.0 * static_cast<double>(land) / static_cast<double>(inside));
    EXPECT_GT(inside, 1000u);
    EXPECT_GE(static_cast<double>(land), 0.97 * static_cast<double>(inside)) << "on water:" << wet;
    const Pixel atlantic = project(39.3, -74.0, bounds->minLat, bounds->maxLat, bounds->minLon,
                                   bounds->maxLon, picture.width, picture.height);
    EXPECT_LT(
        distance(picture.at(static_cast<int32_t>(atlantic.x), static_cast<int32_t>(atlantic.y)),
                 kWater),
        6);
}

TEST(RegionMap, CodesAndClicksAnswerAsOnTheUsaMap) {
    const NewJersey& nj = newJersey();
    ASSERT_EQ(nj.drawn.status, 0) << nj.drawn.err;
    const auto onUsa = zembraRun({"render", "-f", nj.list.string(), "-o", nj.dir / "usa.png"});
    const auto onNj = zembraRun(
        {"render", "-f", nj.list.string(), "--map", nj.map.string(), "-o", nj.dir / "nj.png"});
    ASSERT_EQ(onUsa.status, 0) << onUsa.err;
    ASSERT_EQ(onNj.status, 0) << onNj.err;
    EXPECT_EQ(onNj.err, onUsa.err);
    EXPECT_TRUE(contains(onNj.err, "placed 598 of 598")) << onNj.err;

    // The pixel the engine puts 08873 on answers 08873, on the drawn map as on usa.jpg.
    const auto bounds = *zembra::render::boundsForMap(nj.map);
    const Picture picture = decoded(nj.map);
    const auto& somerset = *std::find_if(allCodes().begin(), allCodes().end(),
                                         [](const ZipRow& r) { return r.code == "08873"; });
    const Pixel p = project(somerset.lat, somerset.lon, bounds.minLat, bounds.maxLat, bounds.minLon,
                            bounds.maxLon, picture.width, picture.height);
    const auto lookup =
        zembraRun({"lookup", std::to_string(p.x), std::to_string(p.y), "--map", nj.map.string()});
    ASSERT_EQ(lookup.status, 0) << lookup.err;
    EXPECT_EQ(lookup.out.substr(0, 6), "08873 ") << lookup.out;
    // A sample of the state's codes answer the same at their pixels as on the USA map.
    size_t checked = 0;
    for (const auto& row : allCodes()) {
        if (row.state != "NJ" || ++checked % 60 != 0) continue;
        const Pixel q = project(row.lat, row.lon, bounds.minLat, bounds.maxLat, bounds.minLon,
                                bounds.maxLon, picture.width, picture.height);
        const auto here = zembraRun(
            {"lookup", std::to_string(q.x), std::to_string(q.y), "--map", nj.map.string()});
        // The drawn map is finer than usa.jpg: a code's own pixel answers that code.
        EXPECT_EQ(here.out.substr(0, 6), row.code + " ") << here.out;
    }
}

TEST(RegionMap, RenderDrawsTheRegionOnTheFly) {
    ScratchDir dir("region-render");
    const auto r = zembraRun({"render", "08873", "08232", "--region", "new jersey", "--width",
                              "500", "-o", dir / "nj.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "placed 2 of 2")) << r.err;
    const Picture picture = decodeBmp(readBytes(dir / "nj.bmp"));
    EXPECT_EQ(picture.width, 500);
    EXPECT_GT(picture.height, 800) << "New Jersey is taller than wide";

    // fit: the extent of the codes; Guam lies outside the area a fit spans.
    const auto fit = zembraRun({"render", "08873", "99501", "96910", "--region", "fit", "--width",
                                "400", "-o", dir / "fit.png"});
    ASSERT_EQ(fit.status, 0) << fit.err;
    EXPECT_TRUE(contains(fit.err, "outside the map (1): 96910")) << fit.err;
    const auto one = zembraRun({"map", "--region", "fit", "08873", "-o", dir / "one.jpg"});
    ASSERT_EQ(one.status, 0) << one.err;
    const auto around = zembra::render::boundsForMap(dir / "one.jpg");
    ASSERT_TRUE(around);
    EXPECT_NEAR(around->maxLat - around->minLat, 0.5, 1e-9) << "the minimum around one code";
    EXPECT_TRUE(around->contains(40.507194, -74.52128));
}

TEST(RegionMap, MistakesAreUsageErrors) {
    ScratchDir dir("region-usage");
    const std::string out = dir / "x.png";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"render", "08873", "--region", "NJ", "--map", "usa", "-o", out},
             {"render", "08873", "--region", "NJ", "--bounds", "24,50,-125,-66.44", "-o", out},
             {"render", "08873", "--width", "800", "-o", out},
             {"render", "08873", "--region", "Jersey", "-o", out},
             {"render", "08873", "--region", "NJ", "--width", "0", "-o", out},
             {"map", "--region", "NJ", "-o", "-", "--format", "png"},
             {"map", "--region", "fit", "-o", out},
             {"map", "-o", out}}) {
        std::string line;
        for (const auto& a : args) line += " " + a;
        const auto r = zembraRun(args);
        EXPECT_EQ(r.status, 2) << line << ": " << r.err;
        EXPECT_FALSE(fs::exists(out)) << line;
    }
    const auto tooLarge = zembraRun({"map", "--region", "CA", "--width", "9000", "-o", out});
    EXPECT_EQ(tooLarge.status, 1) << tooLarge.err;
    EXPECT_TRUE(contains(tooLarge.err, "choose a smaller width")) << tooLarge.err;
    const auto noFolder =
        zembraRun({"map", "--region", "NJ", "-o", (dir.path() / "absent" / "nj.jpg").string()});
    EXPECT_EQ(noFolder.status, 1);
    EXPECT_TRUE(contains(noFolder.err, "error 76")) << noFolder.err;
}
