// Reading boundary data, the engine's mapping, and drawing land and water where the
// engine will put the points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <zembra/draw/basemap.hpp>
#include <zembra/draw/boundaries.hpp>
#include <zembra/draw/canvas.hpp>
#include <zembra/draw/topojson.hpp>
#include <zembra/runtime.hpp>
#include <zembra/test/support.hpp>

#include "imaging.hpp"

using namespace zembra::draw;

namespace {

// Two unit squares side by side, quantised with scale (0.5, 0.25) and translate (10, 20),
// sharing the arc x = 12 between them. Arc 0 is the shared edge, arcs 1 and 2 the rest of
// the left ("A", numeric id) and right ("B", inside a nested collection) squares.
const char* kTwoSquares = R"({
  "type": "Topology",
  "transform": {"scale": [0.5, 0.25], "translate": [10, 20]},
  "objects": {
    "squares": {"type": "GeometryCollection", "geometries": [
      {"type": "Polygon", "id": 7, "properties": {"name": "A"}, "arcs": [[0, 1]]},
      {"type": "GeometryCollection", "geometries": [
        {"type": "MultiPolygon", "id": "B", "arcs": [[[2, -1]]]}]}
    ]}
  },
  "arcs": [
    [[4, 0], [0, 8]],
    [[4, 8], [-4, 0], [0, -8], [4, 0]],
    [[4, 0], [4, 0], [0, 8], [-4, 0]]
  ]
})";

double distance(const zembra::imaging::Picture& p, int x, int y, const Colour& c) {
    const size_t i =
        (static_cast<size_t>(y) * static_cast<size_t>(p.width) + static_cast<size_t>(x)) * 4;
    const double dr = p.rgba[i] - c.r, dg = p.rgba[i + 1] - c.g, db = p.rgba[i + 2] - c.b;
    return std::sqrt(dr * dr + dg * dg + db * db);
}

zembra::imaging::Picture draw(const MapLayers& layers, const Projection& proj) {
    const MapStyle style;
    Canvas canvas(proj.width(), proj.height(), style.water);
    drawBaseMap(canvas, layers, proj, style);
    return canvas.picture();
}

}  // namespace

TEST(TopoJson, MembersMayComeInAnyOrder) {
    // The world data has its transform last, after the arcs.
    const char* reordered = R"({
      "arcs": [[[4, 0], [0, 8]], [[4, 8], [-4, 0], [0, -8], [4, 0]],
               [[4, 0], [4, 0], [0, 8], [-4, 0]]],
      "objects": {"squares": {"type": "GeometryCollection", "geometries": [
        {"type": "Polygon", "id": 7, "arcs": [[0, 1]]},
        {"type": "MultiPolygon", "id": "B", "arcs": [[[2, -1]]]}]}},
      "transform": {"translate": [10, 20], "scale": [0.5, 0.25]},
      "type": "Topology"
    })";
    const Topology a = Topology::parse(reordered);
    const Topology b = Topology::parse(kTwoSquares);
    EXPECT_EQ(a.arcs(), b.arcs());
    const std::vector<Feature> fa = a.features("squares"), fb = b.features("squares");
    ASSERT_EQ(fa.size(), fb.size());
    for (size_t i = 0; i < fa.size(); ++i) {
        EXPECT_EQ(fa[i].id, fb[i].id);
        EXPECT_EQ(fa[i].polygons, fb[i].polygons);
    }
}

