#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "marker.hpp"
#include "projection.hpp"
#include "render.hpp"
#include "topojson.hpp"

using namespace zembra::mapgen;

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

double colourDistance(QRgb a, const QColor& b) {
    const double dr = qRed(a) - b.red(), dg = qGreen(a) - b.green(), db = qBlue(a) - b.blue();
    return std::sqrt(dr * dr + dg * dg + db * db);
}

}  // namespace

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
    EXPECT_THROW(Topology::parse("{not json"), zembra::Error);
    EXPECT_THROW(Topology::parse(R"({"type":"FeatureCollection"})"), zembra::Error);
    EXPECT_THROW(Topology::parse(R"({"type":"Topology","arcs":[[[1]]],"objects":{}})"),
                 zembra::Error);
    const Topology dangling = Topology::parse(R"({"type":"Topology","arcs":[[[0,0],[1,1]]],
        "objects":{"o":{"type":"Polygon","arcs":[[0,-3]]}}})");
    EXPECT_THROW(dangling.features("absent"), zembra::Error);
    try {
        (void)dangling.features("o");
        FAIL() << "a dangling arc reference was accepted";
    } catch (const zembra::Error& e) {
        EXPECT_EQ(e.number(), zembra::err::kSubscript);
    }
    try {
        Topology::load("/nonexistent/states.json");
        FAIL() << "loading a missing file succeeded";
    } catch (const zembra::Error& e) {
        EXPECT_EQ(e.number(), zembra::err::kFileNotFound);
        EXPECT_EQ(e.source(), "zembra-mapgen");
        EXPECT_NE(e.description().find("/nonexistent/states.json"), std::string::npos);
    }
}

TEST(Projection, MatchesTheEngineMapping) {
    const Bounds usa{24, 50, -125, -66.4};
    const Projection p(usa, 1000, 500);
    EXPECT_EQ(p.toPixel({-125, 50}), QPointF(0, 0));
    EXPECT_EQ(p.toPixel({-66.4, 24}), QPointF(1000, 500));
    // The engine's worked example: 40.7 N, 74.0 W lands on column 870, row 179.
    const QPointF nyc = p.toPixel({-74.0, 40.7});
    EXPECT_NEAR(nyc.x(), 870.307, 1e-3);
    EXPECT_NEAR(nyc.y(), 178.846, 1e-3);
}

TEST(Projection, HeightKeepsGroundProportions) {
    EXPECT_EQ(heightForWidth({24, 50, -125, -66.44}, 2000), 1112);
    EXPECT_EQ(heightForWidth({51, 77, -180, -125}, 1500), 1618);
    EXPECT_EQ(heightForWidth({-1, 1, -1, 1}, 500), 500);  // a square at the equator
    EXPECT_THROW(heightForWidth({0, 1, 0, 1}, 0), zembra::Error);
    EXPECT_THROW(heightForWidth({-89.999, 89.999, 0, 0.001}, 2000), zembra::Error);
}

TEST(Projection, ParsesBoundsAndRefusesNonsense) {
    const Bounds b = parseBounds(" 18.5, 22.5 ,-161,-154");
    EXPECT_EQ(b.minLat, 18.5);
    EXPECT_EQ(b.maxLat, 22.5);
    EXPECT_EQ(b.minLon, -161);
    EXPECT_EQ(b.maxLon, -154);
    for (const char* bad : {"1,2,3", "1,2,3,4,5", "a,2,3,4", "5,5,0,1", "10,2,0,1", "0,1,5,4",
                            "-91,0,0,1", "0,1,-200,170", "0,1,nan,4"})
        EXPECT_THROW(parseBounds(bad), zembra::Error) << bad;
}

TEST(Projection, WrapsLandAcrossTheAntimeridianNextToTheMap) {
    const Projection alaska({51, 77, -180, -125}, 1500, 1618);
    // A ring straddling 180 degrees: its eastern-hemisphere points move by -360 and it
    // stays one small ring instead of spanning the world.
    const Line ring{{179, 60}, {-179, 60}, {-179, 62}, {179, 62}, {179, 60}};
    EXPECT_EQ(alaska.wrap(ring),
              (Line{{-181, 60}, {-179, 60}, {-179, 62}, {-181, 62}, {-181, 60}}));
    // Points already near the map are left alone.
    EXPECT_EQ(alaska.wrapLon(-150), -150);
    const Projection eastern({0, 10, 170, 190}, 200, 100);
    EXPECT_EQ(eastern.wrapLon(-175), 185);
    EXPECT_EQ(eastern.wrapLon(175), 175);
}

