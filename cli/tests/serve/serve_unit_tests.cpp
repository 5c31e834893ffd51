// The server's parts that need no network: reading render orders, picture names, the
// picture store and the worker pool.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <latch>
#include <string>

#include "serve/library.hpp"
#include "serve/order.hpp"
#include "serve/picture_store.hpp"
#include "serve/worker_pool.hpp"

namespace zembra::serve {
namespace {

int statusOf(const std::function<void()>& call, std::string* code = nullptr) {
    try {
        call();
    } catch (const ApiError& e) {
        if (code) *code = e.code();
        return e.status();
    }
    return 0;
}

TEST(RenderOrder, ReadsEveryMemberOfAJsonBody) {
    const auto order = orderFromJson(
        R"({"map": "alaska", "marker": "red_pin", "format": "PNG",
            "zips": [" 08873 ", "08232", "08873", ""],
            "points": [{"lat": 40.7, "lon": -74}]})",
        Limits{});
    EXPECT_EQ(order.map, "alaska");
    EXPECT_EQ(order.marker, "red_pin");
    EXPECT_EQ(order.format, render::OutputFormat::Png);
    // Trimmed, blanks skipped, repeats dropped, order kept.
    EXPECT_EQ(order.zips, (std::vector<std::string>{"08873", "08232"}));
    ASSERT_EQ(order.points.size(), 1u);
    EXPECT_EQ(order.points[0], (render::LatLon{40.7, -74}));

    const auto defaults = orderFromJson(R"({"zips": ["08873"]})", Limits{});
    EXPECT_EQ(defaults.map, "usa");
    EXPECT_EQ(defaults.marker, "");
    EXPECT_EQ(defaults.format, render::OutputFormat::Jpeg);
}

TEST(RenderOrder, RefusesMalformedBodiesWithBadRequest) {
    for (const char* body : {
             "",
             "not json",
             "[1, 2]",
             R"({"zips": "08873"})",
             R"({"zips": [8873]})",  // a number would lose the leading zero
             R"({"map": 3, "zips": ["08873"]})",
             R"({"format": "tiff", "zips": ["08873"]})",
             R"({"points": [{"lat": 91, "lon": 0}]})",
             R"({"points": [{"lat": "40", "lon": 0}]})",
             R"({"points": [[40, -74]]})",
         }) {
        SCOPED_TRACE(body);
        EXPECT_EQ(statusOf([&] { orderFromJson(body, Limits{}); }), 400);
    }
}

TEST(RenderOrder, CountsCodesAgainstTheLimitBeforeReadingThem) {
    Limits limits;
    limits.maxCodes = 3;
    std::string code;
    // Four entries of the wrong kind: the count is refused first, not the kind.
    EXPECT_EQ(
        statusOf([&] { orderFromJson(R"({"zips": [1, 2], "points": [3, 4]})", limits); }, &code),
        413);
    EXPECT_EQ(code, "too_many_codes");
    EXPECT_NO_THROW(
        orderFromJson(R"({"zips": ["1", "2"], "points": [{"lat": 1, "lon": 2}]})", limits));
    EXPECT_EQ(statusOf([&] { orderFromCsv("Zip\n1\n2\n3\n4\n", "zip", {}, limits); }), 413);
}

TEST(RenderOrder, ReadsACsvColumnByNameIgnoringCase) {
    RenderOrder base;
    base.map = "hawaii";
    const auto order = orderFromCsv("Name,ZIP\n\"Smith, J\",96813\nDoe,\nRoe,96813\nPoe,08873\n",
                                    "zip", base, Limits{});
    EXPECT_EQ(order.map, "hawaii");
    EXPECT_EQ(order.zips, (std::vector<std::string>{"96813", "08873"}));

    std::string code;
    EXPECT_EQ(statusOf([&] { orderFromCsv("Name,Zip\nA,1\n", "Postcode", {}, Limits{}); }), 400);
    EXPECT_EQ(statusOf([&] { orderFromCsv("Name,Zip\nA,1\n", " ", {}, Limits{}); }), 400);
    EXPECT_EQ(statusOf([&] { orderFromCsv("", "Zip", {}, Limits{}); }), 400);
}