TEST(TopoJson, ArcsAwayFromTheMapKeepOnlyTheirEnds) {
    // Squares at 10..14 E; a window over them keeps every point, one beside them only
    // the ends, which still stitch into closed rings.
    const Topology near = Topology::parse(kTwoSquares, "two", Bounds{19, 23, 11, 13});
    EXPECT_EQ(near.arcs(), Topology::parse(kTwoSquares).arcs());
    const Topology away = Topology::parse(kTwoSquares, "two", Bounds{19, 23, 14.5, 15});
    EXPECT_EQ(away.arcs()[0], (Line{{12, 20}, {12, 22}})) << "two points are all it has";
    EXPECT_EQ(away.arcs()[1], (Line{{12, 22}, {12, 20}}));
    EXPECT_EQ(away.arcs()[2], (Line{{12, 20}, {12, 22}}));
    const std::vector<Feature> squares = away.features("squares");
    ASSERT_EQ(squares.size(), 2u);
    const Line& ring = squares[0].polygons.at(0).at(0);
    EXPECT_EQ(ring.front(), ring.back());
    // Longitudes are compared modulo 360: the same window a turn east, and a window
    // south of the squares.
    EXPECT_EQ(Topology::parse(kTwoSquares, "two", Bounds{19, 23, 371, 371.5}).arcs()[1].size(), 4u);
    EXPECT_EQ(Topology::parse(kTwoSquares, "two", Bounds{10, 19, 0, 30}).arcs()[1].size(), 2u);
}

TEST(TopoJson, DecodesQuantisedDeltaArcsAndStitchesRings) {
    const Topology t = Topology::parse(kTwoSquares);
    ASSERT_EQ(t.arcs().size(), 3u);
    // Deltas accumulate from the arc's start, then scale and translate apply.
    EXPECT_EQ(t.arcs()[0], (Line{{12, 20}, {12, 22}}));
    EXPECT_EQ(t.arcs()[1], (Line{{12, 22}, {10, 22}, {10, 20}, {12, 20}}));

    const auto fs = t.features("squares");
    ASSERT_EQ(fs.size(), 2u);
    EXPECT_EQ(fs[0].id, "7");
    EXPECT_EQ(fs[0].name, "A");
    EXPECT_EQ(fs[1].id, "B");
    ASSERT_EQ(fs[0].polygons.size(), 1u);
    // The shared end point of consecutive arcs appears once; the ring closes on itself.
    EXPECT_EQ(fs[0].polygons[0][0], (Line{{12, 20}, {12, 22}, {10, 22}, {10, 20}, {12, 20}}));
    // ~0 = -1 walks arc 0 backwards.
    EXPECT_EQ(fs[1].polygons[0][0], (Line{{12, 20}, {14, 20}, {14, 22}, {12, 22}, {12, 20}}));
}

TEST(TopoJson, MeshSeparatesSharedBordersFromCoasts) {
    const Topology t = Topology::parse(kTwoSquares);
    const auto borders =
        t.mesh("squares", [](const Feature& a, const Feature& b) { return &a != &b; });
    ASSERT_EQ(borders.size(), 1u);
    EXPECT_EQ(borders[0], t.arcs()[0]);
    const auto coasts =
        t.mesh("squares", [](const Feature& a, const Feature& b) { return &a == &b; });
    EXPECT_EQ(coasts.size(), 2u);
    // Filters see the features' ids, so one country's borders can be left out.
    const auto notB = t.mesh(
        "squares", [](const Feature& a, const Feature& b) { return a.id != "B" && b.id != "B"; });
    ASSERT_EQ(notB.size(), 1u);
    EXPECT_EQ(notB[0], t.arcs()[1]);
}

TEST(TopoJson, UnquantisedTopologyKeepsAbsolutePositions) {
    const Topology t = Topology::parse(R"({"type":"Topology","objects":{},
        "arcs":[[[-120.5,45.25],[-119.5,46.0]]]})");
    EXPECT_EQ(t.arcs()[0], (Line{{-120.5, 45.25}, {-119.5, 46.0}}));
}

