// The HTTP API of `zembra serve`, asked over loopback of a real server on a free port,
// rendering with the real engine, maps and zip-code database.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <zembra/render/catalogue.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/runtime.hpp>
#include <zembra/test/support.hpp>

#include "running_server.hpp"
#include "serve/link_store.hpp"
#include "serve/server.hpp"
#include "support.hpp"

namespace zembra::serve {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

using test::kImages;
using test::RunningServer;

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
    // The same link in another format is that picture rendered again in that format.
    const auto r = postJson(client_, {{"zips", {"08873"}}, {"format", "png"}});
    std::string link = json::parse(r->body)["picture"];
    link.replace(link.size() - 3, 3, "gif");
    const auto gif = client_.Get(link);
    ASSERT_EQ(gif->status, 200);
    EXPECT_EQ(test::sniffFormat(bytesOf(gif->body)), "gif");
    EXPECT_EQ(errorCode(client_.Get("/api/pictures/0123456789abcdef0123456789abcdef.png")),
              "unknown_picture");
}

TEST_F(Api, SuggestsTheMapOrRegionThatHoldsOutsideCodes) {
    // A shipped map for the Alaska code, a region for the Puerto Rico ones no shipped map holds.
    const auto plain =
        body(postJson(client_, {{"map", "usa"}, {"zips", {"08873", "00601", "99501", "00602"}}}));
    EXPECT_EQ(plain["outside"], json::array({"00601", "99501", "00602"}));
    EXPECT_EQ(plain["suggestedMaps"], json::array({{{"map", "alaska"}, {"codes", 1}}}));
    EXPECT_EQ(plain["suggestedRegion"], "PR");

    // Several states far apart: a fitted map; all on a shipped map: no region.
    const auto apart = body(postJson(client_, {{"map", "usa"}, {"zips", {"00601", "00802"}}}));
    EXPECT_EQ(apart["suggestedRegion"], "fit");
    EXPECT_EQ(apart["suggestedMaps"], json::array());
    const auto held = body(postJson(client_, {{"map", "usa"}, {"zips", {"08873", "99501"}}}));
    EXPECT_TRUE(held["suggestedRegion"].is_null()) << held;

    // The styles answer the same way, on a drawn map too.
    const auto styled = body(postJson(
        client_,
        {{"style", "density"}, {"region", "NJ"}, {"width", 300}, {"zips", {"08873", "00601"}}}));
    EXPECT_EQ(styled["outside"], json::array({"00601"}));
    EXPECT_EQ(styled["suggestedRegion"], "PR");
}

