// Regions: what a --region text names, the bounds each gets from the shipped boundary
// data, and maps drawn for them, written with their world files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <zembra/draw/region.hpp>
#include <zembra/draw/regionmap.hpp>
#include <zembra/runtime.hpp>
#include <zembra/test/support.hpp>

using namespace zembra::draw;
namespace fs = std::filesystem;

namespace {

BoundaryData& shipped() {
    static BoundaryData data;
    return data;
}

bool inside(const Bounds& outer, const Bounds& inner) {
    return outer.minLat <= inner.minLat && outer.maxLat >= inner.maxLat &&
           outer.minLon <= inner.minLon && outer.maxLon >= inner.maxLon;
}

Colour colourAt(const zembra::imaging::Picture& picture, const Bounds& bounds, double lat,
                double lon) {
    const Projection p(bounds, picture.width, picture.height);
    const PixelPoint px = p.toPixel({lon, lat});
    const size_t i =
        (static_cast<size_t>(std::nearbyint(px.y)) * static_cast<size_t>(picture.width) +
         static_cast<size_t>(std::nearbyint(px.x))) *
        4;
    return {picture.rgba[i], picture.rgba[i + 1], picture.rgba[i + 2]};
}

double distance(const Colour& a, const Colour& b) {
    const double dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return std::sqrt(dr * dr + dg * dg + db * db);
}

}  // namespace

TEST(Region, ReadsStatesFitAndRectangles) {
    const Region nj = parseRegion("NJ");
    ASSERT_EQ(nj.kind, Region::Kind::States);
    ASSERT_EQ(nj.states.size(), 1u);
    EXPECT_EQ(nj.states[0]->fips, "34");
    EXPECT_EQ(parseRegion(" new jersey ").states, nj.states);
    const Region three = parseRegion("NY, New Jersey,ct,NJ");
    ASSERT_EQ(three.states.size(), 3u) << "a state named twice is drawn once";
    EXPECT_EQ(three.states[2]->postal, "CT");
    EXPECT_EQ(parseRegion("Virgin Islands").states[0]->postal, "VI");
    EXPECT_EQ(parseRegion("FIT").kind, Region::Kind::Fit);
    const Region box = parseRegion("40,45,-80,-70");
    EXPECT_EQ(box.kind, Region::Kind::Box);
    EXPECT_EQ(box.box, (Bounds{40, 45, -80, -70}));
    for (const char* bad : {"", "Jersey", "NJ,", "NJ,XX", "40,45,-80", "45,40,-80,-70", "fit,NJ"}) {
        const auto e = zembra::test::errorOf([&] { (void)parseRegion(bad); });
        ASSERT_TRUE(e) << bad;
        EXPECT_EQ(e->number(), zembra::err::kInvalidArgument) << bad;
    }
}

TEST(Region, StatesGetTheirOutlinesWithAMargin) {
    const Topology& outlines = shipped().states();
    const StateInfo* nj[] = {findState("NJ")};
    const Bounds b = statesBounds(nj, outlines);
    // New Jersey reaches from Cape May (38.93 N) to High Point (41.36 N), from the
    // Delaware (75.56 W) to Sandy Hook (73.89 W).
    EXPECT_TRUE(inside(b, {38.93, 41.36, -75.56, -73.9})) << b.minLat << " " << b.maxLat;
    EXPECT_TRUE(inside({38.7, 41.6, -75.8, -73.7}, b)) << "only a small margin";
    // Alaska's Aleutians run past 180 degrees: the map continues west of -180.
    const StateInfo* ak[] = {findState("Alaska")};
    const Bounds alaska = statesBounds(ak, outlines);
    EXPECT_LT(alaska.minLon, -185);
    EXPECT_GT(alaska.maxLon, -135);
    EXPECT_LT(alaska.maxLon, -125);
    // A state too small to show alone gets the minimum span around it.
    const StateInfo* dc[] = {findState("DC")};
    const Bounds washington = statesBounds(dc, outlines);
    EXPECT_NEAR(washington.maxLat - washington.minLat, kMinimumSpan, 1e-9);
    EXPECT_TRUE(washington.contains(38.9, -77.03));
}

