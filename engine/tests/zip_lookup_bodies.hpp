// Forward and reverse lookup bodies shared by every database the engine can read the
// zip-code table from: the rows each body expects, and the checks over a map that reads them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine_test_support.hpp"

namespace zembra::engine::test {

struct Row {
    const char* zip;
    std::optional<double> lat;
    std::optional<double> lon;
};

// Rows for plotting on a 100 x 100 map spanning latitude 0..100 and longitude -100..0,
// where latitude L and longitude -G land on pixel (100 - G, 100 - L).
const std::vector<Row> kZipRows = {{"08873", 40.499667, -74.531844},
                                   {"DUP", 30.0, -90.0},
                                   {"DUP", 31.0, -91.0},
                                   {"O'1", 70.0, -40.0},
                                   {"NUL", std::nullopt, -80.0}};

// Rows for reverse lookup on the same map; comments name the pixel whose point they serve.
const std::vector<Row> kReverseRows = {
    // (26, 60) = 40, -74: nothing within 5 miles, two rows within 10.
    {"F2", 40.12, -74.0},
    {"F1", 40.1, -74.0},
    // (20, 65) = 35, -80: two rows at one place; the first returned wins.
    {"I1", 35.01, -80.01},
    {"I2", 35.01, -80.01},
    // (15, 55) = 45, -85: a row exactly at the point has no distance, so the next replaces it.
    {"E1", 45.0, -85.0},
    {"E2", 45.03, -85.0},
    // (23, 62) = 38, -77: a row a hair away from the point.
    {"H1", 38.0000000001, -77.0000000001},
    {"H2", 38.01, -77.0}};

// An object over a 100 x 100 map with a 3 x 3 marker, reading `connection`.
inline Object gridMap(const TempDir& dir, const std::string& connection) {
    Object map = newMap(dir, 100, 100, 3);
    map.put("MinLat", 0.0);
    map.put("MaxLat", 100.0);
    map.put("MinLon", -100.0);
    map.put("MaxLon", 0.0);
    map.put("ConnectionString", connection);
    return map;
}

// MapZips over a table holding kZipRows: the first of two rows wins, a quote in a code is
// only text, unknown codes (and 8873 for 08873) are reported and drawn at 0, 0.
inline void expectForwardLookup(Object map) {
    EXPECT_EQ(map.callWith("MapZips", array({"DUP", "zz", "08873", int32_t{8873}, "O'1"})),
              Variant(true));
    EXPECT_EQ(map.get("UnmatchedZips"), array({"zz", "8873"}));
    const imaging::Picture p = currentPicture(map);
    // DUP: the first row (30, -90) is pixel (10, 70), so the marker starts at (8, 68).
    EXPECT_EQ(markerBox(p).left, 8);
    EXPECT_EQ(markerBox(p).top, 28);  // O'1 at (60, 30) -> top 28
    // The unknown codes sit at 0, 0: pixel (100, 100), the picture's corner.
    const uint8_t* corner = p.rgba.data() + (size_t(99) * 100 + 99) * 4;
    EXPECT_EQ(corner[0], kMarkerColour.r);
    EXPECT_EQ(markerBox(p).count, 3 * 9 + 4);
}

// GetZipCodeFromMapPoint over a table holding kReverseRows.
inline void expectReverseLookup(Object map) {
    const auto zipAt = [&](int32_t x, int32_t y) {
        return map.callWith("GetZipCodeFromMapPoint", x, y);
    };
    EXPECT_EQ(zipAt(26, 60), Variant("F1"));  // from the 10-mile box
    EXPECT_EQ(zipAt(20, 65), Variant("I1"));  // identical places: first wins
    EXPECT_EQ(zipAt(15, 55), Variant("E2"));  // a distance-less row gives way
    EXPECT_EQ(zipAt(23, 62), Variant("H1"));  // a hair away is about 0 miles
    EXPECT_TRUE(zipAt(10, 70).isNull());      // nothing within 10 miles
}

}  // namespace zembra::engine::test
