// The HTTP API of `zembra serve`, asked over loopback of a real server on a free port,
// rendering with the real engine, maps and zip-code database.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <zembra/render/catalogue.hpp>
#include <zembra/runtime.hpp>

#include "serve/server.hpp"
#include "support.hpp"

namespace zembra::serve {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const fs::path kImages = fs::path(ZEMBRA_APP_DIR) / "Images";

// A server on 127.0.0.1 and a port of the system's choosing, answering on its own thread.
class RunningServer {
  public:
    explicit RunningServer(ServerConfig config) : log_(text_) {
        config.bind = "127.0.0.1";
        config.port = 0;
        config.images = kImages;
        config.web = ZEMBRA_WEB_DIR;
        server_ = std::make_unique<Server>(std::move(config), log_);
        port_ = server_->bind();
        thread_ = std::thread([this] { server_->run(); });
    }
    ~RunningServer() { stop(); }

    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(std::chrono::minutes(2));
        return c;
    }
    int port() const noexcept { return port_; }
    // Stops the server and returns its log.
    std::string stop() {
        if (thread_.joinable()) {
            server_->stop();
            thread_.join();
        }
        return text_.str();
    }

  private:
    std::ostringstream text_;
    Log log_;
    std::unique_ptr<Server> server_;
    int port_ = 0;
    std::thread thread_;
};

json body(const httplib::Result& r) {
    EXPECT_TRUE(r) << "no answer";
    return r ? json::parse(r->body, nullptr, false) : json();
}

std::string errorCode(const httplib::Result& r) {
    const auto j = body(r);
    return j.is_object() && j.contains("error") ? j["error"]["code"].get<std::string>() : "(none)";
}

httplib::Result postJson(httplib::Client& c, const json& order) {
    return c.Post("/api/render", order.dump(), "application/json");
}

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

class Api : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = std::make_unique<RunningServer>(ServerConfig{}); }
    static void TearDownTestSuite() { server_.reset(); }
    static std::unique_ptr<RunningServer> server_;
    httplib::Client client_ = server_->client();
};
std::unique_ptr<RunningServer> Api::server_;

TEST_F(Api, ServesThePageItsHealthAndTheCatalogue) {
    const auto page = client_.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->get_header_value("Content-Type").find("text/html"), std::string::npos);
    EXPECT_NE(page->body.find("<title>Zembra</title>"), std::string::npos);
    for (const char* asset : {"/app.js", "/app.css"}) EXPECT_EQ(client_.Get(asset)->status, 200);
    EXPECT_EQ(body(client_.Get("/healthz"))["status"], "ok");

    const auto maps = body(client_.Get("/api/maps"))["maps"];
    ASSERT_EQ(maps.size(), 3u);
    for (const auto& m : maps) {
        const std::string name = m["name"];
        SCOPED_TRACE(name);
        const auto bounds = render::boundsForMapName(name);
        ASSERT_TRUE(bounds);
        EXPECT_EQ(m["bounds"]["minLat"].get<double>(), bounds->minLat);
        EXPECT_EQ(m["bounds"]["maxLon"].get<double>(), bounds->maxLon);
        const auto file = test::readBytes(kImages / "Maps" / (name + ".jpg"));
        const auto size = test::pictureSize(file);
        ASSERT_TRUE(size);
        EXPECT_EQ(m["width"], size->width);
        EXPECT_EQ(m["height"], size->height);
        const auto thumbnail = client_.Get(m["thumbnail"].get<std::string>());
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(bytesOf(thumbnail->body), file);
    }
    const auto markers = body(client_.Get("/api/markers"));
    EXPECT_EQ(markers["markers"].size(), 7u);
    EXPECT_EQ(markers["default"], "red_dot_11");  // the fifth in folder order, as the client picks
    const auto pin = client_.Get("/api/markers/RED_PIN/picture");
    EXPECT_EQ(test::sniffFormat(bytesOf(pin->body)), "png");
}

