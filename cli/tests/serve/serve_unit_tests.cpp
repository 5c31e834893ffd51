// The server's parts that need no network: reading render orders and uploads, targets,
// picture names, the picture cache, the link store, public error texts and the worker pool.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <latch>
#include <string>
#include <zembra/runtime.hpp>

#include "serve/http_server.hpp"
#include "serve/library.hpp"
#include "serve/link_store.hpp"
#include "serve/multipart.hpp"
#include "serve/order.hpp"
#include "serve/picture_store.hpp"
#include "serve/public_errors.hpp"
#include "serve/style_order.hpp"
#include "serve/worker_pool.hpp"
#include "support.hpp"

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

// What a style's link keeps of its rows reads back to the table the render drew, with no
// more rows than were read.
TEST(StyleRows, KeptRowsReadBackToTheSameTable) {
    for (const char* style : {"value", "category"}) {
        render::ParameterValues values;
        values.set("style", style);
        if (std::string_view(style) == "category") values.set("category", "Segment");
        values.set("value", "Revenue");
        const auto options = styleOf(values);
        ASSERT_TRUE(options);
        const auto table = rowsFromCsv(
            "Zip,Segment,Revenue\n08873,A,0.1\n10001,B,\n08873,B,0.2\n08873,A,7\n"
            " 96813 ,,-3.5\n10001,A,\n",
            "zip", *options, Limits{});
        const nlohmann::json kept = rowsJson(table);
        EXPECT_EQ(kept.size(), table.rowCount()) << style;
        const auto again = rowsFromJson(nlohmann::json{{"rows", kept}}.dump(), *options, Limits{});
        ASSERT_EQ(again.entries().size(), table.entries().size()) << style;
        for (size_t i = 0; i < table.entries().size(); ++i) {
            const auto& was = table.entries()[i];
            const auto& is = again.entries()[i];
            EXPECT_EQ(is.code, was.code);
            EXPECT_EQ(is.category, was.category);
            EXPECT_EQ(is.rows, was.rows);
            EXPECT_EQ(is.valued, was.valued);
            EXPECT_EQ(is.sum, was.sum) << style << " " << was.code;  // exactly, not nearly
        }
        EXPECT_EQ(again.codes(), table.codes());
        EXPECT_EQ(again.rowCount(), table.rowCount());
    }
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

TEST(PictureCache, PushesOutTheLeastRecentlyUsedWithinItsBytes) {
    PictureCache cache(10);
    const auto picture = [](size_t size) {
        return std::make_shared<const StoredPicture>(
            StoredPicture{"jpg", "a.jpg", std::vector<uint8_t>(size, 1)});
    };
    cache.put("a", picture(4));
    cache.put("b", picture(4));
    ASSERT_TRUE(cache.get("a"));  // now the most recently used
    cache.put("c", picture(4));   // 12 bytes would exceed 10: "b" goes
    EXPECT_TRUE(cache.get("a"));
    EXPECT_FALSE(cache.get("b"));
    EXPECT_TRUE(cache.get("c"));
    EXPECT_EQ(cache.bytes(), 8u);
    cache.put("c", picture(2));  // replaced, not counted twice
    EXPECT_EQ(cache.bytes(), 6u);
    cache.put("huge", picture(11));  // larger than the whole cache: not kept, nothing lost
    EXPECT_FALSE(cache.get("huge"));
    EXPECT_TRUE(cache.get("a"));
}

TEST(LinkStore, AFolderKeepsEntriesAcrossOpeningsUntilTheyAreSwept) {
    using namespace std::chrono_literals;
    test::TempDir dir;
    const auto folder = dir.path() / "links";
    const std::string id = newLinkId();
    EXPECT_TRUE(isLinkId(id));
    EXPECT_NE(id, newLinkId());
    const auto now = WallClock::now();
    openLinkStore(folder.string())->put(id, R"({"order": 1})", now);
    // Another server (another store object) on the same folder reads it.
    auto other = openLinkStore(folder.string());
    const auto kept = other->get(id);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->record, R"({"order": 1})");
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(kept->created - now).count(), 0);
    // Nothing but whole entries in the folder: the temporary file is renamed into place.
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().filename().string(), id + ".json");
        ++files;
    }
    EXPECT_EQ(files, 1u);
    EXPECT_FALSE(other->get(newLinkId()));
    EXPECT_FALSE(other->get("../../etc/passwd"));
    other->removeOlderThan(now - 1h);
    EXPECT_TRUE(other->get(id));
    other->removeOlderThan(now + 1h);
    EXPECT_FALSE(other->get(id));
}

