// Projection and plotting through the late-bound interface.
#include "engine_test_support.hpp"

namespace zembra::engine::test {
namespace {

TEST(Plotting, WorkedExamplePlacesTheMarkerCornerWithTiesToEven) {
    TempDir dir;
    Object map = newMap(dir);  // 1000 x 500, default bounds, 15 x 15 marker
    EXPECT_EQ(map.callWith("MapCoordinate", 40.7, -74.0), Variant(true));
    const Box box = markerBox(currentPicture(map));
    EXPECT_EQ(box.left, 862);
    EXPECT_EQ(box.top, 172);
    EXPECT_EQ(box.right, 876);
    EXPECT_EQ(box.bottom, 186);
    EXPECT_EQ(box.count, 15 * 15);
}

TEST(Plotting, HalfPixelsGoToTheEvenNeighbour) {
    TempDir dir;
    // One degree per pixel, so the column is the longitude and the row 100 - latitude.
    Object map = newMap(dir, 200, 100);
    map.put("MinLat", 0.0);
    map.put("MaxLat", 100.0);
    map.put("MinLon", 0.0);
    map.put("MaxLon", 200.0);
    // A 15-pixel marker at column 100 starts at 92 (92.5), at column 101 at 94 (93.5).
    map.callWith("MapCoordinates", array({20.0, 60.0}), array({100.0, 101.0}));
    imaging::Picture p = currentPicture(map);
    map.call("Clear");
    EXPECT_EQ(markerBox(p).left, 92);
    EXPECT_EQ(markerBox(p).right, 94 + 14);

    // Columns 2.5 and 3.5 round to 2 and 4; rows 50.5 and 49.5 (latitudes 49.5, 50.5) to 50.
    map.put("InputOverlayFile",
            writePicture(dir, "dot.png", solid(2, 2, kMarkerColour), imaging::Format::Png));
    map.callWith("MapCoordinate", 49.5, 2.5);
    Box box = markerBox(currentPicture(map));
    EXPECT_EQ(box.left, 1);
    EXPECT_EQ(box.top, 49);
    map.call("Clear");
    map.callWith("MapCoordinate", 50.5, 3.5);
    box = markerBox(currentPicture(map));
    EXPECT_EQ(box.left, 3);
    EXPECT_EQ(box.top, 49);
}

TEST(Plotting, MarkersAccumulateAndClipAtTheEdges) {
    TempDir dir;
    Object map = newMap(dir, 100, 50);
    map.put("MinLat", 0.0);
    map.put("MaxLat", 50.0);
    map.put("MinLon", 0.0);
    map.put("MaxLon", 100.0);
    // The top-left corner: the marker starts at (-8, -8), so 7 x 7 pixels show.
    map.callWith("MapCoordinate", 50.0, 0.0);
    EXPECT_EQ(markerBox(currentPicture(map)).count, 7 * 7);
    // The bottom-right corner, far outside on every side, and the same point again.
    map.callWith("MapCoordinates", array({0.0, 1e6, -1e6, 50.0, 0.0}),
                 array({100.0, 1e6, -1e6, 0.0, 1e4}));
    const imaging::Picture p = currentPicture(map);
    EXPECT_EQ(markerBox(p).count, 7 * 7 + 8 * 8);
    EXPECT_EQ(p.width, 100);
    EXPECT_EQ(p.height, 50);
}

TEST(Plotting, AFailedPlotKeepsThePictureAndLaterPlotsBuildOnIt) {
    TempDir dir;
    Object map = newMap(dir, 100, 50);
    map.put("MinLat", 0.0);
    map.put("MaxLat", 50.0);
    map.put("MinLon", 0.0);
    map.put("MaxLon", 100.0);
    map.callWith("MapCoordinate", 25.0, 20.0);
    map.put("OutputImageType", "png");
    const std::vector<uint8_t> before = map.get("OutputMap").toBytes();

    // A marker file that is no picture: the call fails and the stored picture stays.
    writeBytes(dir.file("broken.png"), std::vector<uint8_t>(64, 0x89));
    map.put("InputOverlayFile", dir.file("broken.png"));
    EXPECT_EQ(errorNumber([&] { map.callWith("MapCoordinate", 25.0, 70.0); }), err::kEngine);
    EXPECT_EQ(map.get("OutputMap").toBytes(), before);

    map.put("InputOverlayFile",
            writePicture(dir, "marker2.png", solid(15, 15, kMarkerColour), imaging::Format::Png));
    map.callWith("MapCoordinate", 25.0, 70.0);
    EXPECT_EQ(markerBox(currentPicture(map)).count, 2 * 15 * 15);
}

TEST(Plotting, TranslucentMapKeepsItsAlphaAcrossCalls) {
    TempDir dir;
    imaging::Picture translucent = solid(40, 20, kMapColour);
    for (size_t i = 3; i < translucent.rgba.size(); i += 4) translucent.rgba[i] = 128;
    Object map = newMap(dir, 40, 20, 3);
    map.put("InputMapFile", writePicture(dir, "glass.png", translucent, imaging::Format::Png));
    map.put("MinLat", 0.0);
    map.put("MaxLat", 20.0);
    map.put("MinLon", 0.0);
    map.put("MaxLon", 40.0);
    for (const double lon : {5.0, 20.0, 35.0}) map.callWith("MapCoordinate", 10.0, lon);

    const imaging::Picture p = currentPicture(map);
    EXPECT_EQ(markerBox(p).count, 3 * 3 * 3);
    size_t kept = 0;
    for (size_t i = 0; i < p.rgba.size(); i += 4) {
        const bool marker = p.rgba[i] == kMarkerColour.r && p.rgba[i + 1] == kMarkerColour.g;
        kept += !marker && p.rgba[i + 3] == 128 ? 1 : 0;
        if (marker) {
            EXPECT_EQ(p.rgba[i + 3], 255);
        }
    }
    EXPECT_EQ(kept, 40u * 20u - 27u);
}

TEST(Plotting, ArgumentArraysUseIndexZeroAndConvertTheirElements) {
    TempDir dir;
    Object map = newMap(dir, 100, 50);
    map.call("Clear");
    map.put("OutputImageType", "png");
    const std::vector<uint8_t> plain = map.get("OutputMap").toBytes();

    // Bounds are compared by their upper end only; index 0 is then missing.
    EXPECT_EQ(
        errorNumber([&] {
            map.callWith("MapCoordinates", array({40.0, 41.0, 42.0}), array({-74.0, -75.0}, 1));
        }),
        err::kSubscript);
    EXPECT_EQ(errorNumber([&] { map.callWith("MapCoordinates", array({}), array({})); }),
              err::kSubscript);
    EXPECT_EQ(errorNumber([&] { map.callWith("MapCoordinates", 40.0, -74.0); }),
              err::kTypeMismatch);
    EXPECT_EQ(errorNumber([&] {
                  map.callWith("MapCoordinates", array({40.0, "forty"}), array({-74.0, -75.0}));
              }),
              err::kTypeMismatch);
    EXPECT_EQ(
        errorNumber([&] {
            map.callWith("MapCoordinates", array({40.0, Variant::null()}), array({-74.0, -75.0}));
        }),
        err::kInvalidUseOfNull);
    EXPECT_EQ(errorNumber([&] { map.callWith("MapCoordinate", "north", -74.0); }),
              err::kTypeMismatch);
    // None of the failures drew anything.
    EXPECT_EQ(map.get("OutputMap").toBytes(), plain);

    // Numeric text and integers are numbers; a lower bound below 0 is fine.
    map.callWith("MapCoordinates", array({"x", "40.7", int32_t{30}}, -1),
                 array({"y", "-74", int32_t{-100}}, -1));
    EXPECT_EQ(markerBox(currentPicture(map)).count, 2 * 15 * 15);
}

TEST(Plotting, DegenerateBoundsAndHugeCoordinatesRaiseArithmeticErrors) {
    TempDir dir;
    Object map = newMap(dir, 100, 50);
    map.put("OutputImageType", "png");
    map.call("Clear");
    const std::vector<uint8_t> plain = map.get("OutputMap").toBytes();

    map.put("MaxLon", -125.0);
    EXPECT_EQ(errorNumber([&] { map.callWith("MapCoordinate", 40.0, -100.0); }),
              err::kDivisionByZero);
    map.put("MaxLon", -66.4);
    map.put("MinLat", 50.0);
    EXPECT_EQ(errorNumber([&] { map.callWith("MapCoordinate", 40.0, -100.0); }),
              err::kDivisionByZero);
    map.put("MinLat", 24.0);

    for (const double lon : {1e12, -1e12, 1e308}) {
        EXPECT_EQ(errorNumber([&] { map.callWith("MapCoordinate", 40.0, lon); }), err::kOverflow);
    }
    EXPECT_EQ(errorNumber([&] { map.callWith("MapCoordinate", -1e10, -100.0); }), err::kOverflow);
    // Bounds so close that the scale itself overflows.
    map.put("MinLon", 0.0);
    map.put("MaxLon", 1e-320);
    EXPECT_EQ(errorNumber([&] { map.callWith("MapCoordinate", 40.0, -100.0); }), err::kOverflow);
    // A column inside int32 whose marker edge is not, after a point that was fine.
    map.put("MaxLon", 100.0);
    EXPECT_EQ(errorNumber([&] {
                  map.callWith("MapCoordinates", array({40.0, 40.0}), array({50.0, -2147483647.0}));
              }),
              err::kOverflow);
    EXPECT_EQ(map.get("OutputMap").toBytes(), plain);
}

TEST(Plotting, PixelsConvertBackToDegreesRoundedToSixPlaces) {
    TempDir dir;
    Object map = newMap(dir);
    std::vector<Variant> args{int32_t{870}, int32_t{179}, Variant(), Variant()};
    EXPECT_TRUE(map.call("GetLatLonFromMapPoint", args).isEmpty());
    EXPECT_EQ(args[2], Variant(40.692));
    EXPECT_EQ(args[3], Variant(-74.018));

    args = {0.0, "0", Variant(), Variant()};
    map.call("GetLatLonFromMapPoint", args);
    EXPECT_EQ(args[2], Variant(50.0));
    EXPECT_EQ(args[3], Variant(-125.0));

    // Outside the picture the same straight lines continue.
    args = {int32_t{-1000}, int32_t{1000}, Variant(), Variant()};
    map.call("GetLatLonFromMapPoint", args);
    EXPECT_EQ(args[2], Variant(-2.0));
    EXPECT_EQ(args[3], Variant(-183.6));

    args = {int32_t{-2147483647}, int32_t{-2147483647}, Variant(), Variant()};
    EXPECT_EQ(errorNumber([&] { map.call("GetLatLonFromMapPoint", args); }), err::kOverflow);
    args = {3e9, 0.0, Variant(), Variant()};
    EXPECT_EQ(errorNumber([&] { map.call("GetLatLonFromMapPoint", args); }), err::kOverflow);

    Object noMap = createObject("Zembra.CMap");
    args = {int32_t{1}, int32_t{1}, Variant(), Variant()};
    EXPECT_EQ(errorOf([&] { noMap.call("GetLatLonFromMapPoint", args); })->description(),
              "No input map supplied");
}

}  // namespace
}  // namespace zembra::engine::test