TEST(Projection, CutsAlongTheAntimeridianAreNotCoasts) {
    // The eastern half of a polygon cut at 180 degrees: its edge on -180 is dropped, the
    // rest of the ring stays as two pieces.
    const Line ring{{-175, 65}, {-180, 65}, {-180, 66}, {-180, 67}, {-175, 67}, {-175, 65}};
    const auto pieces = withoutMeridianCuts({ring});
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], (Line{{-175, 65}, {-180, 65}}));
    EXPECT_EQ(pieces[1], (Line{{-180, 67}, {-175, 67}, {-175, 65}}));
    // A line that merely touches the meridian at one point is kept whole.
    const Line touch{{179, 60}, {180, 61}, {179, 62}};
    EXPECT_EQ(withoutMeridianCuts({touch}), std::vector<Line>{touch});
}

TEST(Render, DrawsLandInsideAndWaterOutsideACountry) {
    // A square "state" 10..20 by 10..20 and a "country" 20..25 beside it, on a 0..30 map.
    const Topology t = Topology::parse(R"({"type":"Topology","objects":{
        "states":{"type":"GeometryCollection","geometries":[{"type":"Polygon","id":"01","arcs":[[0]]}]},
        "countries":{"type":"GeometryCollection","geometries":[
          {"type":"Polygon","id":"124","arcs":[[1]]},{"type":"Polygon","id":"840","arcs":[[0]]}]}},
      "arcs":[[[10,10],[20,10],[20,20],[10,20],[10,10]],
              [[20,10],[25,10],[25,20],[20,20],[20,10]]]})");
    const MapStyle style;
    const Projection proj({0, 30, 0, 30}, 300, 300);
    const QImage img = renderMap(buildLayers(t, t), proj, style);
    ASSERT_EQ(img.size(), QSize(300, 300));
    EXPECT_LT(colourDistance(img.pixel(150, 150), style.usLand), 4);
    EXPECT_LT(colourDistance(img.pixel(225, 150), style.foreignLand), 4);
    EXPECT_LT(colourDistance(img.pixel(5, 5), style.water), 4);
    EXPECT_LT(colourDistance(img.pixel(290, 150), style.water), 4);
    // Longitude 10 is column 100 exactly: pixels a few columns either side of the
    // coast are water and land, so the picture agrees with the engine's rounding.
    EXPECT_LT(colourDistance(img.pixel(97, 150), style.water), 4);
    EXPECT_LT(colourDistance(img.pixel(103, 150), style.usLand), 4);
    // The coast is outlined in a colour far from water.
    EXPECT_GT(colourDistance(img.pixel(100, 150), style.water), 40);
}

TEST(Render, UsLandCanComeFromTheWorldOutline) {
    // The census states cover only the western half of the world data's United States.
    const Topology us = Topology::parse(R"({"type":"Topology","objects":{
        "states":{"type":"GeometryCollection","geometries":[{"type":"Polygon","id":"15","arcs":[[0]]}]}},
      "arcs":[[[10,10],[15,10],[15,20],[10,20],[10,10]]]})");
    const Topology world = Topology::parse(R"({"type":"Topology","objects":{
        "countries":{"type":"GeometryCollection","geometries":[{"type":"Polygon","id":"840","arcs":[[0]]}]}},
      "arcs":[[[10,10],[20,10],[20,20],[10,20],[10,10]]]})");
    const MapStyle style;
    const Projection proj({0, 30, 0, 30}, 300, 300);
    const QImage fromStates = renderMap(buildLayers(us, world), proj, style);
    EXPECT_LT(colourDistance(fromStates.pixel(175, 150), style.water), 4);
    const QImage fromCountry =
        renderMap(buildLayers(us, world, nullptr, UsLand::Country), proj, style);
    EXPECT_LT(colourDistance(fromCountry.pixel(125, 150), style.usLand), 4);
    EXPECT_LT(colourDistance(fromCountry.pixel(175, 150), style.usLand), 4);
    EXPECT_EQ(parseUsLand("country"), UsLand::Country);
    EXPECT_THROW(parseUsLand("census"), zembra::Error);
}

TEST(Render, ShowsLandFromAcrossTheAntimeridian) {
    // An island at 175..179 E drawn on a map of 190..170 W: it must appear at 185..181 W.
    const Topology t = Topology::parse(R"({"type":"Topology","objects":{
        "states":{"type":"GeometryCollection","geometries":[{"type":"Polygon","arcs":[[0]]}]},
        "countries":{"type":"GeometryCollection","geometries":[]}},
      "arcs":[[[175,54],[179,54],[179,56],[175,56],[175,54]]]})");
    const MapStyle style;
    const Projection proj({50, 60, -190, -170}, 400, 200);
    const QImage img = renderMap(buildLayers(t, t), proj, style);
    EXPECT_LT(colourDistance(img.pixel(140, 100), style.usLand), 4);  // 183 W, 55 N
    EXPECT_LT(colourDistance(img.pixel(300, 100), style.water), 4);   // 175 W
}

