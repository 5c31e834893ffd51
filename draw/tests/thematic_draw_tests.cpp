// The thematic styles' drawing: areas from the shipped boundary data with every zip code in
// exactly one of them, the canvas's picture and overlay, and the legend's corner.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <zembra/draw/thematic.hpp>
#include <zembra/runtime.hpp>
#include <zembra/test/support.hpp>

#include "imaging.hpp"

using namespace zembra;
using namespace zembra::draw;

namespace {

struct Code {
    std::string zip;
    render::LatLon position;
    std::string state;
};

// The codes of the shipped zip-code tables (zipcode,latitude,longitude,city,state).
std::vector<Code> shippedCodes() {
    std::vector<Code> out;
    for (const char* file : {ZEMBRA_ZIPCODES_CSV, ZEMBRA_ZIP_TOWNS_CSV}) {
        std::ifstream in(file);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            std::vector<std::string> f;
            std::stringstream fields(line);
            for (std::string x; std::getline(fields, x, ',');) f.push_back(x);
            if (f.size() < 3) continue;
            out.push_back({f[0], {std::stod(f[1]), std::stod(f[2])}, f.size() > 4 ? f[4] : ""});
        }
    }
    return out;
}

BoundaryData& shipped() {
    static BoundaryData data;
    return data;
}

TEST(ThematicAreas, EveryShippedCodeFallsInOneCountyOfItsState) {
    const auto codes = shippedCodes();
    ASSERT_EQ(codes.size(), 41911u);
    const render::AreaIndex counties(countyAreas(shipped()));
    std::map<std::string, std::string> known{
        {"08873", "34035"}, {"10001", "36061"}, {"90210", "06037"}, {"60601", "17031"},
        {"99501", "02020"}, {"96813", "15003"}, {"00601", "72001"}};
    std::map<std::string, bool> statesWithCounties;
    for (const auto& a : counties.areas()) statesWithCounties[a.abbr] = true;
    size_t outside = 0;
    for (const Code& c : codes) {
        const size_t area = counties.assign(c.position, c.state);
        ASSERT_NE(area, render::kNoArea) << c.zip;
        const render::Area& a = counties.areas()[area];
        ASSERT_EQ(a.fips.size(), 5u) << c.zip;
        if (statesWithCounties.contains(c.state)) {
            EXPECT_EQ(a.abbr, c.state) << c.zip << " in " << a.fips;
        }
        if (!counties.contains(area, c.position)) ++outside;
        if (known.contains(c.zip)) {
            EXPECT_EQ(a.fips, known[c.zip]) << c.zip;
        }
    }
    // Codes just off the coast or across a state line go to the nearest county of their
    // state: a small share.
    EXPECT_LT(outside, codes.size() / 50) << outside;

    const auto states = stateAreas(shipped());
    const auto nj = std::find_if(states.begin(), states.end(),
                                 [](const render::Area& a) { return a.fips == "34"; });
    ASSERT_NE(nj, states.end());
    EXPECT_EQ(nj->abbr, "NJ");
    EXPECT_EQ(nj->name, "New Jersey");
}

TEST(ThematicCanvas, APictureComesBackAsItWentInAndOverlaysBlend) {
    imaging::Picture p{3, 2, {}};
    for (int i = 0; i < 6; ++i) p.rgba.insert(p.rgba.end(), {uint8_t(i * 40), 100, 200, 255});
    Canvas canvas(p);
    EXPECT_EQ(canvas.picture().rgba, p.rgba);

    // Premultiplied: half-transparent white over (0,100,200) gives (128,178,228).
    std::vector<uint8_t> overlay(6 * 4, 0);
    overlay[0] = overlay[1] = overlay[2] = 128;
    overlay[3] = 128;
    canvas.overlay(overlay);
    const auto out = canvas.picture();
    EXPECT_NEAR(out.rgba[0], 128, 1);
    EXPECT_NEAR(out.rgba[1], 178, 1);
    EXPECT_NEAR(out.rgba[2], 228, 1);
    EXPECT_EQ(std::vector<uint8_t>(out.rgba.begin() + 4, out.rgba.end()),
              std::vector<uint8_t>(p.rgba.begin() + 4, p.rgba.end()));  // clear stays clear
    const auto e = zembra::test::errorOf([&] { canvas.overlay(std::vector<uint8_t>(4, 0)); });
    EXPECT_EQ(e.value().number(), err::kInvalidArgument);
    EXPECT_GT(canvas.textWidth("Segment", 14), canvas.textWidth("Seg", 14));
    EXPECT_GT(canvas.textWidth("Segment", 14, true), canvas.textWidth("Segment", 14));
}

