// Several threads rendering at once, each with an engine object of its own, as a server or a
// batch tool does: the zip lookups reach the shipped database and the SQLite ODBC driver under a
// private data source, both by bare names, so every connect also lists the data sources.
#include <sqlite3.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <zembra/test/odbc_ini.hpp>

#include "engine_test_support.hpp"

namespace zembra::engine::test {
namespace {

using zembra::test::OdbcIni;
using zembra::test::sqliteDataSource;

constexpr int kThreads = 8;
constexpr int kRendersPerThread = 20;

// The two codes at the coordinates the shipped database holds for them, so both sources
// give the same picture.
void createZipDatabase(const std::string& path) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open(path.c_str(), &raw);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, &sqlite3_close);
    ASSERT_EQ(rc, SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db.get(),
                           "CREATE TABLE zips (zipcode TEXT, latitude REAL, Longitude REAL);"
                           "INSERT INTO zips VALUES ('08873', 40.499667, -74.531844);"
                           "INSERT INTO zips VALUES ('08232', 39.387525, -74.515196);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
}

TEST(Concurrency, ThreadsWithAnObjectEachRenderTheSamePicture) {
    TempDir dir;
    createZipDatabase(dir.file("zips.db"));
    // "zipcodes", the engine's default, is this data source; any other bare name falls back to
    // the shipped database.
    OdbcIni config({sqliteDataSource("zipcodes", dir.file("zips.db"))});
    // A small map keeps 160 renders quick under ThreadSanitizer. The picture one object draws
    // alone is the reference every thread must draw too.
    Object reference = newMap(dir, 250, 125, 5);
    const Variant mapFile = reference.get("InputMapFile");
    const Variant markerFile = reference.get("InputOverlayFile");
    reference.callWith("MapZips", array({"08873", "08232", "00000"}));
    const imaging::Picture expected = currentPicture(reference);
    ASSERT_GT(markerBox(expected).count, 5 * 5);  // two markers, overlapping at this size

    std::mutex failuresMutex;
    std::vector<std::string> failures;
    std::atomic<int> rendered{0};
    auto render = [&](int thread) {
        try {
            Object map = createObject("Zembra.CMap");
            map.put("InputMapFile", mapFile);
            map.put("InputOverlayFile", markerFile);
            if (thread % 2 == 1) map.put("ConnectionString", "Provider=Zembra.Embedded");
            for (int i = 0; i < kRendersPerThread; ++i) {
                map.call("Clear");
                map.callWith("MapZips", array({"08873", "08232", "00000"}));
                const imaging::Picture picture = currentPicture(map);
                if (picture.rgba != expected.rgba || map.get("UnmatchedZips").upperBound() != 0) {
                    const Box box = markerBox(picture);
                    throw std::runtime_error("a different picture: " + std::to_string(box.count) +
                                             " marker pixels from " + std::to_string(box.left) +
                                             "," + std::to_string(box.top));
                }
                ++rendered;
            }
        } catch (const std::exception& e) {
            std::lock_guard lock(failuresMutex);
            failures.push_back("thread " + std::to_string(thread) + ": " + e.what());
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(render, t);
    for (std::thread& t : threads) t.join();

    for (const std::string& failure : failures) ADD_FAILURE() << failure;
    EXPECT_EQ(rendered, kThreads * kRendersPerThread);
}

}  // namespace
}  // namespace zembra::engine::test
