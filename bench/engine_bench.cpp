// The map engine against its floors, through createObject("Zembra.CMap") as a real
// caller reaches it. Prints three tables (median of several runs, and ratios):
//   1. Clear, MapCoordinates of N random points on a 2000 x 1000 JPEG map with a
//      15 x 15 PNG marker, then SaveMap as PNG and as JPEG; floor: decode the map once
//      and encode the output once with the same codec settings. Engine and floor runs
//      alternate, so both see the same load; times are the process's CPU time (the
//      machine is shared) with the wall time of the whole call beside it, and the
//      engine's total is split into its three calls.
//   2. MapZips of every code of the shipped database, embedded, through the SQLite ODBC
//      driver and through the PostgreSQL ODBC driver to a private local server loaded with
//      `zembra db load`; floor: the same point queries on one prepared SQLite statement.
//   3. GetZipCodeFromMapPoint at 1,000 random pixels of a 2000 x 1000 map: median, p99.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>
#include <zembra/runtime.hpp>
#include <zembra/test/odbc_ini.hpp>
#include <zembra/test/postgres_cluster.hpp>

#include "imaging.hpp"

namespace {

namespace fs = std::filesystem;
using zembra::Object;
using zembra::Variant;
using zembra::imaging::Format;
using zembra::imaging::Picture;
using Clock = std::chrono::steady_clock;

double secondsOf(const std::function<void()>& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// CPU and wall seconds of one call of f.
struct Spent {
    double cpu;
    double wall;
};
Spent spentOn(const std::function<void()>& f) {
    const double cpu = cpuSeconds();
    const auto start = Clock::now();
    f();
    return {cpuSeconds() - cpu, std::chrono::duration<double>(Clock::now() - start).count()};
}

double medianOf(int runs, const std::function<void()>& f) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) times.push_back(secondsOf(f));
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A map-like picture: shaded land and water, a grid of roads and some noise, so it
// compresses like a real map JPEG.
Picture makeMap(int32_t width, int32_t height) {
    Picture p{width, height, {}};
    p.rgba.resize(size_t(width) * size_t(height) * 4);
    uint32_t seed = 1;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* px = p.rgba.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
            const double coast = std::sin(x * 0.004) * 120 + std::cos(y * 0.01) * 60 + height / 2.0;
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 29) - 4;
            if (y > coast) {
                px[0] = uint8_t(110 + noise), px[1] = uint8_t(150 + noise),
                px[2] = uint8_t(200 + noise);
            } else {
                px[0] = uint8_t(180 + (x % 256) / 8 + noise);
                px[1] = uint8_t(200 - (y % 256) / 8 + noise);
                px[2] = uint8_t(150 + noise);
            }
            if (x % 97 == 0 || y % 89 == 0) px[0] = 90, px[1] = 90, px[2] = 90;
            px[3] = 255;
        }
    }
    return p;
}

Picture makeMarker() {
    Picture marker{15, 15, {}};
    for (int i = 0; i < 15 * 15; ++i) {
        const int dx = i % 15 - 7, dy = i / 15 - 7;
        const bool dot = dx * dx + dy * dy < 40;
        marker.rgba.insert(marker.rgba.end(), {uint8_t(dot ? 220 : 255), uint8_t(dot ? 20 : 255),
                                               uint8_t(dot ? 20 : 255), 255});
    }
    return marker;
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::string> allZipCodes(const fs::path& db) {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(db.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> handle(raw, &sqlite3_close);
    sqlite3_stmt* rawStmt = nullptr;
    sqlite3_prepare_v2(raw, "select zipcode from zips", -1, &rawStmt, nullptr);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(rawStmt, &sqlite3_finalize);
    std::vector<std::string> codes;
    while (rawStmt && sqlite3_step(rawStmt) == SQLITE_ROW) {
        codes.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(rawStmt, 0)));
    }
    return codes;
}

