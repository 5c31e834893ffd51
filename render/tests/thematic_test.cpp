// The computations behind the thematic styles: rows per code, classes and colours, areas and
// their totals, and the kernel density.
#include <cmath>
#include <random>
#include <sstream>
#include <zembra/render/areas.hpp>
#include <zembra/render/density.hpp>
#include <zembra/render/palette.hpp>
#include <zembra/render/rows.hpp>
#include <zembra/runtime.hpp>

#include "support.hpp"

namespace zembra::render::test {
namespace {

RowTable readCsvText(const TempDir& dir, const std::string& text, const RowColumns& columns,
                     bool byCategory = false) {
    CsvReader in(write(dir, "rows.csv", text));
    std::vector<std::string> header;
    EXPECT_TRUE(in.next(header));
    std::string missing;
    const auto positions = findColumns(header, columns, NameMatch::IgnoreCase, &missing);
    EXPECT_TRUE(positions) << missing;
    RowTable table(byCategory);
    if (positions) readRows(in, *positions, columns, table);
    return table;
}

TEST(RowTableTest, RepeatedCodesCountTheirRowsAndSumTheirValues) {
    TempDir dir;
    const std::string csv =
        "Name,Zip,Segment,Revenue\n"
        "a,08873,Retail,100\n"
        "b, 10001 ,Office,\"$1,250.50\"\n"
        "c,08873,Office,50\n"
        "d,,Retail,7\n"  // no code: skipped
        "e,08873\n"      // no segment or revenue: counts a row
        "short\n"        // too short for the code: skipped
        "f,99501,Retail,-25\n";
    const RowTable perCode = readCsvText(dir, csv, {"zip", "segment", "revenue"});
    ASSERT_EQ(perCode.entries().size(), 3u);
    EXPECT_EQ(perCode.rowCount(), 5u);
    const CodeRows& nj = perCode.entries()[0];
    EXPECT_EQ(nj.code, "08873");
    EXPECT_EQ(nj.category, "Retail");  // of its first row
    EXPECT_EQ(nj.rows, 3u);
    EXPECT_EQ(nj.valued, 2u);
    EXPECT_DOUBLE_EQ(nj.sum, 150);
    EXPECT_EQ(perCode.entries()[1].code, "10001");
    EXPECT_DOUBLE_EQ(perCode.entries()[1].sum, 1250.5);
    EXPECT_DOUBLE_EQ(perCode.entries()[2].sum, -25);

    const RowTable perCategory = readCsvText(dir, csv, {"Zip", "Segment", ""}, true);
    ASSERT_EQ(perCategory.entries().size(),
              5u);  // 08873 Retail, 10001, 08873 Office, 08873 "", ...
    EXPECT_EQ(perCategory.entries()[2].code, "08873");
    EXPECT_EQ(perCategory.entries()[2].category, "Office");
    EXPECT_EQ(perCategory.codes(), (std::vector<std::string>{"08873", "10001", "99501"}));
}

TEST(RowTableTest, ValuesThatAreNoNumbersAreRefusedWithTheirPlace) {
    EXPECT_EQ(parseValue(" 12.5 "), 12.5);
    EXPECT_EQ(parseValue("-$1,000"), -1000);
    EXPECT_EQ(parseValue("1e3"), 1000);
    EXPECT_EQ(parseValue("  "), std::nullopt);
    for (const char* bad : {"12,34", ",100", "1,0000", "$", "abc", "1.2.3", "$-5", "--1"}) {
        EXPECT_EQ(errorOf([&] { parseValue(bad); }).value().number(), err::kTypeMismatch) << bad;
    }
    TempDir dir;
    CsvReader in(write(dir, "bad.csv", "Zip,Revenue\n08873,1\n08232,lots\n"));
    std::vector<std::string> header;
    in.next(header);
    const RowColumns columns{"Zip", "", "Revenue"};
    RowTable table;
    const Error e =
        errorOf([&] {
            readRows(in, *findColumns(header, columns, NameMatch::Exact), columns, table);
        }).value();
    EXPECT_EQ(e.number(), err::kTypeMismatch);
    EXPECT_NE(e.description().find("line 3, column Revenue"), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("'lots'"), std::string::npos);
}

TEST(RowTableTest, AMissingColumnIsNamed) {
    const std::vector<std::string> header{"Zip", " Segment "};
    std::string missing;
    EXPECT_TRUE(findColumns(header, {"Zip", "segment", ""}, NameMatch::IgnoreCase, &missing));
    EXPECT_FALSE(findColumns(header, {"Zip", "segment", ""}, NameMatch::Exact, &missing));
    EXPECT_EQ(missing, "segment");
    EXPECT_FALSE(findColumns(header, {"Zip", "Segment", "Revenue"}, NameMatch::Exact, &missing));
    EXPECT_EQ(missing, "Revenue");
}

TEST(RowTableTest, TheQueryNamesOnlyTheColumnsAsked) {
    EXPECT_EQ(rowsQuery("Customers", {"Zip", "", ""}), "SELECT [Zip] FROM [Customers]");
    EXPECT_EQ(rowsQuery("My]Table", {"Zip Code", "Seg]", "Rev"}),
              "SELECT [Zip Code], [Seg]]], [Rev] FROM [My]]Table]");
}

TEST(PaletteTest, ClassColoursStandApartFromNoDataAndLand) {
    std::mt19937 random(17);
    std::uniform_int_distribution<int> channel(0, 255);
    std::vector<std::pair<Rgb, Rgb>> cases{
        {kNoDataColour, {240, 235, 220}},  // the shipped maps' land
        {kNoDataColour, {255, 255, 255}},
        {{255, 255, 178}, {254, 204, 92}},  // the ramp's own first colours
        {{0, 0, 0}, {189, 0, 38}},
    };
    for (int i = 0; i < 200; ++i) {
        const auto any = [&] {
            return Rgb{uint8_t(channel(random)), uint8_t(channel(random)),
                       uint8_t(channel(random))};
        };
        cases.emplace_back(any(), any());
    }
    for (const auto& [noData, land] : cases) {
        for (const Rgb& c : classColours(noData, land)) {
            EXPECT_GE(rgbDistance(c, noData), kMinClassDistance);
            EXPECT_GE(rgbDistance(c, land), kMinClassDistance);
        }
    }
    // On the shipped maps the ramp stays as designed, light to dark.
    const auto usual = classColours(kNoDataColour, {240, 235, 220});
    for (size_t i = 1; i < usual.size(); ++i) {
        EXPECT_LT(usual[i].r + usual[i].g + usual[i].b,
                  usual[i - 1].r + usual[i - 1].g + usual[i - 1].b);
    }
    EXPECT_EQ(categoryColour(0), kCategoryColours[0]);
    EXPECT_EQ(categoryColour(7), kCategoryColours[7]);
    EXPECT_EQ(categoryColour(8), kOtherCategory);
    EXPECT_EQ(categoryColour(100), kOtherCategory);
}

TEST(PaletteTest, QuantileAndEqualClasses) {
    std::vector<double> values;
    for (int i = 1; i <= 100; ++i) values.push_back(i);
    const Classes q = classify(values, 5, Classing::Quantile);
    EXPECT_EQ(q.upper, (std::vector<double>{20, 40, 60, 80, 100}));
    EXPECT_EQ(q.lower, (std::vector<double>{1, 21, 41, 61, 81}));
    EXPECT_EQ(q.classOf(1), 0u);
    EXPECT_EQ(q.classOf(20), 0u);
    EXPECT_EQ(q.classOf(20.5), 1u);
    EXPECT_EQ(q.classOf(1000), 4u);

    // Skewed counts (one big city): quantiles keep the classes filled, equal intervals put
    // nearly everything in the first.
    std::vector<double> skewed(99, 1.0);
    for (size_t i = 0; i < skewed.size(); ++i) skewed[i] = double(i % 10 + 1);
    skewed.push_back(1000);
    const Classes e = classify(skewed, 5, Classing::EqualInterval);
    ASSERT_EQ(e.upper.size(), 2u);  // the empty middle classes go
    EXPECT_EQ(e.classOf(10), 0u);
    EXPECT_EQ(e.classOf(1000), 1u);
    EXPECT_EQ(classify(skewed, 5, Classing::Quantile).upper.size(), 5u);

    // Ties and tiny inputs never make empty or repeated classes.
    EXPECT_EQ(classify({7, 7, 7}, 5, Classing::Quantile).upper, (std::vector<double>{7}));
    EXPECT_EQ(classify({7, 7, 7}, 5, Classing::EqualInterval).upper, (std::vector<double>{7}));
    EXPECT_TRUE(classify({}, 5, Classing::Quantile).upper.empty());
    const Classes two = classify({1, 1, 1, 1, 9}, 5, Classing::Quantile);
    EXPECT_EQ(two.upper, (std::vector<double>{1, 9}));
    EXPECT_EQ(two.lower, (std::vector<double>{1, 9}));
    EXPECT_EQ(parseClassing("equal"), Classing::EqualInterval);
    EXPECT_EQ(errorOf([] { parseClassing("jenks"); }).value().number(), err::kInvalidArgument);
}

// A square area of side `side` degrees with its south-west corner at (lat, lon).
Area square(std::string fips, std::string abbr, double lat, double lon, double side) {
    std::string name = "Area " + abbr;
    return {std::move(fips),
            std::move(abbr),
            std::move(name),
            {{{lat, lon}, {lat, lon + side}, {lat + side, lon + side}, {lat + side, lon}}}};
}

TEST(AreaIndexTest, EveryCodeLandsInExactlyOneArea) {
    // Two states side by side; the first has a lake (a hole) that holds an island of the
    // second's county.
    Area west = square("01", "AA", 0, 0, 10);
    west.rings.push_back({{4, 4}, {4, 6}, {6, 6}, {6, 4}});
    std::vector<Area> counties{west, square("02001", "BB", 0, 10, 10),
                               square("02002", "BB", 4.5, 4.5, 1)};
    const AreaIndex index(counties);
    EXPECT_EQ(index.assign({2, 2}, ""), 0u);
    EXPECT_EQ(index.assign({5, 5}, ""), 2u);      // the island in the lake
    EXPECT_EQ(index.assign({4.2, 4.2}, ""), 0u);  // in the lake, nearest the west's shore
    EXPECT_EQ(index.assign({5, 15}, ""), 1u);
    EXPECT_EQ(index.assign({5, 25}, ""), 1u);  // at sea: the nearest
    EXPECT_EQ(index.assign({-3, 2}, ""), 0u);
    // The state column decides among that state's areas: a BB code just inside AA's
    // outline goes to the nearest BB county.
    EXPECT_EQ(index.assign({2, 9.9}, "BB"), 1u);
    EXPECT_EQ(index.assign({2, 9.9}, "AA"), 0u);  // AA has one area: settled by the state
    EXPECT_EQ(index.assign({2, 9.9}, "ZZ"), 0u);  // an unknown state: the outline
    EXPECT_EQ(AreaIndex({}).assign({0, 0}, "AA"), kNoArea);
}

TEST(AreaIndexTest, TotalsAndTheirTables) {
    const AreaIndex index({square("34", "NJ", 0, 0, 10), square("36", "NY", 10, 0, 10),
                           square("09", "CT", 20, 0, 10)});
    RowTable table;
    table.add("1", "Retail", 10);
    table.add("2", "Office", 5.5);
    table.add("1", "Retail", 2);
    table.add("3", "Retail", std::nullopt);
    table.add("4", "Retail", 1);  // not placed
    const std::vector<PlacedEntry> placed{
        {0, {5, 5}, "NJ"}, {1, {15, 5}, ""}, {2, {1, 1}, "NY"}};  // state column wins
    const auto totals = totalsByArea(index, table, placed);
    ASSERT_EQ(totals.size(), 2u);
    EXPECT_EQ(totals[0].area, 0u);
    EXPECT_EQ(totals[0].codes, 1u);
    EXPECT_EQ(totals[0].rows, 2u);
    EXPECT_DOUBLE_EQ(totals[0].sum, 12);
    EXPECT_EQ(totals[1].area, 1u);
    EXPECT_EQ(totals[1].codes, 2u);
    EXPECT_EQ(totals[1].rows, 2u);

    std::ostringstream out;
    writeAreaTable(out, index.areas(), totals, true);
    EXPECT_EQ(out.str(),
              "fips,abbr,name,codes,rows,sum\n34,NJ,Area NJ,1,2,12\n36,NY,Area NY,2,2,5.5\n");
    std::ostringstream counts;
    writeAreaTable(counts, index.areas(), totals, false);
    EXPECT_EQ(counts.str(),
              "fips,abbr,name,codes,rows,sum\n34,NJ,Area NJ,1,2,\n36,NY,Area NY,2,2,\n");

    RowTable byCategory(true);
    byCategory.add("1", "Retail, small", 1);
    byCategory.add("2", "Office", 1);
    byCategory.add("3", "Office", 1);
    byCategory.add("1", "Office", 1);
    byCategory.add("1", "Retail, small", 1);
    std::vector<PlacedEntry> all;
    for (size_t i = 0; i < byCategory.entries().size(); ++i) all.push_back({i, {1, 1}, "NJ"});
    std::ostringstream categories;
    writeCategoryTable(categories, totalsByCategory(byCategory, all), false);
    EXPECT_EQ(categories.str(), "category,codes,rows,sum\nOffice,3,3,\n\"Retail, small\",1,2,\n");
}

TEST(DensityTest, WeightsSpreadAsAGaussianOfTheBandwidth) {
    const double sigma = 6;
    const DensityGrid grid({{100, 80, 3}}, 200, 160, sigma);
    double mass = 0, mx = 0, my = 0, vx = 0;
    for (int y = 0; y < grid.height(); ++y) {
        for (int x = 0; x < grid.width(); ++x) {
            const double d = grid.at(x, y);
            mass += d;
            mx += d * x;
            my += d * y;
            vx += d * (x - 100) * (x - 100);
        }
    }
    EXPECT_NEAR(mass, 3, 1e-3);
    EXPECT_NEAR(mx / mass, 100, 1e-3);
    EXPECT_NEAR(my / mass, 80, 1e-3);
    EXPECT_NEAR(std::sqrt(vx / mass), sigma, 0.3);
    EXPECT_NEAR(grid.at(100, 80), grid.peakOfOne(3), 0.1 * grid.peakOfOne(3));
    EXPECT_EQ(grid.at(0, 0), 0.0f);

    // A code just outside the picture still shows at its edge; invalid weights count nothing.
    const DensityGrid edge({{-2, 50, 1}, {50, 50, -4}, {50, 50, std::nan("")}}, 100, 100, 5);
    EXPECT_GT(edge.at(0, 50), 0.5 * edge.peakOfOne(1));
    EXPECT_EQ(edge.at(50, 50), 0.0f);

    for (const double bad : {0.5, 201.0, std::nan("")}) {
        EXPECT_EQ(errorOf([&] { DensityGrid({}, 10, 10, bad); }).value().number(),
                  err::kInvalidArgument);
    }
    // From the codes' spacing, within 4 pixels and an eighth of the shorter side; codes off
    // the picture do not count.
    std::vector<WeightedPixel> lattice;
    for (int i = 0; i < 20; ++i)
        for (int j = 0; j < 20; ++j) lattice.push_back({10.0 + 6 * i, 10.0 + 6 * j, 1});
    lattice.push_back({-50, -50, 1});
    EXPECT_NEAR(medianNeighbourDistance(lattice, 400, 400), 6, 1e-9);
    EXPECT_NEAR(defaultBandwidth(lattice, 400, 400), 15, 1e-9);
    EXPECT_DOUBLE_EQ(defaultBandwidth({{5, 5, 1}, {5.5, 5, 1}}, 400, 400), 4);
    EXPECT_DOUBLE_EQ(defaultBandwidth({{5, 5, 1}, {395, 195, 1}}, 400, 200), 25);
    EXPECT_DOUBLE_EQ(defaultBandwidth({{5, 5, 1}}, 400, 400), 4);
}

TEST(DensityTest, TheOverlayIsClearWhereLowAndTopAtTheCluster) {
    // A city of 400 codes, a town of 5 and a lone code far off.
    std::vector<WeightedPixel> points;
    for (int i = 0; i < 400; ++i) points.push_back({50.0 + i % 20 * 0.5, 50.0 + i / 20 * 0.5, 1});
    for (int i = 0; i < 5; ++i) points.push_back({150.0 + i, 60, 1});
    points.push_back({100, 150, 1});
    const DensityGrid grid(points, 200, 200, 5);
    for (const DensityScale scale : {DensityScale::Equalised, DensityScale::Logarithmic}) {
        std::vector<float> level;
        const auto rgba = densityOverlay(grid, 1, scale, &level);
        ASSERT_EQ(rgba.size(), 200u * 200u * 4u);
        const auto at = [&](int x, int y) { return level[size_t(y) * 200 + size_t(x)]; };
        const auto alpha = [&](int x, int y) {
            return rgba[(size_t(y) * 200 + size_t(x)) * 4 + 3];
        };
        EXPECT_GT(at(55, 55), 0.95f);
        EXPECT_GT(at(152, 60), 0.0f);
        EXPECT_LT(at(152, 60), at(55, 55));
        EXPECT_GT(at(100, 150), -1.0f);  // a lone code still shows
        EXPECT_EQ(at(100, 170), -1.0f);  // four bandwidths away it does not
        EXPECT_EQ(alpha(100, 170), 0);
        EXPECT_EQ(alpha(5, 195), 0);
        EXPECT_GT(alpha(55, 55), alpha(152, 60));
        EXPECT_LE(alpha(55, 55), uint8_t(255 * kMaxDensityAlpha + 1));
        EXPECT_EQ(densityRamp(1), (Rgb{253, 231, 37}));
    }
    EXPECT_EQ(parseDensityScale("log"), DensityScale::Logarithmic);
    EXPECT_EQ(errorOf([] { parseDensityScale("linear"); }).value().number(), err::kInvalidArgument);
    // Nothing to show: a clear overlay.
    const auto empty = densityOverlay(DensityGrid({}, 10, 10, 2), 1, DensityScale::Equalised);
    EXPECT_TRUE(std::all_of(empty.begin(), empty.end(), [](uint8_t v) { return v == 0; }));
}

}  // namespace
}  // namespace zembra::render::test