TEST(TopoJson, RejectsMalformedInput) {
    for (const char* bad :
         {"{not json", R"({"type":"FeatureCollection"})",
          R"({"type":"Topology","arcs":[[[1]]],"objects":{}})",
          R"({"type":"Topology","arcs":[[[0,0],[1,"x"]]],"objects":{}})",
          R"({"type":"Topology","arcs":[],"objects":{"o":{"type":"Polygon","arcs":[[0.5]]}}})"}) {
        const auto e = zembra::test::errorOf([&] { (void)Topology::parse(bad, "bad.json"); });
        ASSERT_TRUE(e) << bad;
        EXPECT_EQ(e->number(), zembra::err::kInvalidArgument) << bad;
        EXPECT_NE(e->description().find("bad.json"), std::string::npos) << e->description();
    }
    // An arc reference past the arcs, forwards or backwards.
    for (const char* ref : {"1", "-2"}) {
        const std::string json = std::string(R"({"type":"Topology","arcs":[[[0,0],[1,1]]],
            "objects":{"o":{"type":"Polygon","arcs":[[)") +
                                 ref + "]]}}}";
        const auto e = zembra::test::errorOf([&] { (void)Topology::parse(json); });
        ASSERT_TRUE(e) << ref;
        EXPECT_EQ(e->number(), zembra::err::kSubscript) << ref;
    }
    const Topology t = Topology::parse(kTwoSquares);
    EXPECT_THROW((void)t.features("absent"), zembra::Error);
    const auto missing =
        zembra::test::errorOf([] { (void)Topology::load("/nonexistent/states.json"); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->number(), zembra::err::kFileNotFound);
    EXPECT_NE(missing->description().find("/nonexistent/states.json"), std::string::npos);
}

namespace {

// What a topology read back from its compiled form must agree on with the one it was
// compiled from: every arc and every object's features.
void expectSameTopology(const Topology& a, const Topology& b, const std::string& object) {
    EXPECT_EQ(a.arcs(), b.arcs());
    const std::vector<Feature> fa = a.features(object), fb = b.features(object);
    ASSERT_EQ(fa.size(), fb.size());
    for (size_t i = 0; i < fa.size(); ++i) {
        EXPECT_EQ(fa[i].id, fb[i].id);
        EXPECT_EQ(fa[i].name, fb[i].name);
        EXPECT_EQ(fa[i].polygons, fb[i].polygons);
        EXPECT_EQ(fa[i].arcs, fb[i].arcs);
    }
}

std::span<const uint8_t> bytesOf(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace

TEST(TopoJson, CompiledFormReadsBackAsTheText) {
    const Topology text = Topology::parse(kTwoSquares);
    const std::string compiled = text.compiled();
    EXPECT_TRUE(Topology::isCompiled(compiled));
    EXPECT_FALSE(Topology::isCompiled(kTwoSquares));
    expectSameTopology(Topology::parseCompiled(bytesOf(compiled), "two"), text, "squares");
    // Narrowed to a window while being read, as the text is: near the squares, beside
    // them, and a turn east.
    for (const Bounds window :
         {Bounds{19, 23, 11, 13}, Bounds{19, 23, 14.5, 15}, Bounds{19, 23, 371, 371.5}}) {
        expectSameTopology(Topology::parseCompiled(bytesOf(compiled), "two", window),
                           Topology::parse(kTwoSquares, "two", window), "squares");
    }
    // Through a file, with the shipped states outlines (the lines of every kind of
    // geometry there is in them).
    const zembra::test::TempDir dir("topology");
    const Topology states = Topology::load(defaultBoundaryDirectory() / "states-10m.json");
    states.writeCompiled(dir.path() / "states.ztopo");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "states.ztopo.partial"));
    expectSameTopology(Topology::loadCompiled(dir.path() / "states.ztopo"), states, "states");
}

TEST(TopoJson, DamagedCompiledFormIsAnErrorNamingIt) {
    const std::string compiled = Topology::parse(kTwoSquares).compiled();
    // Cut short anywhere, or one byte longer: never read past the end, always refused.
    for (size_t size = 0; size < compiled.size(); ++size) {
        const std::string cut = compiled.substr(0, size);
        const auto e = zembra::test::errorOf(
            [&] { (void)Topology::parseCompiled(bytesOf(cut), "cut.ztopo"); });
        ASSERT_TRUE(e) << size;
        EXPECT_EQ(e->number(), zembra::err::kInvalidArgument) << size;
        EXPECT_NE(e->description().find("cut.ztopo"), std::string::npos) << e->description();
    }
    EXPECT_THROW((void)Topology::parseCompiled(bytesOf(compiled + '\0'), "long"), zembra::Error);
    // Every byte flipped in turn: refused or read, never a read outside the bytes (the
    // sanitizer build checks); the counts and offsets are all checked.
    size_t refused = 0;
    for (size_t at = 0; at < compiled.size(); ++at) {
        std::string flipped = compiled;
        flipped[at] = static_cast<char>(flipped[at] ^ 0xA5);
        try {
            (void)Topology::parseCompiled(bytesOf(flipped), "flipped");
        } catch (const zembra::Error&) {
            ++refused;
        }
    }
    EXPECT_GT(refused, compiled.size() / 4);
    // The last arc reference of the file (the right square's ~0) pointed past the arcs.
    std::string badRef = compiled;
    const int32_t outside = 3;
    const size_t last = badRef.rfind(std::string("\xff\xff\xff\xff", 4));
    ASSERT_NE(last, std::string::npos);
    std::memcpy(badRef.data() + last, &outside, 4);
    const auto e =
        zembra::test::errorOf([&] { (void)Topology::parseCompiled(bytesOf(badRef), "r"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), zembra::err::kSubscript);
    const zembra::test::TempDir dir("topology");
    const auto missing =
        zembra::test::errorOf([&] { (void)Topology::loadCompiled(dir.path() / "absent.ztopo"); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->number(), zembra::err::kFileNotFound);
    EXPECT_NE(missing->description().find("absent.ztopo"), std::string::npos);
}

TEST(Projection, MatchesTheEngineMapping) {
    const Bounds usa{24, 50, -125, -66.4};
    const Projection p(usa, 1000, 500);
    EXPECT_EQ(p.toPixel({-125, 50}), (PixelPoint{0, 0}));
    EXPECT_EQ(p.toPixel({-66.4, 24}), (PixelPoint{1000, 500}));
    // The engine's worked example: 40.7 N, 74.0 W lands on column 870, row 179.
    const PixelPoint nyc = p.toPixel({-74.0, 40.7});
    EXPECT_NEAR(nyc.x, 870.307, 1e-3);
    EXPECT_NEAR(nyc.y, 178.846, 1e-3);
}

TEST(Projection, HeightKeepsGroundProportions) {
    EXPECT_EQ(heightForWidth({24, 50, -125, -66.44}, 2000), 1112);
    EXPECT_EQ(heightForWidth({51, 77, -180, -125}, 1500), 1618);
    EXPECT_EQ(heightForWidth({18.5, 22.5, -161, -154}, 1800), 1098);
    EXPECT_EQ(heightForWidth({-1, 1, -1, 1}, 500), 500);  // a square at the equator
    EXPECT_THROW(heightForWidth({0, 1, 0, 1}, 0), zembra::Error);
    EXPECT_THROW(heightForWidth({-89.999, 89.999, 0, 0.001}, 2000), zembra::Error);
}

TEST(Projection, ParsesBoundsAndRefusesNonsense) {
    const Bounds b = parseBounds(" 18.5, 22.5 ,-161,-154");
    EXPECT_EQ(b, (Bounds{18.5, 22.5, -161, -154}));
    for (const char* bad : {"1,2,3", "1,2,3,4,5", "a,2,3,4", "5,5,0,1", "10,2,0,1", "0,1,5,4",
                            "-91,0,0,1", "0,1,-200,170", "0,1,nan,4", "0,1,2,", ",0,1,2"})
        EXPECT_THROW(parseBounds(bad), zembra::Error) << bad;
}

TEST(Projection, WrapsLandAcrossTheAntimeridianNextToTheMap) {
    const Projection alaska({51, 77, -180, -125}, 1500, 1618);
    // A ring straddling 180 degrees: its eastern-hemisphere points move by -360 and it
    // stays one small ring instead of spanning the world.
    const Line ring{{179, 60}, {-179, 60}, {-179, 62}, {179, 62}, {179, 60}};
    EXPECT_EQ(alaska.wrap(ring),
              (Line{{-181, 60}, {-179, 60}, {-179, 62}, {-181, 62}, {-181, 60}}));
    EXPECT_EQ(alaska.wrapLon(-150), -150);
    const Projection eastern({0, 10, 170, 190}, 200, 100);
    EXPECT_EQ(eastern.wrapLon(-175), 185);
    EXPECT_EQ(eastern.wrapLon(175), 175);
    // The cut along 180 degrees of land split there is no coast.
    const Line cut{{-175, 65}, {-180, 65}, {-180, 66}, {-180, 67}, {-175, 67}, {-175, 65}};
    const auto pieces = withoutMeridianCuts({cut});
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], (Line{{-175, 65}, {-180, 65}}));
    EXPECT_EQ(pieces[1], (Line{{-180, 67}, {-175, 67}, {-175, 65}}));
    const Line touch{{179, 60}, {180, 61}, {179, 62}};
    EXPECT_EQ(withoutMeridianCuts({touch}), std::vector<Line>{touch});
}

TEST(BaseMap, DrawsLandInsideAndWaterOutsideACountry) {
    // A square "state" 10..20 by 10..20 with a square lake-like hole, and a "country"
    // 20..25 beside it, on a 0..30 map.
    const Topology t = Topology::parse(R"({"type":"Topology","objects":{
        "states":{"type":"GeometryCollection","geometries":[{"type":"Polygon","id":"01","arcs":[[0],[2]]}]},
        "countries":{"type":"GeometryCollection","geometries":[
          {"type":"Polygon","id":"124","arcs":[[1]]},{"type":"Polygon","id":"840","arcs":[[0]]}]}},
      "arcs":[[[10,10],[20,10],[20,20],[10,20],[10,10]],
              [[20,10],[25,10],[25,20],[20,20],[20,10]],
              [[12,12],[12,14],[14,14],[14,12],[12,12]]]})");
    const MapStyle style;
    const Projection proj({0, 30, 0, 30}, 300, 300);
    const auto img = draw(buildLayers(t, t), proj);
    ASSERT_EQ(img.width, 300);
    ASSERT_EQ(img.height, 300);
    EXPECT_LT(distance(img, 150, 150, style.usLand), 4);
    EXPECT_LT(distance(img, 225, 150, style.foreignLand), 4);
    EXPECT_LT(distance(img, 5, 5, style.water), 4);
    EXPECT_LT(distance(img, 290, 150, style.water), 4);
    EXPECT_LT(distance(img, 130, 170, style.water), 4) << "the hole is cut out";
    // Longitude 10 is column 100 exactly: pixels a few columns either side of the coast
    // are water and land, so the picture agrees with the engine's rounding.
    EXPECT_LT(distance(img, 97, 150, style.water), 4);
    EXPECT_LT(distance(img, 103, 150, style.usLand), 4);
    // The coast is outlined in a colour far from water.
    EXPECT_GT(distance(img, 100, 150, style.water), 40);
}

TEST(BaseMap, UsLandCanComeFromTheWorldOutline) {
    // The census states cover only the western half of the world data's United States.
    const Topology us = Topology::parse(R"({"type":"Topology","objects":{
        "states":{"type":"GeometryCollection","geometries":[{"type":"Polygon","id":"15","arcs":[[0]]}]}},
      "arcs":[[[10,10],[15,10],[15,20],[10,20],[10,10]]]})");
    const Topology world = Topology::parse(R"({"type":"Topology","objects":{
        "countries":{"type":"GeometryCollection","geometries":[{"type":"Polygon","id":"840","arcs":[[0]]}]}},
      "arcs":[[[10,10],[20,10],[20,20],[10,20],[10,10]]]})");
    const MapStyle style;
    const Projection proj({0, 30, 0, 30}, 300, 300);
    EXPECT_LT(distance(draw(buildLayers(us, world), proj), 175, 150, style.water), 4);
    const auto fromCountry = draw(buildLayers(us, world, nullptr, UsLand::Country), proj);
    EXPECT_LT(distance(fromCountry, 125, 150, style.usLand), 4);
    EXPECT_LT(distance(fromCountry, 175, 150, style.usLand), 4);
    EXPECT_EQ(parseUsLand("country"), UsLand::Country);
    EXPECT_THROW(parseUsLand("census"), zembra::Error);
}