TEST(Region, FitSpansTheCodesOfTheStatesDcPrAndVi) {
    const FitArea area(shipped().states());
    double lon = -74.5;
    EXPECT_TRUE(area.contains(40.5, lon));
    lon = 173.2;  // Attu, far out on the Aleutians
    EXPECT_TRUE(area.contains(52.9, lon));
    EXPECT_NEAR(lon, 173.2 - 360, 1e-9);
    lon = -64.9;  // St. Thomas
    EXPECT_TRUE(area.contains(18.34, lon));
    lon = 144.8;  // Guam
    EXPECT_FALSE(area.contains(13.45, lon));
    lon = -170.7;  // American Samoa
    EXPECT_FALSE(area.contains(-14.28, lon));

    using zembra::render::LatLon;
    const std::vector<std::optional<LatLon>> one{LatLon{40.507194, -74.52128}, std::nullopt,
                                                 LatLon{13.45, 144.8}};
    const Bounds single = fitBounds(one, area);
    EXPECT_NEAR(single.maxLat - single.minLat, kMinimumSpan, 1e-9);
    EXPECT_TRUE(single.contains(40.507194, -74.52128));
    EXPECT_FALSE(single.contains(13.45, 144.8));
    const std::vector<std::optional<LatLon>> spread{LatLon{18.2, -66.7}, LatLon{71.29, -156.79},
                                                    LatLon{52.9, 173.2}};
    const Bounds wide = fitBounds(spread, area);
    EXPECT_LT(wide.minLon, 173.2 - 360);
    EXPECT_GT(wide.maxLon, -66.7);
    EXPECT_LT(wide.minLat, 18.2);
    EXPECT_GT(wide.maxLat, 71.29);
    const std::vector<std::optional<LatLon>> none{LatLon{13.45, 144.8}, std::nullopt};
    EXPECT_THROW(fitBounds(none, area), zembra::Error);
}

TEST(RegionMap, NewJerseyIsDrawnAsTheShippedMapsAreAndRoundTripsThroughItsWorldFile) {
    const Region region = parseRegion("NJ");
    const Bounds bounds = regionBounds(region, shipped(), [] {
        ADD_FAILURE() << "a state needs no positions";
        return std::vector<std::optional<zembra::render::LatLon>>{};
    });
    DrawnMap map = drawMap(shipped(), bounds, 800);
    const zembra::imaging::Picture picture = map.canvas.picture();
    EXPECT_EQ(picture.width, 800);
    EXPECT_EQ(picture.height, heightForWidth(bounds, 800));
    const auto colourAtPlace = [&](double lat, double lon) {
        return colourAt(picture, bounds, lat, lon);
    };
    const MapStyle style;
    EXPECT_LT(distance(colourAtPlace(40.22, -74.76), style.usLand), 3) << "Trenton";
    EXPECT_LT(distance(colourAtPlace(39.3, -74.0), style.water), 3) << "the Atlantic";
    EXPECT_LT(distance(colourAtPlace(39.05, -75.15), style.water), 3) << "Delaware Bay";
    EXPECT_LT(distance(colourAtPlace(39.9, -75.3), style.usLand), 3) << "Pennsylvania";

    zembra::test::TempDir dir("regionmap");
    const fs::path file = dir.path() / "nj.png";
    const fs::path world = writeMap(map, file, zembra::render::OutputFormat::Png);
    EXPECT_EQ(world, dir.path() / "nj.pgw");
    const auto read = zembra::render::readWorldFile(world, picture.width, picture.height);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, bounds);
    EXPECT_EQ(zembra::render::boundsForMap(file), bounds);
    EXPECT_EQ(zembra::imaging::readPicture(file.string()).rgba, picture.rgba);
    // Drawn into memory for a render, the same map, which the engine reads; it goes away
    // afterwards.
    fs::path temporary;
    {
        const TemporaryMap copy(shipped().layers(), bounds, 800);
        temporary = copy.path();
        const auto back = zembra::imaging::readPicture(temporary.string());
        EXPECT_EQ(back.width, 800);
        EXPECT_EQ(back.rgba, picture.rgba);
        EXPECT_TRUE(back.rgba.isMapped()) << "read where it was drawn, not copied";
    }
    EXPECT_FALSE(fs::exists(temporary));
    // Into a folder that does not exist: an error naming the file, nothing written.
    const auto e = zembra::test::errorOf([&] {
        writeMap(map, dir.path() / "absent" / "nj.jpg", zembra::render::OutputFormat::Jpeg);
    });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), zembra::err::kPathNotFound);
}