TEST_F(Api, RendersCodesAndKeepsThePictureBehindItsLink) {
    for (const char* format : {"jpg", "gif", "bmp", "png"}) {
        SCOPED_TRACE(format);
        const auto r =
            postJson(client_, {{"map", "usa"},
                               {"marker", "red_pin"},
                               {"format", format},
                               {"zips", {"08873", "08232", "00000", "08873", "08\x01"}}});
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body;
        const auto answer = json::parse(r->body);
        EXPECT_EQ(answer["requested"], 4);
        EXPECT_EQ(answer["placed"], 2);
        // A code holding a control character is reported, never sent to the database.
        EXPECT_EQ(answer["notFound"], json::array({"00000", "08\x01"}));
        EXPECT_EQ(answer["format"], format);
        const auto picture = client_.Get(answer["picture"].get<std::string>());
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->status, 200);
        EXPECT_EQ(picture->body.size(), answer["bytes"].get<size_t>());
        const auto bytes = bytesOf(picture->body);
        EXPECT_EQ(test::sniffFormat(bytes), format);
        EXPECT_EQ(test::pictureSize(bytes),
                  (test::Size{answer["width"].get<int32_t>(), answer["height"].get<int32_t>()}));
        const auto download = client_.Get(answer["download"].get<std::string>());
        EXPECT_NE(download->get_header_value("Content-Disposition").find("zembra-usa."),
                  std::string::npos);
    }
    // The link answers only with the extension it was made with.
    const auto r = postJson(client_, {{"zips", {"08873"}}, {"format", "png"}});
    std::string link = json::parse(r->body)["picture"];
    link.replace(link.size() - 3, 3, "jpg");
    EXPECT_EQ(client_.Get(link)->status, 404);
    EXPECT_EQ(errorCode(client_.Get("/api/pictures/0123456789abcdef0123456789abcdef.png")),
              "unknown_picture");
}

TEST_F(Api, PlotsPointsAndReadsCsvUploads) {
    const auto points = body(
        postJson(client_, {{"map", "hawaii"}, {"points", {{{"lat", 21.3}, {"lon", -157.85}}}}}));
    EXPECT_EQ(points["points"], 1);
    EXPECT_EQ(points["requested"], 0);

    const httplib::MultipartFormDataItems form = {
        {"file", "Name,Zip Code\n\"Doe, J\",08873\nRoe,99999\n", "customers.csv", "text/csv"},
        {"column", "zip code", "", ""},
        {"map", "usa", "", ""},
        {"format", "png", "", ""},
    };
    const auto r = client_.Post("/api/render", form);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    const auto answer = json::parse(r->body);
    EXPECT_EQ(answer["placed"], 1);
    EXPECT_EQ(answer["notFound"], json::array({"99999"}));
    EXPECT_EQ(answer["format"], "png");

    const httplib::MultipartFormDataItems wrongColumn = {
        {"file", "Name,Zip\nA,08873\n", "c.csv", "text/csv"}, {"column", "Postcode", "", ""}};
    const auto refused = client_.Post("/api/render", wrongColumn);
    EXPECT_EQ(refused->status, 400);
    EXPECT_NE(refused->body.find("Zip"), std::string::npos);  // names the columns it has
}

TEST_F(Api, DrawsTheStylesFromRowsAndUploads) {
    // JSON rows with a category and a value; the per-area table comes with the answer.
    const auto states = postJson(client_, {{"style", "states"},
                                           {"value", "Revenue"},
                                           {"format", "png"},
                                           {"table", true},
                                           {"rows",
                                            {{{"zip", "08873"}, {"value", 10}},
                                             {{"zip", "08232"}, {"value", 2.5}},
                                             {{"zip", "08873"}, {"value", 1}},
                                             {{"zip", "99999"}}}}});
    ASSERT_TRUE(states);
    ASSERT_EQ(states->status, 200) << states->body;
    const auto answer = json::parse(states->body);
    EXPECT_EQ(answer["style"], "states");
    EXPECT_EQ(answer["requested"], 3);
    EXPECT_EQ(answer["rows"], 4);
    EXPECT_EQ(answer["placed"], 2);
    EXPECT_EQ(answer["notFound"], json::array({"99999"}));
    EXPECT_EQ(answer["table"], "fips,abbr,name,codes,rows,sum\n34,NJ,New Jersey,2,3,13.5\n");
    const auto picture = client_.Get(answer["picture"].get<std::string>());
    ASSERT_TRUE(picture);
    EXPECT_EQ(test::sniffFormat(bytesOf(picture->body)), "png");

    // An upload with its category column, streamed.
    const httplib::MultipartFormDataItems form = {
        {"file", "Zip,Segment\n08873,A\n10001,B\n08873,A\n", "s.csv", "text/csv"},
        {"column", "zip", "", ""},
        {"style", "category", "", ""},
        {"category", "Segment", "", ""},
        {"table", "1", "", ""},
    };
    const auto category = client_.Post("/api/render", form);
    ASSERT_TRUE(category);
    ASSERT_EQ(category->status, 200) << category->body;
    const auto upload = json::parse(category->body);
    EXPECT_EQ(upload["placed"], 2);
    EXPECT_EQ(upload["table"], "category,codes,rows,sum\nA,1,2,\nB,1,1,\n");

    // Settings that do not fit are the client's mistake.
    for (const json& bad :
         {json{{"style", "bubbles"}, {"zips", {"08873"}}},
          json{{"style", "category"}, {"zips", {"08873"}}},
          json{{"style", "density"}, {"bandwidth", 0.1}, {"zips", {"08873"}}},
          json{{"style", "states"}, {"classes", "jenks"}, {"zips", {"08873"}}},
          json{{"style", "value"}, {"rows", {{{"zip", "08873"}, {"value", "x"}}}}},
          json{{"style", "value"}, {"rows", json::array()}}}) {
        const auto r = postJson(client_, bad);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 400) << bad.dump() << ": " << r->body;
    }
    const httplib::MultipartFormDataItems noColumn = {{"file", "Zip\n08873\n", "c.csv", "text/csv"},
                                                      {"column", "Zip", "", ""},
                                                      {"style", "value", "", ""},
                                                      {"value", "Revenue", "", ""}};
    const auto refused = client_.Post("/api/render", noColumn);
    EXPECT_EQ(refused->status, 400);
    EXPECT_NE(refused->body.find("Revenue"), std::string::npos);
}

