// `zembra render --style ...` end to end: the built program, the shipped zip-code database,
// maps and boundary data, and the pictures and tables it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <zembra/render/catalogue.hpp>

#include "imaging.hpp"
#include "support.hpp"

namespace fs = std::filesystem;
using namespace zembra::test;

namespace {

const fs::path kExe = ZEMBRA_CLI_EXE;
const fs::path kMaps = fs::path(ZEMBRA_APP_DIR) / "Images" / "Maps";
const zembra::render::Bounds kUsa = *zembra::render::boundsForMapName("usa.jpg");

// Every code of the shipped tables: those with an area, then those at a post-office town.
const std::vector<ZipRow>& allCodes() {
    static const std::vector<ZipRow> rows = [] {
        auto all = readZipCsv(ZEMBRA_ZIPCODES_CSV);
        const auto towns = readZipCsv(ZEMBRA_ZIP_TOWNS_CSV);
        all.insert(all.end(), towns.begin(), towns.end());
        return all;
    }();
    return rows;
}

std::vector<ZipRow> codesOf(const std::string& state) {
    std::vector<ZipRow> out;
    for (const auto& r : allCodes()) {
        if (r.state == state) out.push_back(r);
    }
    return out;
}

const ZipRow& zipRow(const std::string& code) {
    for (const auto& r : allCodes()) {
        if (r.code == code) return r;
    }
    throw std::runtime_error("zip code missing from the CSV: " + code);
}

Pixel usaPixel(double lat, double lon) {
    return project(lat, lon, kUsa.minLat, kUsa.maxLat, kUsa.minLon, kUsa.maxLon, 2000, 1112);
}

double distance(const Rgb& a, const Rgb& b) {
    const double dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return std::sqrt(dr * dr + dg * dg + db * db);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Picture readBmp(const fs::path& path) {
    const std::string bytes = readFile(path);
    return decodeBmp(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// A sales list: Zip, Segment (three values) and Revenue, one row per code and a second row
// for every tenth code.
std::string salesCsv(const std::vector<ZipRow>& codes) {
    std::string csv = "Customer,Zip,Segment,Revenue\n";
    static const char* kSegments[] = {"Retail", "Office", "Farm"};
    for (size_t i = 0; i < codes.size(); ++i) {
        const std::string row = "c" + std::to_string(i) + "," + codes[i].code + "," +
                                kSegments[i % 3] + "," + std::to_string(100 + i % 7) + "\n";
        csv += row;
        if (i % 10 == 0) csv += row;
    }
    return csv;
}

class Thematic : public ::testing::Test {
  protected:
    RunResult run(std::vector<std::string> args, const std::string& input = {}) {
        args.insert(args.begin(), "render");
        return runProgram(kExe, args, input);
    }
    fs::path write(const std::string& name, const std::string& text) {
        std::ofstream(dir.path() / name, std::ios::binary) << text;
        return dir.path() / name;
    }
    static std::string scratchName() {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        return name;
    }
    ScratchDir dir{scratchName()};
};

TEST_F(Thematic, CategoriesGetTheirOwnColours) {
    // Three far-apart codes of three segments, the first segment the largest.
    const fs::path csv = write("s.csv",
                               "Zip,Segment\n98101,Retail\n33131,Office\n60601,Farm\n"
                               "98101,Retail\n80202,Retail\n");
    const auto out = dir.path() / "c.bmp";
    const auto table = dir.path() / "c.csv";
    const auto r = run({"-f", csv.string(), "--column", "Zip", "--style", "category", "--category",
                        "Segment", "--table", table.string(), "-o", out.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("placed 4 of 4 zip codes (5 rows)"), std::string::npos) << r.err;
    const Picture p = readBmp(out);
    const auto at = [&](const std::string& code) {
        const auto px = usaPixel(zipRow(code).lat, zipRow(code).lon);
        return p.at(int32_t(px.x), int32_t(px.y));
    };
    // Okabe and Ito's first three colours, largest category first.
    EXPECT_LT(distance(at("98101"), {230, 159, 0}), 30);
    EXPECT_LT(distance(at("80202"), {230, 159, 0}), 30);
    EXPECT_LT(distance(at("60601"), {86, 180, 233}), 30);  // Farm before Office by name
    EXPECT_LT(distance(at("33131"), {0, 158, 115}), 30);
    EXPECT_EQ(readFile(table), "category,codes,rows,sum\nRetail,2,3,\nFarm,1,1,\nOffice,1,1,\n");
}

TEST_F(Thematic, StatesAreFilledByTheirCodesAndTheTableAddsUp) {
    const auto nj = codesOf("NJ");
    ASSERT_GT(nj.size(), 500u);
    const fs::path csv = write("nj.csv", salesCsv(nj));
    const auto out = dir.path() / "s.bmp";
    const auto table = dir.path() / "s.csv";
    const auto r = run({"-f", csv.string(), "--column", "zip", "--value", "Revenue", "--style",
                        "states", "--table", table.string(), "-o", out.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const Picture p = readBmp(out);
    const auto at = [&](double lat, double lon) {
        const auto px = usaPixel(lat, lon);
        return p.at(int32_t(px.x), int32_t(px.y));
    };
    const Rgb land{240, 235, 220}, noData{214, 214, 214};
    EXPECT_GE(distance(at(40.3, -74.6), land), 40);  // New Jersey is filled
    EXPECT_GE(distance(at(40.3, -74.6), noData), 40);
    EXPECT_LT(distance(at(38.5, -98.5), noData), 6);  // Kansas has no codes in the list
    EXPECT_LT(distance(at(44.0, -100.0), noData), 6);

    // One row: every code in New Jersey, each row counted, revenue summed.
    double revenue = 0;
    size_t rows = 0;
    for (size_t i = 0; i < nj.size(); ++i) {
        const int times = i % 10 == 0 ? 2 : 1;
        revenue += double(times * (100 + int(i % 7)));
        rows += size_t(times);
    }
    std::ostringstream expected;
    expected << "fips,abbr,name,codes,rows,sum\n34,NJ,New Jersey," << nj.size() << ',' << rows
             << ',' << revenue << '\n';
    EXPECT_EQ(readFile(table), expected.str());
}

TEST_F(Thematic, EveryCodeCountsInExactlyOneCountyOfItsState) {
    std::vector<ZipRow> list = codesOf("NJ");
    const auto ny = codesOf("NY");
    list.insert(list.end(), ny.begin(), ny.end());
    std::string text;
    for (const auto& r : list) text += r.code + "\n";
    const auto out = dir.path() / "k.png";
    const auto table = dir.path() / "k.csv";
    const auto r =
        run({"--style", "counties", "--table", table.string(), "-o", out.string()}, text);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(readFile(table));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "fips,abbr,name,codes,rows,sum");
    size_t codes = 0;
    std::set<std::string> fips;
    std::map<std::string, size_t> perState;
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string x; std::getline(fields, x, ',');) f.push_back(x);
        ASSERT_GE(f.size(), 5u) << line;
        EXPECT_EQ(f[0].size(), 5u) << line;
        EXPECT_TRUE(fips.insert(f[0]).second) << line;
        EXPECT_TRUE((f[1] == "NJ" && f[0].starts_with("34")) ||
                    (f[1] == "NY" && f[0].starts_with("36")))
            << line;
        codes += std::stoul(f[3]);
        perState[f[1]] += std::stoul(f[3]);
    }
    EXPECT_EQ(codes, list.size());
    EXPECT_EQ(perState["NJ"], codesOf("NJ").size());
    EXPECT_EQ(fips.size(), 21u + 62u);  // every county of both states has codes
}

TEST_F(Thematic, DensityOfAllCodesTopsNearNewYorkAndLeavesTheDesertClear) {
    std::string text;
    for (const auto& r : allCodes()) text += r.code + "\n";
    const auto out = dir.path() / "d.bmp";
    const auto plain = dir.path() / "p.bmp";
    const auto r = run({"--style", "density", "-o", out.string()}, text);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(run({"99999", "--no-towns", "-o", plain.string()}).status, 0);
    const Picture d = readBmp(out);
    const Picture base = readBmp(plain);
    const auto at = [](const Picture& p, double lat, double lon) {
        const auto px = usaPixel(lat, lon);
        return p.at(int32_t(px.x), int32_t(px.y));
    };
    // The ramp's top is yellow; blended over the land it stays clearly yellow.
    const Rgb nyc = at(d, 40.75, -73.99);
    EXPECT_GT(nyc.r, 200);
    EXPECT_GT(nyc.g, 190);
    EXPECT_LT(nyc.b, 110);
    EXPECT_EQ(at(d, 38.5, -116.5), at(base, 38.5, -116.5));  // central Nevada
}

TEST_F(Thematic, ValueCirclesGrowWithTheValue) {
    const fs::path csv =
        write("v.csv", "Zip,Revenue\n98101,10000\n33131,100\n33131,\"$1,000\"\n60601,0\n");
    const auto out = dir.path() / "v.bmp";
    const auto r = run({"-f", csv.string(), "--column", "Zip", "--value", "Revenue", "--style",
                        "value", "--title", "Revenue", "-o", out.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const Picture p = readBmp(out);
    const auto plain = dir.path() / "p.bmp";
    ASSERT_EQ(run({"99999", "--no-towns", "-o", plain.string()}).status, 0);
    const Picture base = readBmp(plain);
    const auto coloured = [&](const std::string& code, int dx) {
        const auto px = usaPixel(zipRow(code).lat, zipRow(code).lon);
        const int32_t x = int32_t(px.x) + dx, y = int32_t(px.y);
        return distance(p.at(x, y), base.at(x, y)) > 40;
    };
    // 10,000 gets the largest radius (some 33 pixels), 1,100 a third of it, 0 none.
    EXPECT_TRUE(coloured("98101", 25));
    EXPECT_TRUE(coloured("33131", 5));
    EXPECT_FALSE(coloured("33131", 16));
    EXPECT_FALSE(coloured("60601", 0));
}

TEST_F(Thematic, MistakesAreUsageErrorsAndMarkersStayAsTheyWere) {
    const fs::path csv = write("s.csv", "Zip,Segment,Revenue\n08873,A,1\n08232,B,x\n");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"08873", "--style", "bubbles", "-o", "x.png"},
             {"08873", "--category", "Segment", "-o", "x.png"},
             {"08873", "--style", "category", "--category", "Segment", "-o", "x.png"},
             {"-f", csv.string(), "--column", "Zip", "--style", "category", "-o", "x.png"},
             {"-f", csv.string(), "--column", "Zip", "--style", "states", "--category", "Segment",
              "-o", "x.png"},
             {"-f", csv.string(), "--column", "Zip", "--style", "value", "--value", "Nope", "-o",
              "x.png"},
             {"08873", "--style", "density", "--bandwidth", "0.2", "-o", "x.png"},
             {"08873", "--style", "value", "--bandwidth", "9", "-o", "x.png"},
             {"08873", "--style", "states", "--classes", "jenks", "-o", "x.png"},
             {"08873", "--style", "states", "--marker", "red_pin", "-o", "x.png"},
         }) {
        const auto r = run(args);
        EXPECT_EQ(r.status, 2) << args[2] << ' ' << args[3] << ": " << r.err;
    }
    // A value that is no number names its place; nothing is written.
    const auto bad = run({"-f", csv.string(), "--column", "Zip", "--value", "Revenue", "--style",
                          "value", "-o", (dir.path() / "bad.png").string()});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("line 3, column Revenue"), std::string::npos) << bad.err;
    EXPECT_FALSE(fs::exists(dir.path() / "bad.png"));

    // The table's one set of messages, spelt with the long options; the help lists the rows.
    EXPECT_NE(run({"08873", "--title", "Sales", "-o", "x.png"})
                  .err.find("--title 'Sales': goes with a style other than markers"),
              std::string::npos);
    EXPECT_NE(run({"08873", "--style", "bubbles", "-o", "x.png"})
                  .err.find("--style 'bubbles': use markers, category, value, density, states or "
                            "counties"),
              std::string::npos);
    const auto help = run({"--help"});
    for (const char* flag : {"--style", "--category", "--value", "--bandwidth", "--classes",
                             "--title", "--subtitle", "--no-legend", "--table"}) {
        EXPECT_NE(help.out.find(flag), std::string::npos) << flag;
    }

    // --style markers is the plain render, byte for byte.
    const auto a = dir.path() / "a.png";
    const auto b = dir.path() / "b.png";
    ASSERT_EQ(run({"08873", "08232", "-o", a.string()}).status, 0);
    ASSERT_EQ(run({"08873", "08232", "--style", "markers", "-o", b.string()}).status, 0);
    EXPECT_EQ(readFile(a), readFile(b));
}

}  // namespace

namespace {

// Each style for one fixed list (the New Jersey codes with a segment and a revenue), on a
// map of New Jersey drawn at 500 pixels, against the reference picture committed beside the
// tests. ZEMBRA_UPDATE_REFERENCES=1 writes the pictures there instead (look at each before
// committing it).
class ThematicReference : public Thematic, public ::testing::WithParamInterface<const char*> {};

TEST_P(ThematicReference, MatchesTheCommittedPicture) {
    const std::string style = GetParam();
    const fs::path csv = write("nj.csv", salesCsv(codesOf("NJ")));
    const auto out = dir.path() / (style + ".png");
    std::vector<std::string> args{
        "-f", csv.string(), "--column", "Zip",     "--style",    style,        "--region",
        "NJ", "--width",    "500",      "--title", "New Jersey", "--subtitle", "Sales by zip code",
        "-o", out.string()};
    if (style == "category") args.insert(args.end(), {"--category", "Segment"});
    if (style == "value" || style == "counties") args.insert(args.end(), {"--value", "Revenue"});
    const auto r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path reference = fs::path(ZEMBRA_THEMATIC_REFERENCES) / (style + ".png");
    if (std::getenv("ZEMBRA_UPDATE_REFERENCES") != nullptr) {
        fs::copy_file(out, reference, fs::copy_options::overwrite_existing);
        GTEST_SKIP() << "wrote " << reference;
    }
    const auto actual = zembra::imaging::readPicture(out.string());
    const auto expected = zembra::imaging::readPicture(reference.string());
    ASSERT_EQ(actual.width, expected.width);
    ASSERT_EQ(actual.height, expected.height);
    // Within a small tolerance: anti-aliasing and font hinting may move an edge by a shade.
    size_t far = 0;
    double total = 0;
    for (size_t i = 0; i < actual.rgba.size(); ++i) {
        const int d = std::abs(int(actual.rgba[i]) - int(expected.rgba[i]));
        total += d;
        if (d > 40) ++far;
    }
    EXPECT_LT(total / double(actual.rgba.size()), 0.5) << out;
    EXPECT_LT(double(far) / double(actual.rgba.size()), 0.002) << out;
}

INSTANTIATE_TEST_SUITE_P(Styles, ThematicReference,
                         ::testing::Values("category", "value", "density", "states", "counties"));

}  // namespace