TEST(Marker, EdgesAreWhiteOrTheMarkersOwnColours) {
    for (const MarkerShape shape : {MarkerShape::Dot, MarkerShape::Pin}) {
        for (const int size : {9, 11, 21}) {
            MarkerSpec spec;
            spec.shape = shape;
            spec.size = size;
            spec.fill = QColor(242, 197, 0);  // a light fill makes a white fringe easy to miss
            spec.outline = QColor(92, 74, 0);
            const QImage m = renderMarker(spec);
            ASSERT_EQ(m.format(), QImage::Format_RGB888);
            int white = 0;
            for (int y = 0; y < m.height(); ++y) {
                for (int x = 0; x < m.width(); ++x) {
                    const QRgb p = m.pixel(x, y);
                    if (p == qRgb(255, 255, 255)) {
                        ++white;
                        continue;
                    }
                    EXPECT_GT(colourDistance(p, Qt::white), 60)
                        << "near-white pixel at " << x << "," << y;
                }
            }
            EXPECT_GT(white, 0);
            // The engine centres the picture on the point; the centre pixel is the dot's
            // middle or the pin's tip.
            EXPECT_NE(m.pixel(m.width() / 2, m.height() / 2), qRgb(255, 255, 255));
            EXPECT_EQ(m.pixel(0, 0), qRgb(255, 255, 255));
            if (shape == MarkerShape::Dot) {
                EXPECT_EQ(m.size(), QSize(size, size));
            } else {
                EXPECT_EQ(m.width() % 2, 1);
                EXPECT_EQ(m.height(), 2 * size - 1);
                for (int x = 0; x < m.width(); ++x)
                    EXPECT_EQ(m.pixel(x, m.height() / 2 + 1), qRgb(255, 255, 255))
                        << "below the tip";
            }
        }
    }
}

TEST(Marker, ParsesShapesAndColours) {
    EXPECT_EQ(parseShape("PIN"), MarkerShape::Pin);
    EXPECT_EQ(parseColour("#d62728"), QColor(214, 39, 40));
    EXPECT_EQ(parseColour("000000"), QColor(0, 0, 0));
    EXPECT_THROW(parseShape("star"), zembra::Error);
    for (const char* bad : {"12345", "1234567", "gg0000", ""})
        EXPECT_THROW(parseColour(bad), zembra::Error) << bad;
    MarkerSpec tiny;
    tiny.size = 2;
    EXPECT_THROW(renderMarker(tiny), zembra::Error);
}

// The committed pictures: their sizes follow the tool's rule and well-known places carry
// the documented colours, at the pixel where the engine puts them.
TEST(ShippedMaps, PlacesLieOnTheRightColour) {
    enum Kind { Water, Us, Foreign };
    struct Place {
        double lat, lon;
        Kind kind;
        const char* what;
    };
    struct Map {
        const char* file;
        Bounds bounds;
        std::vector<Place> places;
    };
    const std::vector<Map> maps{
        {"usa.jpg",
         *zembra::render::boundsForMapName("usa.jpg"),
         {{38.5, -98.5, Us, "Kansas"},
          {33, -70, Water, "Atlantic"},
          {26, -90, Water, "Gulf of Mexico"},
          {43.8, -87.0, Water, "Lake Michigan"},
          {48.3, -87.5, Water, "Lake Superior, Canadian side"},
          {42.45, -81.0, Water, "Lake Erie, Canadian side"},
          {44.5, -77.5, Foreign, "Ontario"},
          {28, -106, Foreign, "Chihuahua"}}},
        {"alaska.jpg",
         *zembra::render::boundsForMapName("alaska.jpg"),
         {{64.84, -147.72, Us, "Fairbanks"},
          {66.5, -173, Foreign, "Chukotka"},
          {63, -135, Foreign, "Yukon"},
          {58, -175, Water, "Bering Sea"},
          {57, -145, Water, "Gulf of Alaska"}}},
        {"hawaii.jpg",
         *zembra::render::boundsForMapName("hawaii.jpg"),
         {{19.6, -155.5, Us, "Hawaii island"},
          {21.45, -157.97, Us, "Oahu"},
          {22.05, -159.5, Us, "Kauai"},
          {21.2, -157.5, Water, "Kaiwi Channel"}}},
    };
    const MapStyle style;
    const QColor colours[] = {style.water, style.usLand, style.foreignLand};
    for (const Map& m : maps) {
        QImage img;
        ASSERT_TRUE(img.load(QStringLiteral(ZEMBRA_ASSETS_IMAGES "/Maps/") + m.file)) << m.file;
        EXPECT_EQ(img.height(), heightForWidth(m.bounds, img.width())) << m.file;
        for (const Place& p : m.places) {
            const QPointF px =
                Projection(m.bounds, img.width(), img.height()).toPixel({p.lon, p.lat});
            const QRgb c = img.pixel(static_cast<int>(std::nearbyint(px.x())),
                                     static_cast<int>(std::nearbyint(px.y())));
            EXPECT_LT(colourDistance(c, colours[p.kind]), 12) << m.file << ": " << p.what;
        }
    }
}