TEST_F(Api, StreamsProgressForLongLists) {
    std::vector<std::string> zips;
    for (const auto& row : test::readZipCsv(ZEMBRA_ZIPCODES_CSV)) {
        if (zips.size() == 3000) break;
        zips.push_back(row.code);
    }
    httplib::Headers headers{{"Accept", "application/x-ndjson"}};
    const auto r =
        client_.Post("/api/render", headers, json({{"zips", zips}}).dump(), "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    std::istringstream lines(r->body);
    size_t lastDone = 0;
    int progressLines = 0;
    json last;
    for (std::string line; std::getline(lines, line);) {
        last = json::parse(line);
        if (!last.contains("progress")) continue;
        ++progressLines;
        EXPECT_EQ(last["progress"]["total"], 3000);
        EXPECT_GE(last["progress"]["done"].get<size_t>(), lastDone);
        lastDone = last["progress"]["done"];
    }
    EXPECT_GE(progressLines, 2);
    EXPECT_EQ(lastDone, 3000u);
    ASSERT_EQ(last["status"], 200) << last.dump();
    EXPECT_EQ(last["result"]["placed"], 3000);
}

// Sends `request` on a fresh connection, reads the first bytes of the answer and hangs up.
std::string hangUpAfterFirstBytes(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string head;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[64];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) head.assign(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return head;
}

TEST_F(Api, AClientThatHangsUpMidAnswerCostsTheServerNothing) {
    std::vector<std::string> zips;
    for (const auto& row : test::readZipCsv(ZEMBRA_ZIPCODES_CSV)) {
        if (zips.size() == 3000) break;
        zips.push_back(row.code);
    }
    const std::string order = json({{"zips", zips}, {"format", "bmp"}}).dump();
    for (const char* accept : {"application/x-ndjson", "application/json"}) {
        const std::string request =
            "POST /api/render HTTP/1.1\r\nHost: localhost\r\nAccept: " + std::string(accept) +
            "\r\nContent-Type: application/json\r\n"
            "Content-Length: " +
            std::to_string(order.size()) + "\r\n\r\n" + order;
        hangUpAfterFirstBytes(server_->port(), request);
    }
    // A BMP of the map is larger than the socket buffers; fetch it and hang up at once.
    const auto r = postJson(client_, {{"zips", zips}, {"format", "bmp"}});
    ASSERT_EQ(r->status, 200);
    const std::string link = json::parse(r->body)["picture"];
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(
            hangUpAfterFirstBytes(server_->port(), "GET " + link + " HTTP/1.1\r\nHost: x\r\n\r\n")
                .substr(0, 12),
            "HTTP/1.1 200");
    }
    EXPECT_EQ(body(client_.Get("/healthz"))["status"], "ok");
}

TEST_F(Api, TellsTheZipCodeUnderAPixel) {
    const auto found = body(client_.Get("/api/lookup?map=usa&x=1724&y=406"));
    EXPECT_EQ(found["zip"], "08873");
    EXPECT_NEAR(found["lat"].get<double>(), 40.507, 0.01);
    EXPECT_NEAR(found["lon"].get<double>(), -74.521, 0.01);
    EXPECT_TRUE(found["city"].is_string());
    // Open sea off the coast: a position but no code.
    const auto sea = body(client_.Get("/api/lookup?map=usa&x=5&y=5"));
    EXPECT_TRUE(sea["zip"].is_null());

    for (const char* query : {"x=1&y=1", "map=usa&x=-1&y=0", "map=usa&x=1&y=99999",
                              "map=usa&x=1.5&y=2", "map=usa&x=&y=2", "map=usa&x=12abc&y=2"}) {
        SCOPED_TRACE(query);
        EXPECT_EQ(client_.Get(std::string("/api/lookup?") + query)->status, 400);
    }
}

