// The zip-code tables on a real PostgreSQL server reached through its ODBC driver under a
// private data source: `zembra db load`, the engine's lookups, renders at once, and a
// server that goes away.
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <zembra/test/odbc_ini.hpp>
#include <zembra/test/postgres_cluster.hpp>

#include "zip_lookup_bodies.hpp"

namespace zembra::test {
namespace {

namespace fs = std::filesystem;
using engine::test::Row;
using engine::test::TempDir;

// The server of this run: the one the ctest fixture started, or one of this process.
class PostgresEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (const char* info = std::getenv("ZEMBRA_TEST_POSTGRES_INFO"); info && *info) {
            cluster_ = std::make_unique<PostgresCluster>(PostgresCluster::fromInfo(info));
        } else {
            cluster_ = std::make_unique<PostgresCluster>();
            owned_ = true;
        }
    }
    void TearDown() override {
        if (owned_) cluster_->remove();
        cluster_.reset();
    }
    static PostgresCluster& cluster() { return *cluster_; }

  private:
    static inline std::unique_ptr<PostgresCluster> cluster_;
    bool owned_ = false;
};

// A started `zembra` process whose output streams go to files.
class Child {
  public:
    Child(const std::vector<std::string>& args, const fs::path& outputStem)
        : out_(outputStem.string() + ".out"), err_(outputStem.string() + ".err") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<std::string> text{ZEMBRA_CLI_EXE};
        text.insert(text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : text) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, ZEMBRA_CLI_EXE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " ZEMBRA_CLI_EXE);
    }
    ~Child() {
        if (pid_ > 0) wait();
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The exit status; -1 when the program did not exit normally (a crash).
    int wait() {
        if (pid_ > 0) {
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = 0;
        }
        return status_;
    }
    std::string err() const { return read(err_); }
    std::string out() const { return read(out_); }

  private:
    static std::string read(const fs::path& path) {
        std::ifstream in(path);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    fs::path out_, err_;
    pid_t pid_ = 0;
    int status_ = -1;
};

struct Ran {
    int status;
    std::string err;
};

Ran zembra(const std::vector<std::string>& args, const TempDir& dir) {
    Child child(args, dir.path() / "zembra");
    const int status = child.wait();
    return {status, child.err()};
}

// A database name of its own for each test.
std::string databaseName(const std::string& tag) { return tag + "_" + std::to_string(::getpid()); }

std::vector<std::string> csvCodes(const char* path) {
    std::ifstream in(path);
    std::vector<std::string> codes;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) codes.push_back(line.substr(0, line.find(',')));
    return codes;
}

void writeLines(const fs::path& path, const std::vector<std::string>& lines) {
    std::ofstream out(path);
    for (const auto& line : lines) out << line << '\n';
}

// A small zip-code database file for `zembra db load --from`.
void writeSourceDatabase(const fs::path& path, const std::string& townCity) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, &sqlite3_close);
    const std::string sql =
        "CREATE TABLE zips (zipcode TEXT, latitude REAL, Longitude REAL, city TEXT, state TEXT);"
        "INSERT INTO zips VALUES ('08873', 40.499667, -74.531844, 'Somerset', 'NJ');"
        "INSERT INTO zips VALUES ('83814', 47.6923, -116.7816, 'Coeur D''Alene', 'ID');"
        "INSERT INTO zips VALUES ('99501', 61.216799, -149.87828, NULL, NULL);"
        "CREATE TABLE zip_towns (zipcode TEXT, latitude REAL, Longitude REAL, city TEXT, "
        "state TEXT);"
        "INSERT INTO zip_towns VALUES ('10008', 40.7143, -74.006, '" +
        townCity + "', 'NY');";
    ASSERT_EQ(sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
}

class PostgresTest : public ::testing::Test {
  protected:
    PostgresCluster& server() { return PostgresEnvironment::cluster(); }

    // A fresh database on the server and the data source "teamzips" naming it.
    std::string freshTeamDatabase(const std::string& tag, PostgresCluster* on = nullptr) {
        PostgresCluster& cluster = on ? *on : server();
        const std::string name = databaseName(tag);
        cluster.createDatabase(name);
        odbc_.reset();
        odbc_ = std::make_unique<OdbcIni>(
            std::vector<OdbcDataSource>{cluster.dataSource("teamzips", name)});
        return name;
    }

    int count(const std::string& database, const std::string& table) {
        return std::stoi(server().query("SELECT count(*) FROM " + table, database));
    }

    TempDir dir_;
    std::unique_ptr<OdbcIni> odbc_;
};