// The floor of the zip lookups: one prepared statement, bound and stepped per code.
void preparedLookups(const fs::path& db, const std::vector<std::string>& codes) {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(db.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> handle(raw, &sqlite3_close);
    sqlite3_stmt* rawStmt = nullptr;
    sqlite3_prepare_v2(raw, "select Longitude, latitude from zips where zipcode = ?", -1, &rawStmt,
                       nullptr);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(rawStmt, &sqlite3_finalize);
    double sum = 0;
    for (const std::string& code : codes) {
        sqlite3_bind_text(rawStmt, 1, code.data(), int(code.size()), SQLITE_STATIC);
        if (sqlite3_step(rawStmt) == SQLITE_ROW) {
            sum += sqlite3_column_double(rawStmt, 0) + sqlite3_column_double(rawStmt, 1);
        }
        sqlite3_reset(rawStmt);
    }
    if (sum == 0) std::puts("(no rows found)");
}

}  // namespace

int main(int argc, char** argv) {
    // engine_bench [runs [sections]]: sections is a string of the table numbers, "123" by default.
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string sections = argc > 2 ? argv[2] : "123";
    auto wanted = [&](char section) { return sections.find(section) != std::string::npos; };
    const fs::path shippedDb = ZEMBRA_BENCH_ZIPCODES_DB;
    // Before any ODBC call: a private configuration whose DSNs are the shipped database and,
    // for table 2, a private PostgreSQL server. The bare name "zipcodes" is then no DSN and
    // opens the embedded database.
    std::optional<zembra::test::PostgresCluster> postgres;
    std::vector<zembra::test::OdbcDataSource> sources{
        zembra::test::sqliteDataSource("zipodbc", shippedDb)};
    if (wanted('2')) {
        postgres.emplace();
        postgres->createDatabase("zips");
        sources.push_back(postgres->dataSource("zippg", "zips"));
    }
    zembra::test::OdbcIni odbc(sources);
    if (postgres && zembra::test::runLogged({ZEMBRA_CLI_EXE, "db", "load", "--connection",
                                             "DSN=zippg", "--from", shippedDb.string()},
                                            "/dev/null") != 0) {
        std::fputs("zembra db load into the PostgreSQL server failed\n", stderr);
        return 1;
    }

    std::string pattern = (fs::temp_directory_path() / "zembra-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const fs::path dir = pattern;
    const Picture mapPicture = makeMap(2000, 1000);
    const std::vector<uint8_t> mapJpeg = zembra::imaging::encode(mapPicture, Format::Jpeg);
    writeFile(dir / "map.jpg", mapJpeg);
    writeFile(dir / "marker.png", zembra::imaging::encode(makeMarker(), Format::Png));
    writeFile(dir / "small.png",
              zembra::imaging::encode(Picture{100, 50, std::vector<uint8_t>(100 * 50 * 4, 200)},
                                      Format::Png));

    auto newMap = [&](const fs::path& mapFile) {
        Object map = zembra::createObject("Zembra.CMap");
        map.put("InputMapFile", mapFile.string());
        map.put("InputOverlayFile", (dir / "marker.png").string());
        return map;
    };

    std::mt19937 random(42);

    // 1. Plotting and saving.
    if (wanted('1')) {
        std::printf(
            "1. Clear + MapCoordinates + SaveMap, 2000 x 1000 JPEG map, 15 x 15 marker\n"
            "   (CPU ms, median of %d alternating runs; wall ms of the whole in brackets)\n",
            runs);
        std::printf("%-7s %-4s %8s %8s %8s %8s %9s %8s %9s %6s\n", "points", "out", "Clear", "plot",
                    "SaveMap", "engine", "(wall)", "floor", "(wall)", "ratio");
        for (const int n : {1000, 33000}) {
            std::uniform_real_distribution<double> lat(24.0, 50.0), lon(-125.0, -66.4);
            std::vector<Variant> lats, lons;
            for (int i = 0; i < n; ++i) {
                lats.emplace_back(lat(random));
                lons.emplace_back(lon(random));
            }
            const Variant aLats(lats), aLons(lons);
            for (const Format format : {Format::Png, Format::Jpeg}) {
                const std::string type(zembra::imaging::formatInfo(format).name);
                std::vector<double> clear, plot, save, engine, engineWall, floor, floorWall;
                for (int run = 0; run < runs; ++run) {
                    Spent c{}, p{}, s{};
                    const Spent whole = spentOn([&] {
                        Object map = newMap(dir / "map.jpg");
                        c = spentOn([&] { map.call("Clear"); });
                        p = spentOn([&] { map.callWith("MapCoordinates", aLats, aLons); });
                        map.put("OutputImageType", type);
                        const std::string out = (dir / (std::string("out.") + type)).string();
                        s = spentOn([&] { map.callWith("SaveMap", out); });
                    });
                    clear.push_back(c.cpu);
                    plot.push_back(p.cpu);
                    save.push_back(s.cpu);
                    engine.push_back(whole.cpu);
                    engineWall.push_back(whole.wall);
                    const Spent f = spentOn([&] {
                        const Picture decoded = zembra::imaging::decode(mapJpeg, "map");
                        // OutputMap encodes with the adapter's file encoders.
                        const std::vector<uint8_t> out = zembra::imaging::encode(decoded, format);
                        if (out.empty()) std::puts("(empty output)");
                    });
                    floor.push_back(f.cpu);
                    floorWall.push_back(f.wall);
                }
                const double e = median(engine), fl = median(floor);
                std::printf("%-7d %-4s %8.1f %8.1f %8.1f %8.1f %9.1f %8.1f %9.1f %6.2f\n", n,
                            type.c_str(), median(clear) * 1e3, median(plot) * 1e3,
                            median(save) * 1e3, e * 1e3, median(engineWall) * 1e3, fl * 1e3,
                            median(floorWall) * 1e3, e / fl);
            }
        }
    }

    // 2. Zip lookups. A 100 x 50 map keeps the drawing out of the comparison.
    if (wanted('2')) {
        const std::vector<std::string> codes = allZipCodes(shippedDb);
        std::vector<Variant> zipList(codes.begin(), codes.end());
        const Variant aZips(zipList);
        std::printf("\n2. MapZips of all %zu codes (median of %d)\n", codes.size(), runs);
        std::printf("%-28s %12s %12s %8s\n", "route", "engine ms", "floor ms", "ratio");
        const double floor = medianOf(runs, [&] { preparedLookups(shippedDb, codes); });
        for (const auto& [label, connection] :
             {std::pair{"embedded (\"zipcodes\")", "zipcodes"},
              std::pair{"SQLite ODBC driver (DSN)", "zipodbc"},
              std::pair{"PostgreSQL ODBC driver (DSN)", "zippg"}}) {
            const double engine = medianOf(runs, [&] {
                Object map = newMap(dir / "small.png");
                map.put("ConnectionString", connection);
                map.callWith("MapZips", aZips);
            });
            std::printf("%-28s %12.1f %12.1f %8.2f\n", label, engine * 1e3, floor * 1e3,
                        engine / floor);
        }
    }

    // 3. Reverse lookups on one object, its map already loaded (as a second click).
    if (wanted('3')) {
        std::printf("\n3. GetZipCodeFromMapPoint, 1000 random pixels of a 2000 x 1000 map\n");
        std::printf("%-28s %10s %10s %10s %8s\n", "route", "median ms", "p99 ms", "max ms",
                    "found");
        for (const auto& [label, connection] : {std::pair{"embedded (\"zipcodes\")", "zipcodes"},
                                                std::pair{"SQLite ODBC driver (DSN)", "zipodbc"}}) {
            Object map = newMap(dir / "map.jpg");
            map.put("ConnectionString", connection);
            map.callWith("GetZipCodeFromMapPoint", 1000, 500);  // loads the map
            std::uniform_int_distribution<int32_t> x(0, 1999), y(0, 999);
            std::vector<double> times;
            int found = 0;
            for (int i = 0; i < 1000; ++i) {
                const int32_t px = x(random), py = y(random);
                Variant zip;
                times.push_back(
                    secondsOf([&] { zip = map.callWith("GetZipCodeFromMapPoint", px, py); }));
                found += zip.isNull() ? 0 : 1;
            }
            std::sort(times.begin(), times.end());
            std::printf("%-28s %10.3f %10.3f %10.3f %8d\n", label, times[500] * 1e3,
                        times[989] * 1e3, times.back() * 1e3, found);
        }
    }

    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
}
