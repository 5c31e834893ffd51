// The shipped maps and the engine agree: every zip code inside a map's bounds, placed by
// the engine, lands on land, on the United States' land, and New Jersey's codes inside
// New Jersey's borders as the map draws them.
//
// The pixel of each code comes from the engine: it plots every code with a 2 x 2 marker
// whose only non-white pixel is the bottom-right one, so that pixel lies exactly on the
// code's projected pixel; the pixels the engine changed are compared with the positions
// this test computes, so the per-code positions used below are the engine's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <filesystem>
#include <set>
#include <zembra/runtime.hpp>

#include <zembra/render/catalogue.hpp>

#include "support.hpp"

namespace fs = std::filesystem;
using namespace zembra::test;

namespace {

// Colours of the shipped maps (assets/README.md); JPEG moves them by a few units.
constexpr Rgb kWater{170, 200, 230};
constexpr Rgb kUsLand{240, 235, 220};
constexpr Rgb kForeignLand{220, 220, 210};
constexpr Rgb kMarker{255, 0, 255};
constexpr double kWaterDistance = 30;

double distance(const Rgb& a, const Rgb& b) {
    const double dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return std::sqrt(dr * dr + dg * dg + db * db);
}

struct MapCase {
    const char* name;
    double minLat, maxLat, minLon, maxLon;
};

// The shipped maps and their bounds, from the map catalogue.
const std::vector<MapCase> kMaps = [] {
    std::vector<MapCase> maps;
    for (const auto& key : zembra::render::mapKeys()) {
        maps.push_back({key.key.data(), key.bounds.minLat, key.bounds.maxLat, key.bounds.minLon,
                        key.bounds.maxLon});
    }
    return maps;
}();

struct Placed {
    ZipRow row;
    Pixel pixel;
};

// Everything the checks need about one map: the plain picture and each code's pixel.
struct Rendered {
    Picture plain;
    std::vector<Placed> codes;
};

const std::vector<ZipRow>& allCodes() {
    static const auto rows = readZipCsv(ZEMBRA_ZIPCODES_CSV);
    return rows;
}

fs::path markerFile() {
    static const fs::path path = [] {
        Picture marker{2, 2, {{255, 255, 255}, {255, 255, 255}, {255, 255, 255}, kMarker}};
        const auto p = fs::temp_directory_path() /
                       ("zembra-agreement-marker-" + std::to_string(::getpid()) + ".bmp");
        const auto bytes = encodeBmp(marker);
        writeText(p, std::string(bytes.begin(), bytes.end()));
        return p;
    }();
    return path;
}

Rendered render(const MapCase& m) {
    Rendered out;
    zembra::Object map = zembra::createObject("Zembra.CMap");
    map.put("InputMapFile", zembra::Variant((fs::path(ZEMBRA_APP_DIR) / "Images" / "Maps" /
                                             (std::string(m.name) + ".jpg"))
                                                .string()));
    map.put("InputOverlayFile", zembra::Variant(markerFile().string()));
    map.put("MinLat", zembra::Variant(m.minLat));
    map.put("MaxLat", zembra::Variant(m.maxLat));
    map.put("MinLon", zembra::Variant(m.minLon));
    map.put("MaxLon", zembra::Variant(m.maxLon));
    map.put("OutputImageType", zembra::Variant("bmp"));
    out.plain = decodeBmp(map.get("OutputMap").toBytes());
    const auto w = out.plain.width, h = out.plain.height;

    std::vector<zembra::Variant> codes;
    for (const auto& row : allCodes()) {
        const auto p = project(row.lat, row.lon, m.minLat, m.maxLat, m.minLon, m.maxLon, w, h);
        if (p.x < 0 || p.y < 0 || p.x >= w || p.y >= h) continue;
        out.codes.push_back({row, p});
        codes.emplace_back(row.code);
    }
    if (codes.empty()) {
        ADD_FAILURE() << m.name << ": no zip code inside the bounds";
        return out;
    }
    std::vector<zembra::Variant> args{zembra::Variant(std::move(codes))};
    map.call("MapZips", args);
    EXPECT_TRUE(map.get("UnmatchedZips").elements().empty()) << m.name;
    const auto marked = decodeBmp(map.get("OutputMap").toBytes());

    // The engine changed exactly the computed pixels, each to the marker's colour.
    std::set<std::pair<int64_t, int64_t>> expected, changed;
    for (const auto& c : out.codes) {
        if (!(out.plain.at(static_cast<int32_t>(c.pixel.x), static_cast<int32_t>(c.pixel.y)) ==
              kMarker)) {
            expected.insert({c.pixel.x, c.pixel.y});
        }
    }
    size_t wrongColour = 0;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (marked.at(x, y) == out.plain.at(x, y)) continue;
            changed.insert({x, y});
            if (!(marked.at(x, y) == kMarker)) ++wrongColour;
        }
    }
    EXPECT_EQ(wrongColour, 0u) << m.name;
    EXPECT_EQ(changed, expected) << m.name << ": the engine placed codes elsewhere";
    return out;
}

const Rendered& rendered(size_t index) {
    static std::vector<std::optional<Rendered>> cache(std::size(kMaps));
    if (!cache[index]) cache[index] = render(kMaps[index]);
    return *cache[index];
}

class MapAgreement : public ::testing::TestWithParam<size_t> {};

}  // namespace