TEST(ThematicDrawing, TheLegendAvoidsTheCodesAndMarkersStayWithTheEngine) {
    // Codes crowd the bottom left of a plain grey map: the legend goes to another corner.
    imaging::Picture base{400, 300, std::vector<uint8_t>(400 * 300 * 4, 128)};
    const render::Bounds bounds{0, 30, 0, 40};
    render::RowTable rows(true);
    std::vector<render::PlacedEntry> placed;
    for (int i = 0; i < 30; ++i) {
        rows.add(std::to_string(i), i % 2 ? "A" : "B", std::nullopt);
        placed.push_back({size_t(i), {1.0 + i % 5, 1.0 + i / 5}, ""});
    }
    ThematicOptions options;
    options.style = Style::Category;
    options.categoryName = "Kind";
    const ThematicPicture drawn = drawThematic(base, bounds, rows, placed, options, shipped());
    const auto px = [&](int x, int y) {
        return drawn.picture.rgba[(size_t(y) * 400 + size_t(x)) * 4];
    };
    EXPECT_EQ(drawn.totals.size(), 2u);
    EXPECT_GT(px(395 - 5, 295 - 5), 200);  // the panel, bottom right
    EXPECT_EQ(px(100, 150), 128);          // the middle is untouched

    options.style = Style::Markers;
    EXPECT_EQ(
        zembra::test::errorOf([&] { drawThematic(base, bounds, rows, placed, options, shipped()); })
            .value()
            .number(),
        err::kInvalidArgument);
    EXPECT_EQ(parseStyle("counties"), Style::Counties);
    EXPECT_EQ(styleName(Style::Density), "density");
    EXPECT_EQ(zembra::test::errorOf([] { parseStyle("Density"); }).value().number(),
              err::kInvalidArgument);
}

// The style's settings are rows of the parameter table, checked together: a mistake
// names the setting, as each front end spells it.
TEST(ThematicOptions, ComeFromTheParameterTable) {
    const auto values = [](std::initializer_list<std::pair<const char*, const char*>> given) {
        render::ParameterValues v;
        for (const auto& [name, text] : given) v.set(name, text);
        return v;
    };
    const auto problem = [&](std::initializer_list<std::pair<const char*, const char*>> given) {
        try {
            (void)thematicOptions(values(given));
        } catch (const render::ParameterError& e) {
            return e.message("-" + e.parameter().name);
        }
        return std::string("accepted");
    };
    // Nothing given, the markers, or a style setting at its default: today's plain render.
    EXPECT_FALSE(thematicOptions(values({})));
    EXPECT_FALSE(thematicOptions(values({{"style", "markers"}, {"legend", "true"}})));

    const auto states = thematicOptions(values({{"style", "states"},
                                                {"value", "Revenue"},
                                                {"classes", "equal"},
                                                {"title", "Sales"},
                                                {"legend", "false"}}));
    ASSERT_TRUE(states);
    EXPECT_EQ(states->style, Style::States);
    EXPECT_EQ(states->classing, render::Classing::EqualInterval);
    EXPECT_EQ(states->valueName, "Revenue");
    EXPECT_EQ(states->title, "Sales");
    EXPECT_FALSE(states->legend);
    EXPECT_EQ(thematicOptions(values({{"style", "density"}, {"bandwidth", "12"}}))->bandwidth, 12);

    EXPECT_EQ(problem({{"style", "bubbles"}}),
              "-style 'bubbles': use markers, category, value, density, states or counties");
    EXPECT_EQ(problem({{"title", "Sales"}}),
              "-title 'Sales': goes with a style other than markers");
    EXPECT_EQ(problem({{"style", "category"}}),
              "-style 'category': needs the column of the categories (category)");
    EXPECT_EQ(problem({{"style", "value"}, {"category", "Segment"}}),
              "-category 'Segment': goes with the category style");
    EXPECT_EQ(problem({{"style", "value"}, {"bandwidth", "9"}}),
              "-bandwidth '9': goes with the density style");
    EXPECT_EQ(problem({{"style", "density"}, {"bandwidth", "0"}}),
              "-bandwidth '0': must be a whole number of at least 1 and at most 200, not '0'");
    EXPECT_EQ(problem({{"style", "states"}, {"classes", "jenks"}}),
              "-classes 'jenks': use quantile or equal");
    EXPECT_EQ(problem({{"style", "value"}, {"classes", "equal"}}),
              "-classes 'equal': goes with the states and counties styles");
    EXPECT_EQ(problem({{"style", "states"}, {"legend", "maybe"}}),
              "-legend 'maybe': must be true or false");

    // The names the styles and classings are read by are the rows' choices.
    for (const auto& c : render::parameter("style").choices)
        EXPECT_EQ(styleName(parseStyle(c.value)), c.value);
    EXPECT_EQ(render::parseClassing(render::parameter("classes").choices[1].value),
              render::Classing::EqualInterval);
}

}  // namespace