TEST_F(PostgresTest, LoadCreatesBothTablesAndIsSafeToRunAgain) {
    const std::string database = freshTeamDatabase("load");
    const Ran first = zembra({"db", "load", "--connection", "DSN=teamzips"}, dir_);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err, "loaded 33,791 rows into zips, 8,120 rows into zip_towns\n");
    EXPECT_EQ(count(database, "zips"), 33791);
    EXPECT_EQ(count(database, "zip_towns"), 8120);

    // Unquoted names: the server folds them to lower case, as it folds the engine's SQL.
    EXPECT_EQ(server().query("SELECT string_agg(column_name, ',' ORDER BY ordinal_position) "
                             "FROM information_schema.columns WHERE table_name = 'zips'",
                             database),
              "zipcode,latitude,longitude,city,state\n");
    EXPECT_EQ(server().query("SELECT string_agg(indexname, ',' ORDER BY indexname) FROM "
                             "pg_indexes WHERE tablename IN ('zips', 'zip_towns')",
                             database),
              "zip_towns_zipcode,zips_latitude_longitude,zips_zipcode\n");
    // Coordinates arrive as the same numbers; a code without a ZCTA is in the town table.
    EXPECT_EQ(server().query("SELECT latitude || ' ' || longitude || ' ' || city FROM zips "
                             "WHERE zipcode = '08873'",
                             database),
              "40.499667 -74.531844 Somerset\n");
    EXPECT_EQ(server().query("SELECT city || ',' || state FROM zip_towns WHERE zipcode = '10041'",
                             database),
              "New York,NY\n");

    // The server serves the town step and the city and state of a lookup as the embedded
    // database does.
    const Ran towns = zembra({"render", "10008", "10041", "08873", "--connection", "DSN=teamzips",
                              "-o", (dir_.path() / "towns.png").string()},
                             dir_);
    ASSERT_EQ(towns.status, 0) << towns.err;
    EXPECT_EQ(towns.err, "placed 3 of 3: 1 as written, 2 at their post-office town\n");
    Child lookup({"lookup", "1724", "406", "--connection", "DSN=teamzips"}, dir_.path() / "lookup");
    EXPECT_EQ(lookup.wait(), 0) << lookup.err();
    EXPECT_EQ(lookup.out(), "08873 40.507194 -74.52128 Somerset, NJ\n");

    // A second run replaces the rows: a stray row goes, a deleted one comes back.
    server().sql("INSERT INTO zips VALUES ('00000', 1, 2, 'Stray', 'XX')", database);
    server().sql("DELETE FROM zip_towns WHERE zipcode = '10008'", database);
    const Ran second = zembra({"db", "load", "--connection", "DSN=teamzips"}, dir_);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(count(database, "zips"), 33791);
    EXPECT_EQ(count(database, "zip_towns"), 8120);
    EXPECT_EQ(server().query("SELECT count(*) FROM zips WHERE zipcode = '00000'", database), "0\n");
}

TEST_F(PostgresTest, AFailedLoadChangesNothing) {
    const std::string database = freshTeamDatabase("failed");
    const fs::path good = dir_.path() / "good.db", bad = dir_.path() / "bad.db";
    writeSourceDatabase(good, "New York");
    writeSourceDatabase(bad, std::string(100, 'x'));  // longer than the city column

    // The first load fails on its last row: not even the tables remain.
    Ran ran = zembra({"db", "load", "--connection", "DSN=teamzips", "--from", bad.string()}, dir_);
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("zembra: error -2147467259: loading zip_towns (nothing was changed): "),
              std::string::npos)
        << ran.err;
    EXPECT_EQ(server().query("SELECT count(*) FROM information_schema.tables WHERE "
                             "table_name IN ('zips', 'zip_towns')",
                             database),
              "0\n");

    ran = zembra({"db", "load", "--connection", "DSN=teamzips", "--from", good.string()}, dir_);
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.err, "loaded 3 rows into zips, 1 rows into zip_towns\n");
    EXPECT_EQ(server().query("SELECT city FROM zips WHERE zipcode = '83814'", database),
              "Coeur D'Alene\n");
    EXPECT_EQ(
        server().query("SELECT count(*) FROM zips WHERE city IS NULL AND state IS NULL", database),
        "1\n");

    // A failing reload leaves the rows of the last good one.
    server().sql("INSERT INTO zips VALUES ('00000', 1, 2, 'Stray', 'XX')", database);
    ran = zembra({"db", "load", "--connection", "DSN=teamzips", "--from", bad.string()}, dir_);
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(count(database, "zips"), 4);
    EXPECT_EQ(server().query("SELECT city FROM zip_towns", database), "New York\n");

    // A source that is not there is named.
    ran = zembra({"db", "load", "--connection", "DSN=teamzips", "--from",
                  (dir_.path() / "none.db").string()},
                 dir_);
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("none.db"), std::string::npos) << ran.err;
}