TEST_F(Api, NoPathFromARequestReachesTheFileSystem) {
    for (const char* name : {"../../../../etc/passwd", "/etc/passwd", "Maps/usa", "..",
                             "../Maps/usa", "usa/../../usa"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(errorCode(postJson(client_, {{"map", name}, {"zips", {"08873"}}})),
                  "invalid_name");
        EXPECT_EQ(errorCode(postJson(client_, {{"marker", name}, {"zips", {"08873"}}})),
                  "invalid_name");
        httplib::Params params{{"map", name}, {"x", "1"}, {"y", "1"}};
        EXPECT_EQ(errorCode(client_.Get("/api/lookup", params, {})), "invalid_name");
    }
    for (const char* target :
         {"/api/maps/..%2F..%2F..%2Fetc%2Fpasswd/picture", "/api/maps/%2Fetc%2Fpasswd/picture",
          "/api/markers/..%2FMaps%2Fusa.jpg/picture", "/api/maps/../../../../etc/passwd",
          "/..%2F..%2F..%2Fetc%2Fpasswd", "/index.html/../../app.js"}) {
        SCOPED_TRACE(target);
        const auto r = client_.Get(target);
        ASSERT_TRUE(r);
        EXPECT_GE(r->status, 400);
        EXPECT_EQ(r->body.find("root:"), std::string::npos);
        EXPECT_TRUE(body(r).contains("error"));
    }
    EXPECT_EQ(errorCode(postJson(client_, {{"map", "nosuch"}, {"zips", {"08873"}}})),
              "unknown_map");
    EXPECT_EQ(errorCode(postJson(client_, {{"marker", "nosuch"}, {"zips", {"08873"}}})),
              "unknown_marker");
    EXPECT_EQ(errorCode(postJson(client_, {{"zips", json::array()}})), "nothing_to_render");
}

TEST_F(Api, ASecondServerCannotTakeAPortInUse) {
    std::ostringstream text;
    Log log(text);
    ServerConfig config;
    config.images = kImages;
    config.web = ZEMBRA_WEB_DIR;
    config.port = server_->port();
    Server second(config, log);
    EXPECT_THROW(second.bind(), Error);
    EXPECT_EQ(body(client_.Get("/healthz"))["status"], "ok");
}

TEST(ApiLimits, EachLimitHasItsOwnRefusal) {
    ServerConfig config;
    config.limits.maxBodyBytes = 4096;
    config.limits.maxCodes = 10;
    RunningServer server(config);
    auto c = server.client();

    const auto large = postJson(c, {{"zips", std::vector<std::string>(1000, "08873")}});
    EXPECT_EQ(large->status, 413);
    EXPECT_EQ(errorCode(large), "body_too_large");
    const auto many = postJson(c, {{"zips", std::vector<std::string>(11, "08873")}});
    EXPECT_EQ(many->status, 413);
    EXPECT_EQ(errorCode(many), "too_many_codes");
    EXPECT_EQ(postJson(c, {{"zips", std::vector<std::string>(10, "08873")}})->status, 200);
    const auto log = server.stop();
    // One line per request, with its method, path and status.
    EXPECT_NE(log.find("\"POST /api/render\" 413"), std::string::npos) << log;
    EXPECT_NE(log.find("\"POST /api/render\" 200"), std::string::npos) << log;

    ServerConfig small;
    small.limits.maxPicturePixels = 1000;
    RunningServer smallServer(small);
    auto s = smallServer.client();
    const auto picture = postJson(s, {{"zips", {"08873"}}});
    EXPECT_EQ(picture->status, 413);
    EXPECT_EQ(errorCode(picture), "picture_too_large");
}

TEST(ApiLimits, ARequestPastItsDeadlineIsCancelledWith503) {
    ServerConfig config;
    config.limits.deadline = std::chrono::milliseconds(0);
    RunningServer server(config);
    auto c = server.client();
    const auto r = postJson(c, {{"zips", {"08873"}}});
    EXPECT_EQ(r->status, 503);
    EXPECT_EQ(errorCode(r), "deadline_exceeded");
    EXPECT_EQ(errorCode(c.Get("/api/lookup?map=usa&x=1&y=1")), "deadline_exceeded");
    // The server goes on answering afterwards.
    EXPECT_EQ(c.Get("/healthz")->status, 200);
}

TEST(ApiErrors, DatabaseFailuresReachTheClientWithTheirNumber) {
    ServerConfig config;
    config.connection = "Driver={No Such Driver};Database=none";
    RunningServer server(config);
    auto c = server.client();
    const auto r = postJson(c, {{"zips", {"08873"}}});
    EXPECT_EQ(r->status, 500);
    const auto error = body(r)["error"];
    EXPECT_EQ(error["code"], "engine_error");
    EXPECT_EQ(error["number"], -2147467259);
    EXPECT_FALSE(error["message"].get<std::string>().empty());
}

}  // namespace
}  // namespace zembra::serve
