// The shipped maps and the engine agree: every zip code inside a map's bounds, placed by
// the engine, lands on land, on the United States' land, and New Jersey's codes inside
// New Jersey's borders as the map draws them.
//
// The pixel of each code comes from the engine: it plots every code with a 2 x 2 marker
// whose only non-white pixel is the bottom-right one, so that pixel lies exactly on the
// code's projected pixel; the pixels the engine changed are compared with the positions
// this test computes, so the per-code positions used below are the engine's.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <filesystem>
#include <set>
#include <zembra/render/catalogue.hpp>
#include <zembra/runtime.hpp>

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

// Codes without an area of their own sit in the table zip_towns, at their post-office town,
// where the reverse lookup never looks: at the pixel of a code with an area it gives the
// answer it gave before that table existed. The pixels asked, of the shipped database and of
// a copy holding only the codes of zipcodes.csv, are those where a town position lies about as near
// as the code itself (where a town row in the lookup's table would win), and every eighth code
// besides.
TEST_P(MapAgreement, EveryCodeAnswersAtItsPixelAsWithoutTheTownTable) {
    const auto& m = kMaps[GetParam()];
    const auto& r = rendered(GetParam());
    ScratchDir scratch("agreement");
    const fs::path before = scratch.path() / "zips-only.db";
    fs::copy_file(ZEMBRA_ZIPCODES_DB_FILE, before);
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(before.c_str(), &raw), SQLITE_OK);
        std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, &sqlite3_close);
        // Before: the ZCTA codes of zipcodes.csv in zips, and no town table.
        std::string sql =
            "CREATE TEMP TABLE csv (zipcode TEXT PRIMARY KEY); INSERT INTO csv VALUES ";
        for (const auto& row : allCodes()) sql += "('" + row.code + "'),";
        sql.back() = ';';
        sql += "DELETE FROM zips WHERE zipcode NOT IN (SELECT zipcode FROM csv);";
        ASSERT_EQ(sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db.get(), "DROP TABLE zip_towns", nullptr, nullptr, nullptr),
                  SQLITE_OK)
            << "the shipped database has no zip_towns table";
    }

    // Town positions by whole degree, to find those near a point quickly.
    std::map<std::pair<int, int>, std::vector<std::pair<double, double>>> towns;
    for (const auto& town : readZipCsv(ZEMBRA_ZIP_TOWNS_CSV)) {
        towns[{int(std::floor(town.lat)), int(std::floor(town.lon))}].push_back(
            {town.lat, town.lon});
    }
    ASSERT_GT(towns.size(), 100u);
    // Flat distance in miles, good enough to pick the pixels worth asking.
    const auto miles = [](double lat1, double lon1, double lat2, double lon2) {
        const double dy = (lat2 - lat1) * 69.1;
        const double dx = (lon2 - lon1) * 69.1 * std::cos(lat1 * M_PI / 180);
        return std::sqrt(dx * dx + dy * dy);
    };
    const auto townWithin = [&](double lat, double lon, double radius) {
        const double dLat = radius / 69.1 + 0.01;
        const double dLon = dLat / std::max(0.05, std::cos(lat * M_PI / 180));
        for (int a = int(std::floor(lat - dLat)); a <= int(std::floor(lat + dLat)); ++a) {
            for (int o = int(std::floor(lon - dLon)); o <= int(std::floor(lon + dLon)); ++o) {
                const auto cell = towns.find({a, o});
                if (cell == towns.end()) continue;
                for (const auto& [tLat, tLon] : cell->second) {
                    if (miles(lat, lon, tLat, tLon) <= radius) return true;
                }
            }
        }
        return false;
    };

    const double w = r.plain.width, h = r.plain.height;
    std::vector<const Placed*> asked;
    size_t atRisk = 0;
    for (size_t i = 0; i < r.codes.size(); ++i) {
        const Placed& c = r.codes[i];
        const double lat = m.minLat + (h - double(c.pixel.y)) * (m.maxLat - m.minLat) / h;
        const double lon = m.minLon + double(c.pixel.x) * (m.maxLon - m.minLon) / w;
        const bool risk = townWithin(lat, lon, miles(lat, lon, c.row.lat, c.row.lon) + 1.0);
        atRisk += risk ? 1 : 0;
        if (risk || i % 8 == 0) asked.push_back(&c);
    }

    zembra::Object map = zembra::createObject("Zembra.CMap");
    map.put("InputMapFile", zembra::Variant((fs::path(ZEMBRA_APP_DIR) / "Images" / "Maps" /
                                             (std::string(m.name) + ".jpg"))
                                                .string()));
    map.put("MinLat", zembra::Variant(m.minLat));
    map.put("MaxLat", zembra::Variant(m.maxLat));
    map.put("MinLon", zembra::Variant(m.minLon));
    map.put("MaxLon", zembra::Variant(m.maxLon));
    // Codes close together share a pixel: each database is asked once per pixel.
    const auto answers = [&](const fs::path* database) {
        if (database) {
            ::setenv("ZEMBRA_ZIPCODES_DB", database->c_str(), 1);
        } else {
            ::unsetenv("ZEMBRA_ZIPCODES_DB");
        }
        std::map<std::pair<int64_t, int64_t>, zembra::Variant> atPixel;
        std::vector<zembra::Variant> found;
        for (const Placed* c : asked) {
            auto [it, fresh] = atPixel.try_emplace({c->pixel.x, c->pixel.y});
            if (fresh) {
                it->second =
                    map.callWith("GetZipCodeFromMapPoint", static_cast<int32_t>(c->pixel.x),
                                 static_cast<int32_t>(c->pixel.y));
            }
            found.push_back(it->second);
        }
        ::unsetenv("ZEMBRA_ZIPCODES_DB");
        return found;
    };
    const auto withoutTowns = answers(&before);
    const auto shipped = answers(nullptr);

    size_t own = 0, changed = 0;
    std::string sample;
    for (size_t i = 0; i < asked.size(); ++i) {
        if (withoutTowns[i] == zembra::Variant(asked[i]->row.code)) ++own;
        if (!(withoutTowns[i] == shipped[i]) && ++changed <= 20) sample += " " + asked[i]->row.code;
    }
    std::printf(
        "%s: %zu codes asked (%zu with a town position about as near as themselves); "
        "%zu answer at their own pixel; %zu answers changed\n",
        m.name, asked.size(), atRisk, own, changed);
    EXPECT_GT(own, asked.size() / 2) << m.name;
    EXPECT_EQ(changed, 0u) << m.name << ": answers changed at the pixels of" << sample;
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