TEST(PictureNames, OnlyPlainNamesPass) {
    for (const char* name : {"usa", "USA.jpg", "red_dot_11", "my map-2"}) {
        EXPECT_TRUE(isPlainName(name)) << name;
    }
    for (const char* name : {"", "../usa", "..", "a..b", "/etc/passwd", "Maps/usa", "..\\usa",
                             ".hidden", "usa\n", "usa%2f", "c:usa"}) {
        EXPECT_FALSE(isPlainName(name)) << name;
    }
    EXPECT_FALSE(isPlainName(std::string(101, 'a')));
}

TEST(PictureStore, KeepsTheNewestWithinCountBytesAndTime) {
    using namespace std::chrono_literals;
    PictureStore store(2, 10, 60s);
    const auto t0 = PictureStore::Clock::now();
    const auto a = store.put({"jpg", "a.jpg", std::vector<uint8_t>(4, 1)}, t0);
    const auto b = store.put({"png", "b.png", std::vector<uint8_t>(4, 2)}, t0);
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    EXPECT_EQ(a->size(), 32u);
    ASSERT_TRUE(store.get(*a, t0));
    EXPECT_EQ(store.get(*b, t0)->bytes, std::vector<uint8_t>(4, 2));

    // A third picture pushes out the oldest (count limit).
    const auto c = store.put({"gif", "c.gif", std::vector<uint8_t>(4, 3)}, t0);
    EXPECT_FALSE(store.get(*a, t0));
    EXPECT_TRUE(store.get(*b, t0));
    // Seven bytes more exceed the byte limit together with either one kept.
    const auto d = store.put({"bmp", "d.bmp", std::vector<uint8_t>(7, 4)}, t0);
    EXPECT_FALSE(store.get(*b, t0));
    EXPECT_FALSE(store.get(*c, t0));
    EXPECT_TRUE(store.get(*d, t0));
    // Larger than the whole store: refused, the rest kept.
    EXPECT_FALSE(store.put({"bmp", "e.bmp", std::vector<uint8_t>(11, 5)}, t0));
    EXPECT_TRUE(store.get(*d, t0));
    // Past the keeping time.
    EXPECT_FALSE(store.get(*d, t0 + 61s));
    EXPECT_FALSE(store.get("not-an-id", t0));
}

TEST(WorkerPool, RefusesWorkBeyondItsQueueAndRunsWhatItTook) {
    WorkerPool pool(1, 1);
    std::latch started(1);
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<int> ran{0};
    ASSERT_TRUE(pool.trySubmit([&] {
        started.count_down();
        released.wait();
        ++ran;
    }));
    started.wait();                                // the only worker is busy
    EXPECT_TRUE(pool.trySubmit([&] { ++ran; }));   // waits in the queue
    EXPECT_FALSE(pool.trySubmit([&] { ++ran; }));  // the queue is full
    release.set_value();
    std::promise<void> last;
    while (!pool.trySubmit([&] { last.set_value(); })) std::this_thread::yield();
    last.get_future().wait();
    EXPECT_EQ(ran, 2);
}

TEST(WorkerPool, ATaskThatThrowsDoesNotEndItsThread) {
    WorkerPool pool(1, 4);
    ASSERT_TRUE(pool.trySubmit([] { throw std::runtime_error("lost"); }));
    std::promise<void> ran;
    ASSERT_TRUE(pool.trySubmit([&] { ran.set_value(); }));
    EXPECT_EQ(ran.get_future().wait_for(std::chrono::minutes(1)), std::future_status::ready);
}

}  // namespace
}  // namespace zembra::serve