TEST(Multipart, ReadsNamedPartsAndRefusesBrokenBodies) {
    EXPECT_EQ(multipartBoundary("multipart/form-data; boundary=abc"), "abc");
    EXPECT_EQ(multipartBoundary("Multipart/Form-Data; charset=x; boundary=\"a b\""), "a b");
    EXPECT_FALSE(multipartBoundary("application/json"));
    EXPECT_FALSE(multipartBoundary("multipart/form-data"));
    const std::string body =
        "--XY\r\nContent-Disposition: form-data; name=\"column\"\r\n\r\nZip\r\n"
        "--XY\r\nContent-Disposition: form-data; name=\"file\"; filename=\"c.csv\"\r\n"
        "Content-Type: text/csv\r\n\r\nZip\r\n08873\r\n\r\n--XY--\r\n";
    const auto parts = parseMultipart(body, "XY");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(findPart(parts, "column")->content, "Zip");
    EXPECT_EQ(findPart(parts, "file")->fileName, "c.csv");
    EXPECT_EQ(findPart(parts, "file")->content, "Zip\r\n08873\r\n");  // line breaks kept
    EXPECT_EQ(findPart(parts, "map"), nullptr);
    for (const char* broken : {"", "--XY\r\nno head end", "--XY\r\n\r\n\r\nx\r\n--XY--",
                               "--XY\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nx"}) {
        SCOPED_TRACE(broken);
        EXPECT_EQ(statusOf([&] { parseMultipart(broken, "XY"); }), 400);
    }
}

TEST(Targets, SplitIntoDecodedPathAndQuery) {
    const auto split = http::splitTarget("/api/lookup?map=new+york&x=%31&y=2&&flag");
    ASSERT_TRUE(split);
    EXPECT_EQ(split->first, "/api/lookup");
    EXPECT_EQ(split->second, (std::vector<std::pair<std::string, std::string>>{
                                 {"map", "new york"}, {"x", "1"}, {"y", "2"}, {"flag", ""}}));
    EXPECT_EQ(http::splitTarget("/a%2Fb")->first, "/a/b");
    EXPECT_EQ(http::splitTarget("/a+b")->first, "/a+b");  // '+' is a blank in queries only
    for (const char* bad : {"/%", "/%4", "/%zz", "/?x=%G1"})
        EXPECT_FALSE(http::splitTarget(bad)) << bad;
}

TEST(PublicErrors, NameTheFailureWithoutSecretsOrPaths) {
    const auto db = Error(err::kDatabase, "ODBC",
                          "Driver=FreeTDS;Server=db.internal;Database=z;UID=dbadmin;PWD=***: "
                          "login failed");
    const auto text = publicDescription(db);
    for (const char* secret : {"db.internal", "dbadmin", "FreeTDS", "Database=z"}) {
        EXPECT_EQ(text.find(secret), std::string::npos) << text;
    }
    EXPECT_NE(text.find("database"), std::string::npos);
    const auto file =
        publicDescription(Error(err::kFileNotFound, "x", "/srv/zembra/Images/usa.jpg"));
    EXPECT_EQ(file.find("/srv"), std::string::npos) << file;
    const auto engine = publicDescription(
        Error(err::kEngine, "Pixam.CMap", "Cannot read '/home/me/marker.png' for Server=x;"));
    EXPECT_EQ(engine.find("/home"), std::string::npos) << engine;
    EXPECT_EQ(engine.find("Server=x"), std::string::npos) << engine;
    EXPECT_NE(engine.find("Cannot read"), std::string::npos) << engine;
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
