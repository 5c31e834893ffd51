// The link store in a real PostgreSQL database, reached through its ODBC driver under a
// private data source: two servers sharing it answer each other's links, and what is past its
// keeping time is removed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <zembra/test/odbc_ini.hpp>
#include <zembra/test/postgres_cluster.hpp>

#include "running_server.hpp"
#include "serve/link_store.hpp"
#include "support.hpp"

namespace zembra::serve {
namespace {

using nlohmann::json;

// The server the ctest fixture started, or one of this process.
std::unique_ptr<test::PostgresCluster> cluster() {
    if (const char* info = std::getenv("ZEMBRA_TEST_POSTGRES_INFO"); info && *info) {
        return std::make_unique<test::PostgresCluster>(test::PostgresCluster::fromInfo(info));
    }
    return std::make_unique<test::PostgresCluster>();
}

TEST(PostgresLinkStore, ServersSharingTheDatabaseAnswerEachOthersLinks) {
    auto server = cluster();
    const std::string database = "links_" + std::to_string(::getpid());
    server->createDatabase(database);
    const test::OdbcIni odbc({server->dataSource("zembralinks", database)});

    ServerConfig config;
    config.store = "DSN=zembralinks";
    test::RunningServer first(config);
    test::RunningServer second(config);
    auto a = first.client();
    auto b = second.client();
    const auto r = a.Post("/api/render", R"({"zips": ["08873", "96813"], "format": "png"})",
                          "application/json");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    const auto answer = json::parse(r->body);
    const std::string id = answer["id"];
    EXPECT_EQ(server->query("SELECT count(*) FROM zembra_links WHERE id = '" + id + "'", database),
              "1\n");

    // The other server holds no picture of it and renders it from the kept request.
    const auto picture = b.Get(answer["picture"].get<std::string>());
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->status, 200) << picture->body;
    EXPECT_EQ(test::sniffFormat(std::vector<uint8_t>(picture->body.begin(), picture->body.end())),
              "png");
    const auto kept = json::parse(b.Get("/api/renders/" + id)->body);
    EXPECT_EQ(kept["order"]["zips"], json::array({"08873", "96813"}));

    // A large order (a long record) comes back whole.
    std::vector<std::string> many;
    for (const auto& row : test::readZipCsv(ZEMBRA_ZIPCODES_CSV)) {
        if (many.size() == 20000) break;
        many.push_back(row.code);
    }
    const auto big = a.Post("/api/render", json({{"zips", many}}).dump(), "application/json");
    ASSERT_EQ(big->status, 200);
    const std::string bigId = json::parse(big->body)["id"];
    EXPECT_EQ(json::parse(b.Get("/api/renders/" + bigId)->body)["order"]["zips"].size(), 20000u);

    // Entries past their time go, the others stay.
    auto store = openLinkStore(config.store);
    const std::string old = newLinkId();
    store->put(old, kept.dump(), WallClock::now() - std::chrono::hours(24 * 30));
    EXPECT_TRUE(store->get(old));
    EXPECT_EQ(b.Get("/api/renders/" + old)->status, 404);
    store->removeOlderThan(WallClock::now() - std::chrono::hours(24 * 7));
    EXPECT_FALSE(store->get(old));
    EXPECT_TRUE(store->get(id));
}

}  // namespace
}  // namespace zembra::serve