// The engine's own forward and reverse lookup bodies, over tables on the server.
TEST_F(PostgresTest, EngineLookupsGiveTheSameAnswers) {
    const auto fill = [&](const std::string& database, const std::vector<Row>& rows) {
        server().createDatabase(database);
        std::string sql =
            "CREATE TABLE zips (zipcode VARCHAR(10), latitude DOUBLE PRECISION, "
            "Longitude DOUBLE PRECISION);";
        for (const Row& row : rows) {
            std::string zip;
            for (const char* c = row.zip; *c; ++c) zip += *c == '\'' ? "''" : std::string(1, *c);
            const auto number = [](const std::optional<double>& v) {
                std::ostringstream text;
                text.precision(17);
                if (v) text << *v;
                return v ? text.str() : std::string("NULL");
            };
            sql += "INSERT INTO zips VALUES ('" + zip + "', " + number(row.lat) + ", " +
                   number(row.lon) + ");";
        }
        server().sql(sql, database);
    };
    const std::string forward = databaseName("forward"), reverse = databaseName("reverse");
    fill(forward, engine::test::kZipRows);
    fill(reverse, engine::test::kReverseRows);
    OdbcIni config(
        {server().dataSource("pgzips", forward), server().dataSource("zipcodes", reverse)});

    engine::test::expectForwardLookup(engine::test::gridMap(dir_, "DSN=pgzips"));
    engine::test::expectReverseLookup(engine::test::gridMap(dir_, "ZipCodes"));
}

TEST_F(PostgresTest, EightRendersAtOnceAllSucceed) {
    freshTeamDatabase("eight");
    ASSERT_EQ(zembra({"db", "load", "--connection", "DSN=teamzips"}, dir_).status, 0);

    const std::vector<std::string> codes = csvCodes(ZEMBRA_ZIPCODES_CSV);
    constexpr size_t kRenders = 8, kCodes = 400;
    std::vector<std::unique_ptr<Child>> children;
    for (size_t i = 0; i < kRenders; ++i) {
        std::vector<std::string> mine(codes.begin() + i * 4000, codes.begin() + i * 4000 + kCodes);
        const fs::path list = dir_.path() / ("codes" + std::to_string(i) + ".txt");
        writeLines(list, mine);
        children.push_back(std::make_unique<Child>(
            std::vector<std::string>{"render", "-f", list.string(), "--connection", "DSN=teamzips",
                                     "-o",
                                     (dir_.path() / ("out" + std::to_string(i) + ".png")).string()},
            dir_.path() / ("render" + std::to_string(i))));
    }
    for (size_t i = 0; i < kRenders; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(children[i]->wait(), 0) << children[i]->err();
        // Codes of Alaska, Hawaii and the islands lie outside the USA map; none is missing.
        EXPECT_NE(children[i]->err().find(" of 400"), std::string::npos) << children[i]->err();
        EXPECT_EQ(children[i]->err().find("not found"), std::string::npos) << children[i]->err();
        std::ifstream png(dir_.path() / ("out" + std::to_string(i) + ".png"), std::ios::binary);
        char magic[4] = {};
        png.read(magic, 4);
        EXPECT_EQ(std::string(magic + 1, 3), "PNG");
    }
}

// A server of its own, stopped while a render's MapZips reads it, then down at connect time.
TEST_F(PostgresTest, AStoppedServerFailsTheRenderAndSavesNothing) {
    PostgresCluster own;
    const std::string database = freshTeamDatabase("stopped", &own);
    ASSERT_EQ(zembra({"db", "load", "--connection", "DSN=teamzips"}, dir_).status, 0);

    // Every code three times in one MapZips call: far more lookups than the wait below needs.
    const std::vector<std::string> codes = csvCodes(ZEMBRA_ZIPCODES_CSV);
    std::vector<std::string> many;
    for (int i = 0; i < 3; ++i) many.insert(many.end(), codes.begin(), codes.end());
    const fs::path list = dir_.path() / "many.txt", output = dir_.path() / "stopped.png";
    writeLines(list, many);
    Child render({"render", "-f", list.string(), "--connection", "DSN=teamzips", "--chunk-size",
                  "200000", "-o", output.string()},
                 dir_.path() / "stopped");

    // Wait until the render's session has run lookups, then stop the server under it.
    const std::string active =
        "SELECT count(*) FROM pg_stat_activity WHERE datname = '" + database +
        "' AND pid <> pg_backend_pid() AND query ILIKE '%from zips where zipcode%'";
    for (int i = 0; i < 6000 && own.query(active, database) == "0\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    own.stop();
    EXPECT_EQ(render.wait(), 1) << render.err();
    EXPECT_NE(render.err().find("zembra: error -2147467259:"), std::string::npos) << render.err();
    EXPECT_FALSE(fs::exists(output));

    // Down before the render starts: the connection fails, nothing is written.
    const Ran down =
        zembra({"render", "08873", "--connection", "DSN=teamzips", "-o", output.string()}, dir_);
    EXPECT_EQ(down.status, 1);
    EXPECT_NE(down.err.find("zembra: error -2147467259:"), std::string::npos) << down.err;
    EXPECT_FALSE(fs::exists(output));
}

}  // namespace
}  // namespace zembra::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // GoogleTest takes ownership of the environment.
    ::testing::AddGlobalTestEnvironment(new zembra::test::PostgresEnvironment);
    return RUN_ALL_TESTS();
}