TEST(BaseMap, ShowsLandFromAcrossTheAntimeridian) {
    // An island at 175..179 E drawn on a map of 190..170 W: it must appear at 185..181 W.
    const Topology t = Topology::parse(R"({"type":"Topology","objects":{
        "states":{"type":"GeometryCollection","geometries":[{"type":"Polygon","arcs":[[0]]}]},
        "countries":{"type":"GeometryCollection","geometries":[]}},
      "arcs":[[[175,54],[179,54],[179,56],[175,56],[175,54]]]})");
    const MapStyle style;
    const auto img = draw(buildLayers(t, t), Projection({50, 60, -190, -170}, 400, 200));
    EXPECT_LT(distance(img, 140, 100, style.usLand), 4);  // 183 W, 55 N
    EXPECT_LT(distance(img, 300, 100, style.water), 4);   // 175 W
}

TEST(Canvas, RefusesImpossibleSizesAndDrawsMarksAndText) {
    EXPECT_THROW(Canvas(0, 10, {}), zembra::Error);
    EXPECT_THROW(Canvas(10, kMaxSide + 1, {}), zembra::Error);
    Canvas canvas(60, 40, {255, 255, 255});
    canvas.circle({10, 10}, 5, {200, 0, 0}, {0, 0, 0}, 1);
    canvas.text({20, 30}, "NJ", 16, {0, 0, 0});
    const auto img = canvas.picture();
    EXPECT_LT(distance(img, 10, 10, {200, 0, 0}), 4) << "the circle's centre pixel is filled";
    EXPECT_LT(distance(img, 2, 2, {255, 255, 255}), 1);
    size_t dark = 0;
    for (int y = 15; y < 40; ++y)
        for (int x = 18; x < 60; ++x) dark += distance(img, x, y, {0, 0, 0}) < 100 ? 1 : 0;
    EXPECT_GT(dark, 20u) << "the text left ink";
    EXPECT_EQ(img.rgba[3], 255);
}