TEST(RegionMap, DataNarrowedToTheMapDrawsTheSamePicture) {
    // New Jersey, and Alaska across the 180th meridian, from whole data and from data
    // read for that map alone: the pictures agree but for rounding in anti-aliasing.
    for (const char* name : {"NJ", "AK"}) {
        const Bounds bounds = regionBounds(parseRegion(name), shipped(), [] {
            return std::vector<std::optional<zembra::render::LatLon>>{};
        });
        BoundaryData narrowed;
        narrowed.drawOnlyWithin(bounds);
        DrawnMap whole = drawMap(shipped(), bounds, 600);
        DrawnMap near = drawMap(narrowed, bounds, 600);
        const auto a = whole.canvas.pixels();
        const auto b = near.canvas.pixels();
        ASSERT_EQ(a.size(), b.size()) << name;
        size_t differing = 0;
        int most = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            const int d = std::abs(int(a[i]) - int(b[i]));
            differing += d != 0;
            most = std::max(most, d);
        }
        EXPECT_LE(most, 2) << name;
        EXPECT_LT(differing, a.size() / 10000) << name;
        // Narrowed, the world data holds far fewer points.
        size_t wholePoints = 0, nearPoints = 0;
        for (const Line& arc : shipped().world().arcs()) wholePoints += arc.size();
        for (const Line& arc : narrowed.world().arcs()) nearPoints += arc.size();
        EXPECT_LT(nearPoints * 4, wholePoints) << name;
    }
}

TEST(RegionMap, TextDataAloneDrawsWhatTheCompiledDataDraws) {
    // A boundary folder of the TopoJSON files only (one a user keeps, say): read as text,
    // narrowed the same way, the same map to the byte.
    const zembra::test::TempDir dir("boundaries");
    for (const auto& entry : fs::directory_iterator(shipped().folder())) {
        if (entry.path().extension() == ".json") fs::copy(entry.path(), dir.path());
        EXPECT_NE(entry.path().extension(), ".partial");
    }
    ASSERT_TRUE(fs::exists(shipped().folder() / "countries-10m.ztopo"));
    const Bounds bounds = regionBounds(parseRegion("NJ"), shipped(), [] {
        return std::vector<std::optional<zembra::render::LatLon>>{};
    });
    BoundaryData compiled, text(dir.path());
    compiled.drawOnlyWithin(bounds);
    text.drawOnlyWithin(bounds);
    DrawnMap a = drawMap(compiled, bounds, 500);
    DrawnMap b = drawMap(text, bounds, 500);
    EXPECT_EQ(a.canvas.picture().rgba, b.canvas.picture().rgba);
    EXPECT_EQ(compiled.world().arcs(), text.world().arcs());
}

TEST(RegionMap, RefusesWidthsThePictureLimitsCannotHold) {
    const Bounds usa{24, 50, -125, -66.44};
    EXPECT_EQ(checkedHeight(usa, 2000), 1112);
    EXPECT_THROW(checkedHeight(usa, 0), zembra::Error);
    EXPECT_THROW(checkedHeight(usa, kMaxSide + 1), zembra::Error);
    // 20000 x 11120 is within each side's limit but far beyond the pixel limit.
    const auto e = zembra::test::errorOf([&] { checkedHeight(usa, 20000); });
    ASSERT_TRUE(e);
    EXPECT_NE(e->description().find("choose a smaller width"), std::string::npos);
}