TEST_P(MapAgreement, CodesInsideTheBoundsLandOnLand) {
    const auto& m = kMaps[GetParam()];
    const auto& r = rendered(GetParam());
    ASSERT_FALSE(r.codes.empty());
    size_t land = 0;
    std::vector<std::string> wet;
    for (const auto& c : r.codes) {
        const auto& colour =
            r.plain.at(static_cast<int32_t>(c.pixel.x), static_cast<int32_t>(c.pixel.y));
        if (distance(colour, kWater) >= kWaterDistance) {
            ++land;
        } else if (wet.size() < 20) {
            wet.push_back(c.row.code);
        }
    }
    const double share = static_cast<double>(land) / static_cast<double>(r.codes.size());
    std::string sample;
    for (const auto& code : wet) sample += " " + code;
    RecordProperty("land_share", std::to_string(share));
    std::printf("%s: %zu of %zu zip codes on land (%.3f%%)\n", m.name, land, r.codes.size(),
                100 * share);
    EXPECT_GE(share, 0.99) << m.name << ": codes on water, e.g." << sample;
}

TEST_P(MapAgreement, CodesLieOnTheUnitedStatesNotOnNeighbours) {
    const auto& m = kMaps[GetParam()];
    const auto& r = rendered(GetParam());
    size_t foreign = 0;
    std::string sample;
    for (const auto& c : r.codes) {
        const auto& colour =
            r.plain.at(static_cast<int32_t>(c.pixel.x), static_cast<int32_t>(c.pixel.y));
        if (distance(colour, kForeignLand) < 6 && distance(colour, kUsLand) > 20) {
            if (++foreign <= 20) sample += " " + c.row.code;
        }
    }
    std::printf("%s: %zu of %zu zip codes on other countries' land\n", m.name, foreign,
                r.codes.size());
    EXPECT_LE(foreign, r.codes.size() / 200) << m.name << ": e.g." << sample;
}

INSTANTIATE_TEST_SUITE_P(ShippedMaps, MapAgreement, ::testing::Values(0u, 1u, 2u),
                         [](const auto& info) { return std::string(kMaps[info.param].name); });

TEST(MapAgreementStates, NewJerseyCodesLieInsideNewJerseysBorders) {
    const auto& r = rendered(0);
    const auto& plain = r.plain;
    const auto find = [&](const std::string& code) {
        const auto it = std::find_if(r.codes.begin(), r.codes.end(),
                                     [&](const Placed& c) { return c.row.code == code; });
        if (it == r.codes.end()) throw std::runtime_error("no such code: " + code);
        return it->pixel;
    };
    // New Jersey as the map draws it: the US land reachable from 08873 (Somerset) without
    // crossing a border, coast or water.
    const auto start = find("08873");
    std::vector<uint8_t> inside(plain.pixels.size(), 0);
    const auto index = [&](int64_t x, int64_t y) {
        return static_cast<size_t>(y) * static_cast<size_t>(plain.width) + static_cast<size_t>(x);
    };
    const auto isUsLand = [&](int64_t x, int64_t y) {
        return distance(plain.at(static_cast<int32_t>(x), static_cast<int32_t>(y)), kUsLand) < 16;
    };
    ASSERT_TRUE(isUsLand(start.x, start.y));
    std::deque<Pixel> queue{start};
    inside[index(start.x, start.y)] = 1;
    size_t area = 0;
    while (!queue.empty()) {
        const Pixel p = queue.front();
        queue.pop_front();
        ++area;
        for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
            const int64_t x = p.x + dx, y = p.y + dy;
            if (x < 0 || y < 0 || x >= plain.width || y >= plain.height) continue;
            if (inside[index(x, y)] || !isUsLand(x, y)) continue;
            inside[index(x, y)] = 1;
            queue.push_back({x, y});
        }
    }
    // New Jersey covers about 22,600 square kilometres, some 3,500 pixels here; a fill
    // that escaped through a border would cover far more.
    std::printf("New Jersey region: %zu pixels\n", area);
    EXPECT_GT(area, 1500u);
    EXPECT_LT(area, 6000u);

    // Codes on US land must fall in New Jersey exactly when they are New Jersey's; codes on
    // border lines, coasts or water say nothing either way.
    size_t nj = 0, njOnLand = 0, njInside = 0;
    for (const auto& c : r.codes) {
        const bool onLand = isUsLand(c.pixel.x, c.pixel.y);
        const bool in = inside[index(c.pixel.x, c.pixel.y)] != 0;
        if (c.row.state == "NJ") {
            ++nj;
            njOnLand += onLand ? 1 : 0;
            njInside += in ? 1 : 0;
        } else if (in) {
            ADD_FAILURE() << c.row.code << " (" << c.row.state << ") lies inside New Jersey";
        }
    }
    std::printf("New Jersey: %zu codes, %zu on open land, %zu of them inside its borders\n", nj,
                njOnLand, njInside);
    ASSERT_GT(nj, 500u);
    EXPECT_GE(static_cast<double>(njOnLand), 0.8 * static_cast<double>(nj));
    EXPECT_GE(static_cast<double>(njInside), 0.99 * static_cast<double>(njOnLand));
    for (const char* code : {"08232", "07102", "08540", "07960"}) {
        const auto p = find(code);
        EXPECT_TRUE(inside[index(p.x, p.y)]) << code;
    }
}