TEST(Canvas, EitherPixelOrderDrawsTheSamePicture) {
    // The same marks, text and overlay in Cairo's order and in the pictures' own: the
    // pictures agree to the byte, and the memory holds the bytes in the order asked for.
    const int w = 90, h = 60;
    std::vector<uint8_t> overlay(size_t(w) * h * 4, 0);
    for (size_t i = 0; i < overlay.size() / 3; i += 4) {
        overlay[i] = 90;  // premultiplied: red 90 at alpha 128
        overlay[i + 3] = 128;
    }
    const auto scene = [&](Canvas& c) {
        c.circle({20, 20}, 12, {200, 30, 10, 0.7}, {0, 0, 120}, 1.5);
        c.rectangle(40, 5, 30, 20, {10, 160, 250}, {250, 250, 0}, 2);
        c.text({5, 55}, "Trenton", 14, {120, 0, 200});
        c.overlay(overlay);
        return c.picture();
    };
    const Colour background{240, 220, 180};
    Canvas cairoOrder(w, h, background);
    std::vector<uint8_t> memory(size_t(w) * h * 4);
    Canvas own(w, h, background, memory, PixelOrder::Rgba);
    const zembra::imaging::Picture a = scene(cairoOrder), b = scene(own);
    EXPECT_EQ(a.rgba, b.rgba);
    EXPECT_TRUE(std::equal(memory.begin(), memory.end(), a.rgba.begin()));
    // The bottom right pixel is background in both.
    const size_t last = size_t(w) * h * 4 - 4;
    const std::span<const uint8_t> bgrx = cairoOrder.pixels();
    EXPECT_EQ(bgrx[last], background.b);
    EXPECT_EQ(bgrx[last + 2], background.r);
    EXPECT_EQ(own.pixels()[last], background.r);
    EXPECT_EQ(own.pixels()[last + 3], 255);
}
