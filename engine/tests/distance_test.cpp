// DistanceFuncs, called directly: it is internal to the engine library.
#include "distance.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <zembra/runtime.hpp>

namespace zembra::engine {
namespace {

// The worked values are given to 15 significant digits, the way the platform prints
// numbers; they must agree in every one of them.
TEST(Distance, WorkedValuesMatchToTheLastDigit) {
    EXPECT_EQ(formatNumber(*getDistance(40.7, -74.0, 34.05, -118.25)), "2446.32012693168");
    EXPECT_EQ(formatNumber(*getDistance(40.0, -74.0, 40.0, -73.0)), "52.9282544999467");
}

TEST(Distance, EmptyForZeroCoordinatesAndIdenticalPoints) {
    EXPECT_FALSE(getDistance(0.0, -74.0, 40.0, -73.0));
    EXPECT_FALSE(getDistance(40.0, 0.0, 40.0, -73.0));
    EXPECT_FALSE(getDistance(40.0, -74.0, 0.0, -73.0));
    EXPECT_FALSE(getDistance(40.0, -74.0, 40.0, 0.0));
    EXPECT_FALSE(getDistance(40.5, -74.5, 40.5, -74.5));
    // Same latitude alone, or same longitude alone, is a real distance.
    EXPECT_TRUE(getDistance(40.5, -74.5, 40.5, -74.6));
    EXPECT_TRUE(getDistance(40.5, -74.5, 40.6, -74.5));
}

TEST(Distance, SymmetricAndSafeForPointsAHairApart) {
    EXPECT_EQ(*getDistance(40.7, -74.0, 34.05, -118.25), *getDistance(34.05, -118.25, 40.7, -74.0));
    // The cosine rounds to 1 or just above: about 0 miles, never NaN or a failure.
    for (const double step : {1e-12, 1e-10, 1e-9, 1e-8}) {
        const std::optional<double> d = getDistance(40.5, -74.5, 40.5 + step, -74.5 + step);
        ASSERT_TRUE(d) << step;
        EXPECT_TRUE(std::isfinite(*d)) << step;
        EXPECT_GE(*d, 0.0) << step;
        EXPECT_LT(*d, 0.01) << step;
    }
    // Antipodes: the cosine reaches -1.
    const std::optional<double> far = getDistance(45.0, -90.0, -45.0, 90.0);
    ASSERT_TRUE(far);
    EXPECT_NEAR(*far, 3.141592654 * 3958.754, 1e-3);
}

TEST(SearchBox, WorkedValueAndRadiusScaling) {
    const std::array<double, 4> box = getSearchBox(40.0, -74.0, 5);
    EXPECT_EQ(formatNumber(box[0]), "39.9275851696165");
    EXPECT_EQ(formatNumber(box[1]), "40.0724148303835");
    EXPECT_EQ(formatNumber(box[2]), "-74.2554789658825");
    EXPECT_EQ(formatNumber(box[3]), "-73.7445210341175");

    const std::array<double, 4> wide = getSearchBox(40.0, -74.0, 10);
    EXPECT_DOUBLE_EQ(wide[1] - 40.0, 2 * (box[1] - 40.0));
    EXPECT_DOUBLE_EQ(40.0 - wide[0], 2 * (40.0 - box[0]));
    const double half5 = box[3] - -74.0;
    const double half10 = wide[3] - -74.0;
    EXPECT_LT(half10, 2 * half5);
    EXPECT_GT(half10, 1.9 * half5);
}

TEST(SearchBox, NorthernEdgeAtTheEquatorDividesByZero) {
    // maxLat = 5/69.04663 + lat is exactly 0 for this latitude.
    const double lat = -(1 / 69.04663) * 5;
    try {
        getSearchBox(lat, -74.0, 5);
        ADD_FAILURE() << "expected division by zero";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::kDivisionByZero);
    }
    // Southern latitudes give a reversed longitude range, as the formula does.
    const std::array<double, 4> south = getSearchBox(-30.0, 20.0, 5);
    EXPECT_GT(south[2], south[3]);
}

}  // namespace
}  // namespace zembra::engine