// The page builds its controls from the parameters the server describes; a request
// gives them as members or form fields, checked by the same table.
TEST_F(Api, DescribesTheRenderParametersItTakes) {
    const auto parameters = body(client_.Get("/api/parameters"))["parameters"];
    std::map<std::string, json> byName;
    for (const auto& p : parameters) byName[p["name"]] = p;
    ASSERT_TRUE(byName.contains("format")) << parameters;
    EXPECT_EQ(byName["format"]["default"], "jpg");
    EXPECT_EQ(byName["format"]["choices"].size(), 4u);
    EXPECT_EQ(byName["format"]["choices"][3]["label"], "PNG");
    EXPECT_EQ(byName["towns"]["type"], "switch");
    EXPECT_EQ(byName["towns"]["default"], true);
    EXPECT_EQ(byName["map"]["default"], "usa");
    EXPECT_EQ(byName["style"]["type"], "choice");
    EXPECT_EQ(byName["style"]["default"], "markers");
    EXPECT_EQ(byName["style"]["choices"].size(), 6u);
    EXPECT_EQ(byName["bandwidth"]["maximum"], 200);
    EXPECT_EQ(byName["legend"]["default"], true);
    EXPECT_EQ(byName["table"]["type"], "switch");
    // The page captions and places each control from its row.
    for (const auto& [name, row] : byName) {
        EXPECT_FALSE(row["label"].get<std::string>().empty()) << name;
        EXPECT_TRUE(row["section"].is_string()) << name;
    }
    EXPECT_EQ(byName["width"]["maximum"], render::parameter("width").maximum);
    // What only the command line may set is not offered.
    EXPECT_FALSE(byName.contains("connection"));
    EXPECT_FALSE(byName.contains("images"));

    // 10008 has no area of its own: placed at its town unless "towns" is off.
    const auto atTown = body(postJson(client_, {{"zips", {"10008"}}}));
    EXPECT_EQ(atTown["placedAtTown"].size(), 1u) << atTown;
    const auto off = body(postJson(client_, {{"zips", {"10008"}}, {"towns", false}}));
    EXPECT_EQ(off["placedAtTown"].size(), 0u) << off;
    EXPECT_EQ(off["notFound"].size(), 1u) << off;
    const auto bad = postJson(client_, {{"zips", {"10008"}}, {"towns", "perhaps"}});
    EXPECT_EQ(bad->status, 400);
    EXPECT_NE(body(bad)["error"]["message"].get<std::string>().find("\"towns\""),
              std::string::npos);
    // The styles' settings are refused in the table's words, naming the member.
    const auto late =
        postJson(client_, {{"zips", {"08873"}}, {"style", "value"}, {"bandwidth", 9}});
    EXPECT_EQ(late->status, 400);
    EXPECT_EQ(body(late)["error"]["message"], "\"bandwidth\" '9': goes with the density style.");
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

// Workbook uploads, known by their content: their header and sheets are offered, their rows
// rendered and styled from the sheet named; mistakes are refused with the reason.
TEST_F(Api, ReadsWorkbookUploadsByTheirContent) {
    const auto readText = [](const std::string& name) {
        const auto bytes = test::readBytes(test::fixture(name));
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string xlsx = readText("zips-shared.xlsx"), ods = readText("zips.ods");
    const auto columns = client_.Post(
        "/api/columns", httplib::MultipartFormDataItems{{"file", xlsx, "list.bin", ""}});
    ASSERT_TRUE(columns);
    ASSERT_EQ(columns->status, 200) << columns->body;
    EXPECT_EQ(body(columns)["columns"], json::array({"Name", "Zip", "ZipNum", "Joined"}));
    EXPECT_EQ(body(columns)["sheets"], json::array({"Sheet1", "Other Sheet", "Numbers"}));
    const auto text = body(client_.Post(
        "/api/columns",
        httplib::MultipartFormDataItems{{"file", "Name;Zip\nA;08873\n", "l.csv", "text/csv"}}));
    EXPECT_EQ(text["columns"], json::array({"Name", "Zip"}));
    EXPECT_EQ(text["readAs"], "ASCII, semicolon");
    EXPECT_FALSE(text.contains("sheets"));

    const auto numbers =
        client_.Post("/api/render", httplib::MultipartFormDataItems{{"file", ods, "zips.ods", ""},
                                                                    {"sheet", "numbers", "", ""},
                                                                    {"column", "zip", "", ""}});
    ASSERT_TRUE(numbers);
    ASSERT_EQ(numbers->status, 200) << numbers->body;
    EXPECT_EQ(body(numbers)["readAs"], "sheet \"numbers\"");
    EXPECT_EQ(body(numbers)["requested"], 4);
    EXPECT_FALSE(body(numbers)["placedWithZeros"].empty());

    const auto styled =
        client_.Post("/api/render", httplib::MultipartFormDataItems{{"file", xlsx, "zips.xlsx", ""},
                                                                    {"sheet", "Numbers", "", ""},
                                                                    {"column", "Zip", "", ""},
                                                                    {"style", "value", "", ""},
                                                                    {"value", "Count", "", ""}});
    ASSERT_TRUE(styled);
    EXPECT_EQ(styled->status, 200) << styled->body;

    for (const auto& [form, reason] :
         std::vector<std::pair<httplib::MultipartFormDataItems, std::string>>{
             {{{"file", xlsx, "zips.xlsx", ""},
               {"sheet", "Nope", "", ""},
               {"column", "Zip", "", ""}},
              "no sheet named 'Nope'"},
             {{{"file", "Zip\n08873\n", "l.csv", ""},
               {"sheet", "S", "", ""},
               {"column", "Zip", "", ""}},
              "names a sheet of a workbook"},
             {{{"file", xlsx.substr(0, xlsx.size() / 2), "cut.xlsx", ""},
               {"column", "Zip", "", ""}},
              "the upload"}}) {
        for (const char* path : {"/api/render", "/api/columns"}) {
            const auto r = client_.Post(path, form);
            ASSERT_TRUE(r);
            EXPECT_EQ(r->status, 400) << path << r->body;
            EXPECT_NE(r->body.find(reason), std::string::npos) << path << r->body;
            EXPECT_EQ(r->body.find("/proc/"), std::string::npos) << r->body;
        }
    }
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

    // On a map drawn for a region, with the codes read as the plain render reads them.
    const auto region = body(postJson(client_, {{"style", "density"},
                                                {"region", "NJ"},
                                                {"width", 400},
                                                {"zips", {"08873", "08232-1234", "99501"}}}));
    EXPECT_EQ(region["map"], "region") << region;
    EXPECT_EQ(region["width"], 400);
    EXPECT_EQ(region["placed"], 2);
    EXPECT_EQ(region["placedWithoutPlus4"], json::array({"08232-1234"}));
    EXPECT_EQ(region["outside"], json::array({"99501"}));
    EXPECT_EQ(region["suggestedMaps"][0]["map"], "alaska");

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
    // Every code is placed or, outside the USA map, counted apart with the map holding it.
    const json& result = last["result"];
    EXPECT_EQ(result["placed"].get<size_t>() + result["outside"].size(), 3000u);
    EXPECT_TRUE(result["notFound"].empty());
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
        EXPECT_EQ(hangUpAfterFirstBytes(server_->port(),
                                        "GET " + link + " HTTP/1.1\r\nHost: localhost\r\n\r\n")
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
    EXPECT_EQ(found["plotted"], false);
    // Open sea off the coast: a position but no code.
    const auto sea = body(client_.Get("/api/lookup?map=usa&x=5&y=5"));
    EXPECT_TRUE(sea["zip"].is_null());

    for (const char* query : {"x=1&y=1", "map=usa&x=-1&y=0", "map=usa&x=1&y=99999",
                              "map=usa&x=1.5&y=2", "map=usa&x=&y=2", "map=usa&x=12abc&y=2"}) {
        SCOPED_TRACE(query);
        EXPECT_EQ(client_.Get(std::string("/api/lookup?") + query)->status, 400);
    }
}

TEST_F(Api, AClickOnAMarkerNamesThatMarkersCodeNotTheNearestInTheTable) {
    // 08873's marker sits a pixel or two from 08875 and others: with the render it came
    // from, a click anywhere on the marker answers 08873.
    const auto r = postJson(client_, {{"zips", {"08873", "89301"}}, {"marker", "red_dot_11"}});
    ASSERT_EQ(r->status, 200);
    const std::string id = json::parse(r->body)["id"];
    for (const auto& [x, y] :
         std::vector<std::pair<int, int>>{{1724, 406}, {1720, 402}, {1728, 410}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        const auto found = body(client_.Get("/api/lookup?map=usa&x=" + std::to_string(x) +
                                            "&y=" + std::to_string(y) + "&render=" + id));
        EXPECT_EQ(found["zip"], "08873");
        EXPECT_EQ(found["plotted"], true);
        EXPECT_EQ(found["city"], "Somerset");
    }
    // Off every marker: the nearest code of the table, said to be so.
    const auto away = body(client_.Get("/api/lookup?map=usa&x=1000&y=400&render=" + id));
    EXPECT_EQ(away["plotted"], false);
    EXPECT_TRUE(away["zip"].is_string());
    EXPECT_EQ(client_.Get("/api/lookup?map=usa&x=1&y=1&render=nope")->status, 400);
}

TEST_F(Api, DrawsAMapForARegionAndAnswersClicksOnIt) {
    const auto r = postJson(client_, {{"region", "New Jersey"},
                                      {"width", 500},
                                      {"format", "png"},
                                      {"zips", {"08873", "08232", "10001"}}});
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    const auto answer = json::parse(r->body);
    EXPECT_EQ(answer["placed"], 3);
    EXPECT_EQ(answer["width"], 500);
    const auto picture = bytesOf(client_.Get(answer["picture"].get<std::string>())->body);
    EXPECT_EQ(test::pictureSize(picture), (test::Size{500, answer["height"].get<int32_t>()}));
    // A click is answered on the same map, named by the bounds the render answered with.
    const double minLat = answer["bounds"]["minLat"], maxLat = answer["bounds"]["maxLat"];
    const double minLon = answer["bounds"]["minLon"], maxLon = answer["bounds"]["maxLon"];
    const int32_t height = answer["height"];
    const auto pixel =
        test::project(40.507194, -74.52128, minLat, maxLat, minLon, maxLon, 500, height);
    const std::string where = "/api/lookup?region=" + answer["region"].get<std::string>() +
                              "&width=500&x=" + std::to_string(pixel.x) +
                              "&y=" + std::to_string(pixel.y);
    EXPECT_EQ(body(client_.Get(where))["zip"], "08873");
    EXPECT_EQ(body(client_.Get("/api/lookup?region=NJ&width=500&x=" + std::to_string(pixel.x) +
                               "&y=" + std::to_string(pixel.y)))["zip"],
              "08873");

    // fit spans the codes; what the request gets wrong is the client's fault.
    const auto fit =
        postJson(client_, {{"region", "fit"}, {"width", 300}, {"zips", {"08873", "99501"}}});
    ASSERT_EQ(fit->status, 200) << fit->body;
    EXPECT_LT(json::parse(fit->body)["bounds"]["minLon"].get<double>(), -149.9);
    EXPECT_EQ(errorCode(postJson(client_, {{"region", "NJ"}, {"map", "usa"}, {"zips", {"08873"}}})),
              "bad_request");
    EXPECT_EQ(errorCode(postJson(client_, {{"width", 300}, {"zips", {"08873"}}})), "bad_request");
    EXPECT_EQ(errorCode(postJson(client_, {{"region", "Jersey"}, {"zips", {"08873"}}})),
              "bad_region");
    EXPECT_EQ(errorCode(postJson(client_, {{"region", "NJ"}, {"width", 0}, {"zips", {"08873"}}})),
              "bad_request");
    EXPECT_EQ(errorCode(postJson(client_, {{"region", "fit"}, {"zips", {"96910"}}})), "bad_region");
    EXPECT_EQ(
        errorCode(postJson(client_, {{"region", "CA"}, {"width", 8000}, {"zips", {"90001"}}})),
        "picture_too_large");
    EXPECT_EQ(client_.Get("/api/lookup?region=fit&x=1&y=1")->status, 400);
    EXPECT_EQ(client_.Get("/api/lookup?region=NJ&width=500&x=1&y=99999")->status, 400);

    // The link of a drawn map is drawn again from its kept request, in another format too,
    // and a click with the render names the marker's own code.
    std::string gif = answer["picture"];
    gif.replace(gif.size() - 3, 3, "gif");
    const auto again = client_.Get(gif);
    ASSERT_EQ(again->status, 200) << again->body;
    EXPECT_EQ(test::pictureSize(bytesOf(again->body)), (test::Size{500, height}));
    const auto onMarker = body(client_.Get(where + "&render=" + answer["id"].get<std::string>()));
    EXPECT_EQ(onMarker["zip"], "08873");
    EXPECT_EQ(onMarker["plotted"], true);
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
    test::TempDir store;
    config.store = store.path().string();
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
    EXPECT_NE(body(large)["error"]["message"].get<std::string>().find("4096"), std::string::npos);
    const auto many = postJson(c, {{"zips", std::vector<std::string>(11, "08873")}});
    EXPECT_EQ(many->status, 413);
    EXPECT_EQ(errorCode(many), "too_many_codes");
    EXPECT_EQ(body(many)["error"]["limit"], 10);
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

// The images folder of one's own: a map whose name holds "usa" placed by its world file,
// and a map above the imaging limit (a header stating 6000 x 6000 pixels, 36 million).
TEST(ApiPictures, WorldFilesDecideAndAMapAboveTheImagingLimitIs413) {
    zembra::test::TempDir images("serve-images");
    fs::create_directories(images.path() / "Maps");
    fs::copy(kImages / "Overlays", images.path() / "Overlays");
    const fs::path northeast = images.path() / "Maps" / "usa_northeast.jpg";
    fs::copy_file(kImages / "Maps" / "usa.jpg", northeast);
    const render::Bounds shifted{27, 53, -120, -61.44};
    render::writeWorldFile(render::worldFilePath(northeast), shifted, 2000, 1112);
    const std::vector<uint8_t> header{0xff, 0xd8, 0xff, 0xc0, 0x00, 0x11, 0x08, 0x17,
                                      0x70, 0x17, 0x70, 0x03, 0x01, 0x22, 0x00, 0x02,
                                      0x11, 0x01, 0x03, 0x11, 0x01, 0xff, 0xd9};
    const fs::path big = images.path() / "Maps" / "big.jpg";
    std::ofstream(big, std::ios::binary)
        .write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    render::writeWorldFile(render::worldFilePath(big), shifted, 6000, 6000);

    ServerConfig config;
    config.images = images.path();
    ASSERT_EQ(config.limits.maxPicturePixels, 33'554'432u);
    RunningServer server(config);
    auto c = server.client();
    const auto maps = body(c.Get("/api/maps"))["maps"];
    ASSERT_EQ(maps.size(), 2u) << maps;
    EXPECT_EQ(maps[1]["name"], "usa_northeast");
    EXPECT_EQ(maps[1]["bounds"]["minLat"], 27);
    EXPECT_EQ(maps[1]["bounds"]["maxLon"], -61.44);
    EXPECT_EQ(maps[0]["width"], 6000);

    const auto rendered = postJson(c, {{"map", "usa_northeast"}, {"zips", {"08873"}}});
    ASSERT_EQ(rendered->status, 200) << rendered->body;
    EXPECT_EQ(body(rendered)["bounds"]["maxLat"], 53);
    // A click answers with the world file's bounds: the row's latitude from its top edge.
    const auto found = body(c.Get("/api/lookup?map=usa_northeast&x=1000&y=556"));
    EXPECT_NEAR(found["lat"].get<double>(), 53 - 556 * 26.0 / 1112, 1e-6) << found;
    EXPECT_NEAR(found["lon"].get<double>(), -120 + 1000 * 58.56 / 2000, 1e-6) << found;

    const auto tooLarge = postJson(c, {{"map", "big"}, {"zips", {"08873"}}});
    EXPECT_EQ(tooLarge->status, 413) << tooLarge->body;
    EXPECT_EQ(errorCode(tooLarge), "picture_too_large");
}

TEST(ApiLimits, ARequestPastItsDeadlineIsCancelledWith503) {
    ServerConfig config;
    config.limits.deadline = std::chrono::milliseconds(1);
    RunningServer server(config);
    auto c = server.client();
    const auto r = postJson(c, {{"zips", {"08873"}}});
    EXPECT_EQ(r->status, 503);
    EXPECT_EQ(errorCode(r), "deadline_exceeded");
    EXPECT_NE(r->body.find("within 0.001 s"), std::string::npos) << r->body;  // as given
    EXPECT_FALSE(r->get_header_value("Retry-After").empty());
    EXPECT_EQ(errorCode(c.Get("/api/lookup?map=usa&x=1&y=1")), "deadline_exceeded");
    // The server goes on answering afterwards.
    EXPECT_EQ(c.Get("/healthz")->status, 200);
}

TEST(ApiErrors, DatabaseFailuresReachTheClientWithTheirNumberButNotTheirSecrets) {
    ServerConfig config;
    config.connection = "Driver={No Such Driver};Server=db.internal;Database=none;UID=dbadmin";
    RunningServer server(config);
    auto c = server.client();
    for (const auto& r :
         {postJson(c, {{"zips", {"08873"}}}), c.Get("/api/lookup?map=usa&x=1&y=1")}) {
        EXPECT_EQ(r->status, 500);
        const auto error = body(r)["error"];
        EXPECT_EQ(error["code"], "engine_error");
        EXPECT_EQ(error["number"], -2147467259);
        EXPECT_FALSE(error["message"].get<std::string>().empty());
        for (const char* secret : {"db.internal", "dbadmin", "No Such Driver", "Database=none"}) {
            EXPECT_EQ(r->body.find(secret), std::string::npos) << r->body;
        }
    }
    // The whole error stays in the server's own log.
    EXPECT_NE(server.stop().find("No Such Driver"), std::string::npos);
}

// A raw connection to the server, for what a well-behaved client never sends.
class RawConnection {
  public:
    explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawConnection() { close(fd_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool send(const std::string& bytes) const {
        return connected_ && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                 static_cast<ssize_t>(bytes.size());
    }
    // What arrives until the server closes the connection (at most `wait`).
    std::string readUntilClosed(std::chrono::seconds wait = std::chrono::seconds(30)) const {
        std::string text;
        const auto until = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0) continue;
            char buffer[4096];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }
    bool closedByServer() const { return closed_; }
    // Reads until `marker` has arrived (at most `wait`).
    std::string readUntil(const std::string& marker,
                          std::chrono::seconds wait = std::chrono::seconds(30)) const {
        std::string text;
        const auto until = std::chrono::steady_clock::now() + wait;
        while (text.find(marker) == std::string::npos && std::chrono::steady_clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0) continue;
            char buffer[4096];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }

  private:
    int fd_;
    bool connected_ = false;
    mutable bool closed_ = false;
};

TEST(ApiRefusals, WhatABrowserShouldNotSendIsRefusedWithItsOwnStatus) {
    ServerConfig config;
    config.limits.maxBodyBytes = 4096;
    config.allowedHosts = {"maps.example.org"};
    RunningServer server(config);
    auto c = server.client();

    // A "simple" cross-site POST needs no preflight: only JSON and form uploads are read.
    const auto plain = c.Post("/api/render", R"({"zips": ["08873"]})", "text/plain");
    EXPECT_EQ(plain->status, 415);
    EXPECT_EQ(errorCode(plain), "unsupported_media_type");
    EXPECT_EQ(c.Post("/api/render", "x=1", "application/x-www-form-urlencoded")->status, 415);
    // A CSV posted as JSON is told apart from broken JSON.
    EXPECT_NE(c.Post("/api/render", "Zip\n08873\n", "application/json")->body.find("not JSON"),
              std::string::npos);

    // A loopback server answers to loopback names and the allowed ones only (DNS rebinding).
    for (const char* host :
         {"localhost:8080", "127.0.0.1", "127.1.2.3:99", "[::1]:8080", "MAPS.example.org:443"}) {
        SCOPED_TRACE(host);
        EXPECT_EQ(c.Get("/healthz", {{"Host", host}})->status, 200);
    }
    for (const char* host :
         {"evil.example", "127.0.0.1.evil.example", "localhost.evil:80", "1.2.3.4"}) {
        SCOPED_TRACE(host);
        const auto r = c.Get("/healthz", {{"Host", host}});
        EXPECT_EQ(r->status, 403);
        EXPECT_EQ(errorCode(r), "host_not_allowed");
    }

    // A wrong method is 405 with the methods that are answered.
    const auto put = c.Put("/api/render", "{}", "application/json");
    EXPECT_EQ(put->status, 405);
    EXPECT_EQ(put->get_header_value("Allow"), "POST");
    const auto post = c.Post("/api/maps", "{}", "application/json");
    EXPECT_EQ(post->status, 405);
    EXPECT_EQ(post->get_header_value("Allow"), "GET, HEAD");
    const auto head = c.Head("/healthz");
    EXPECT_EQ(head->status, 200);
    EXPECT_TRUE(head->body.empty());

    const auto icon = c.Get("/favicon.ico");
    EXPECT_EQ(icon->status, 200);
    EXPECT_EQ(icon->get_header_value("Content-Type"), "image/x-icon");
    EXPECT_EQ(icon->body.substr(0, 4), std::string("\0\0\1\0", 4));

    // A chunked body is held to the same limit as a counted one.
    RawConnection raw(server.port());
    std::string request =
        "POST /api/render HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n"
        "Transfer-Encoding: chunked\r\n\r\n";
    const std::string piece(1000, ' ');
    for (int i = 0; i < 20; ++i) request += "3e8\r\n" + piece + "\r\n";
    raw.send(request);
    const auto answer = raw.readUntilClosed();
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 413") << answer.substr(0, 200);
    EXPECT_NE(answer.find("4096"), std::string::npos);
}

TEST(ApiConnections, SlowClientsNeitherLockOthersOutNorHoldTheServerAtStop) {
    ServerConfig config;
    config.limits.headTimeout = std::chrono::milliseconds(500);
    config.limits.maxPerAddress = 8;
    auto server = std::make_unique<RunningServer>(config);
    // Three times the limit of connections from this address, each with half a head.
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 24; ++i) {
        slow.push_back(std::make_unique<RawConnection>(server->port()));
        slow.back()->send("GET /healthz HTTP/1.1\r\nHo");
    }
    // A complete request from the same address is answered all the same.
    auto c = server->client();
    EXPECT_EQ(body(c.Get("/healthz"))["status"], "ok");
    // The first slow ones were closed to make room, the others at their head deadline.
    EXPECT_TRUE(slow.front()->readUntilClosed().empty());
    EXPECT_TRUE(slow.front()->closedByServer());
    EXPECT_TRUE(slow.back()->readUntilClosed().empty());
    EXPECT_TRUE(slow.back()->closedByServer());

    // A stop ends the server while a client is still dripping its head.
    RawConnection dripping(server->port());
    dripping.send("GET /healthz HTTP/1.1\r\n");
    server->stop();  // returns: a hang here fails the test by its time-out
    EXPECT_TRUE(dripping.readUntilClosed().empty());
    EXPECT_TRUE(dripping.closedByServer());
}

TEST(ApiConnections, AKeptAliveConnectionAnswersEachRequestInOneWrite) {
    RunningServer server{ServerConfig{}};
    RawConnection raw(server.port());
    // Two requests at once: both answered, in order, on the one connection.
    raw.send(
        "GET /healthz HTTP/1.1\r\nHost: localhost\r\n\r\n"
        "GET /healthz HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    const auto text = raw.readUntilClosed();
    const auto second = text.find("HTTP/1.1 200", 1);
    EXPECT_EQ(text.substr(0, 12), "HTTP/1.1 200");
    ASSERT_NE(second, std::string::npos) << text;
    EXPECT_NE(text.find("Connection: keep-alive"), std::string::npos);
    EXPECT_NE(text.find("Connection: close", second), std::string::npos);
}

TEST(ApiConnections, IdleConnectionsBeyondTheLimitCloseOldestFirstAndHugeHeadsAreRefused) {
    ServerConfig config;
    config.limits.maxIdle = 2;
    config.limits.idleTimeout = std::chrono::minutes(5);
    RunningServer server(config);
    std::vector<std::unique_ptr<RawConnection>> kept;
    for (int i = 0; i < 3; ++i) {
        kept.push_back(std::make_unique<RawConnection>(server.port()));
        kept.back()->send("GET /healthz HTTP/1.1\r\nHost: localhost\r\n\r\n");
        EXPECT_NE(kept.back()->readUntil("\"ok\"").find("200"), std::string::npos);
    }
    // The third idle connection is one too many: the first one goes, the others stay.
    kept.front()->readUntilClosed(std::chrono::seconds(30));
    EXPECT_TRUE(kept.front()->closedByServer());
    kept.back()->send("GET /healthz HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_NE(kept.back()->readUntil("\"ok\"").find("200"), std::string::npos);

    RawConnection huge(server.port());
    huge.send("GET /healthz HTTP/1.1\r\nHost: localhost\r\nX-Pad: " + std::string(20000, 'a') +
              "\r\n\r\n");
    EXPECT_EQ(huge.readUntilClosed().substr(0, 12), "HTTP/1.1 431");
}

TEST(ApiLinks, ServersSharingAStoreAnswerEachOthersLinksAfterARestart) {
    test::TempDir dir;
    ServerConfig config;
    config.store = (dir.path() / "shared").string();
    std::string id;
    {
        RunningServer first(config);
        auto c = first.client();
        const auto r =
            postJson(c, {{"zips", {"08873", "00000"}}, {"marker", "red_pin"}, {"format", "png"}});
        ASSERT_EQ(r->status, 200) << r->body;
        const auto answer = json::parse(r->body);
        id = answer["id"];
        EXPECT_EQ(answer["picture"], "/api/pictures/" + id + ".png");
        EXPECT_EQ(answer["share"], "/?render=" + id);
    }
    // The first server is gone; a second one on the same store renders the link again.
    RunningServer second(config);
    auto c = second.client();
    const auto picture = c.Get("/api/pictures/" + id + ".png");
    ASSERT_EQ(picture->status, 200) << picture->body;
    EXPECT_EQ(test::sniffFormat(bytesOf(picture->body)), "png");
    const auto kept = body(c.Get("/api/renders/" + id));
    EXPECT_EQ(kept["order"]["zips"], json::array({"08873", "00000"}));
    EXPECT_EQ(kept["order"]["marker"], "red_pin");
    EXPECT_EQ(kept["result"]["notFound"], json::array({"00000"}));
    EXPECT_EQ(kept["result"]["picture"], "/api/pictures/" + id + ".png");

    // An entry past the keeping time is refused, whatever other links were made since.
    const std::string old = newLinkId();
    openLinkStore(config.store)
        ->put(old, kept.dump(), WallClock::now() - std::chrono::hours(24 * 8));
    EXPECT_EQ(errorCode(c.Get("/api/pictures/" + old + ".png")), "unknown_picture");
    EXPECT_EQ(errorCode(c.Get("/api/renders/" + old)), "unknown_picture");
}

// A style's link is drawn again from its kept order as a plain render's is: by a server that
// restarted on the same store, with no room in its memory, into the same picture.
TEST(ApiLinks, AStylesLinkIsDrawnAgainIntoTheSamePicture) {
    test::TempDir dir;
    ServerConfig config;
    config.store = (dir.path() / "shared").string();
    struct Made {
        std::string id, picture;
        json answer;
    };
    std::vector<Made> made;
    {
        RunningServer first(config);
        auto c = first.client();
        const httplib::MultipartFormDataItems upload = {
            {"file", "Zip,Segment,Revenue\n08873,A,1.25\n10001,B,\n08873,A,0.1\n07030,B,3\n",
             "s.csv", "text/csv"},
            {"column", "zip", "", ""},
            {"style", "category", "", ""},
            {"category", "Segment", "", ""},
            {"format", "png", "", ""},
            {"table", "1", "", ""}};
        std::vector<httplib::Result> answers;
        answers.push_back(c.Post("/api/render", upload));
        answers.push_back(postJson(c, {{"style", "value"},
                                       {"value", "Revenue"},
                                       {"map", "usa"},
                                       {"format", "gif"},
                                       {"rows",
                                        {{{"zip", "08873"}, {"value", 0.1}},
                                         {{"zip", "08873"}, {"value", 0.2}},
                                         {{"zip", "90210"}, {"value", 3}}}}}));
        answers.push_back(postJson(c, {{"style", "density"},
                                       {"region", "fit"},
                                       {"width", 300},
                                       {"zips", {"08873", "08232", "10001"}}}));
        for (const auto& r : answers) {
            ASSERT_TRUE(r);
            ASSERT_EQ(r->status, 200) << r->body;
            const json answer = json::parse(r->body);
            const std::string id = answer["id"];
            EXPECT_EQ(answer["share"], "/?render=" + id);
            EXPECT_EQ(answer["picture"],
                      "/api/pictures/" + id + "." + answer["format"].get<std::string>());
            const auto picture = c.Get(answer["picture"].get<std::string>());
            ASSERT_EQ(picture->status, 200);
            made.push_back({id, picture->body, answer});
        }
    }
    config.limits.cacheBytes = 1;  // nothing stays in memory: every picture is drawn again
    RunningServer second(config);
    auto c = second.client();
    for (const auto& m : made) {
        const auto picture = c.Get(m.answer["picture"].get<std::string>());
        ASSERT_EQ(picture->status, 200) << picture->body;
        EXPECT_TRUE(picture->body == m.picture) << m.answer["style"];
        const auto kept = body(c.Get("/api/renders/" + m.id));
        EXPECT_EQ(kept["result"]["share"], "/?render=" + m.id);
        EXPECT_EQ(kept["result"]["style"], m.answer["style"]);
        EXPECT_EQ(kept["result"]["bytes"], m.picture.size());
        // The rows read are kept, never more than were read; the upload itself is not.
        EXPECT_LE(kept["order"]["rows"].size(), m.answer["rows"].get<size_t>());
        EXPECT_EQ(kept["order"].count("file"), 0u);
        // In another format, the same drawing.
        const auto jpeg = c.Get("/api/pictures/" + m.id + ".jpg");
        ASSERT_EQ(jpeg->status, 200) << jpeg->body;
        EXPECT_EQ(test::pictureSize(bytesOf(jpeg->body)), test::pictureSize(bytesOf(m.picture)));
    }
    EXPECT_EQ(made[0].answer["table"], "category,codes,rows,sum\nB,2,2,\nA,1,2,\n");
    EXPECT_EQ(body(c.Get("/api/renders/" + made[1].id))["order"]["map"], "usa");
    // A drawn map keeps its bounds, so that a fit is drawn the same again and clicked on.
    const auto fit = body(c.Get("/api/renders/" + made[2].id));
    EXPECT_EQ(fit["order"]["region"], made[2].answer["region"]);
    const auto click = c.Get("/api/lookup?region=" + made[2].answer["region"].get<std::string>() +
                             "&width=300&x=10&y=10&render=" + made[2].id);
    ASSERT_EQ(click->status, 200) << click->body;
    EXPECT_EQ(body(click)["plotted"], false);
}

TEST(ApiCatalogue, AMapWithABrokenWorldFileIsLeftOutAndLogged) {
    test::TempDir dir;
    const auto images = dir.path() / "Images";
    fs::create_directories(images);
    fs::copy(kImages / "Maps", images / "Maps");
    fs::copy(kImages / "Overlays", images / "Overlays");
    fs::copy_file(kImages / "Maps" / "hawaii.jpg", images / "Maps" / "broken.jpg");
    std::ofstream(images / "Maps" / "broken.jgw") << "nan\n0\n0\n-0.01\n-160\n22\n";
    ServerConfig config;
    config.images = images;
    RunningServer server(config);
    auto c = server.client();
    const auto maps = body(c.Get("/api/maps"))["maps"];
    EXPECT_EQ(maps.size(), 3u);
    for (const auto& m : maps) EXPECT_NE(m["name"], "broken");
    EXPECT_NE(server.stop().find("left out"), std::string::npos);
}

}  // namespace
}  // namespace zembra::serve
