// The same expectations against the embedded SQLite back end and against the same kind of
// database reached through the SQLite ODBC driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "test_env.hpp"

namespace zembra::test {
namespace {

using db::Connection;
using db::Recordset;

// A bare name with no data source of that name opens the embedded database.
struct Embedded {
    static constexpr const char* kConnection = "Provider=Zembra.Embedded";
    static constexpr const char* kSource = "embedded";
    static constexpr bool kOdbc = false;
};
// The engine's default name, spelled as the viewer spells it, finds the "zipcodes" DSN.
struct OdbcByName {
    static constexpr const char* kConnection = "ZipCodes";
    static constexpr const char* kSource = "odbc";
    static constexpr bool kOdbc = true;
};
struct OdbcByDsn {
    static constexpr const char* kConnection = "DSN=zipcodes;";
    static constexpr const char* kSource = "odbc";
    static constexpr bool kOdbc = true;
};

template <typename Backend>
class BackendTest : public ::testing::Test {
  protected:
    void SetUp() override { connection.open(Backend::kConnection); }

    // The values of one column, row by row, read to the end of the set.
    std::vector<Variant> column(const std::string& sql, const std::string& name) {
        std::vector<Variant> values;
        Recordset rs = connection.execute(sql);
        while (!rs.eof()) {
            values.push_back(rs.field(name));
            rs.moveNext();
        }
        return values;
    }

    Connection connection;
};

using Backends = ::testing::Types<Embedded, OdbcByName, OdbcByDsn>;
TYPED_TEST_SUITE(BackendTest, Backends);

Error errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "no error raised";
    return Error(0, "", "");
}

TYPED_TEST(BackendTest, ReachesTheIntendedDatabase) {
    Recordset rs = this->connection.execute("select name from source");
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.field("name"), Variant(TypeParam::kSource));
}

TYPED_TEST(BackendTest, ValuesComeBackWithTheirTypes) {
    Recordset rs = this->connection.execute("select * from kinds");
    ASSERT_FALSE(rs.eof());
    ASSERT_EQ(rs.fieldCount(), 7);
    EXPECT_EQ(rs.field("id"), Variant(int32_t{1}));
    EXPECT_EQ(rs.field("small"), Variant(int32_t{-5}));
    EXPECT_EQ(rs.field("big"), Variant(5000000000.0));  // beyond Int32: a Double
    EXPECT_EQ(rs.field("ratio"), Variant(0.1));
    EXPECT_EQ(rs.field("label"), Variant("Jos\xc3\xa9 N\xc3\xba\xc3\xb1"
                                         "ez"));
    EXPECT_TRUE(rs.field("missing").isNull());
    // Long text arrives whole (ODBC reads it in several chunks).
    std::string story = rs.field("story").toString();
    EXPECT_EQ(story.size(), 10000u);
    EXPECT_EQ(story.substr(0, 5), "start");
    EXPECT_EQ(story.substr(story.size() - 3), "end");
}

TYPED_TEST(BackendTest, FieldsByNameIgnoringCaseAndByPosition) {
    Recordset rs =
        this->connection.execute("select Longitude, latitude from zips where zipcode = '08873'");
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.fieldName(0), "Longitude");
    EXPECT_EQ(rs.field("LONGITUDE"), Variant(-74.531844));
    EXPECT_EQ(rs.field("Latitude"), Variant(40.499667));
    EXPECT_EQ(rs.field(1), rs.field("latitude"));

    for (auto bad :
         {std::function<void()>([&] { rs.field("zipcode"); }),
          std::function<void()>([&] { rs.field(2); }), std::function<void()>([&] { rs.field(-1); }),
          std::function<void()>([&] { rs.fieldName(2); })}) {
        Error e = errorOf(bad);
        EXPECT_EQ(e.number(), db::kItemNotFound);
        EXPECT_EQ(e.description(),
                  "Item cannot be found in the collection corresponding to the requested name "
                  "or ordinal.");
    }
}

TYPED_TEST(BackendTest, RowsInOrderThenEof) {
    EXPECT_EQ(this->column("select zipcode from zips order by zipcode", "zipcode"),
              (std::vector<Variant>{"00601", "08854", "08873", "99501"}));
    EXPECT_EQ(this->column("select city from zips order by zipcode", "city"),
              (std::vector<Variant>{"Adjuntas", "Piscataway", "Somerset", Variant::null()}));

    Recordset rs = this->connection.execute("select zipcode from zips where zipcode = '00601'");
    ASSERT_FALSE(rs.eof());
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
    EXPECT_EQ(errorOf([&] { rs.field("zipcode"); }).number(), db::kNoCurrentRecord);
    EXPECT_EQ(errorOf([&] { rs.moveNext(); }).number(), db::kNoCurrentRecord);
    // An unknown name is reported as such even at the end.
    EXPECT_EQ(errorOf([&] { rs.field("nope"); }).number(), db::kItemNotFound);
}

TYPED_TEST(BackendTest, EmptyResultsStillDescribeTheirColumns) {
    // A quote inside the zip code is doubled by the caller and simply matches nothing.
    Recordset rs =
        this->connection.execute("select Longitude, latitude from zips where zipcode = 'O''1'");
    EXPECT_TRUE(rs.eof());
    EXPECT_EQ(rs.fieldCount(), 2);
    EXPECT_TRUE(this->connection.execute("select * from empty_table").eof());
}

TYPED_TEST(BackendTest, TheBoxQueryFindsRowsInside) {
    std::vector<Variant> zips = this->column(
        "SELECT * FROM zips WHERE (latitude Between 40.4 And 40.6) And "
        "(Longitude Between -74.6 And -74.4) ",
        "zipcode");
    std::sort(zips.begin(), zips.end(),
              [](const Variant& a, const Variant& b) { return a.toString() < b.toString(); });
    EXPECT_EQ(zips, (std::vector<Variant>{"08854", "08873"}));
}

TYPED_TEST(BackendTest, FailuresCarryTheDriversText) {
    Error syntax = errorOf([&] { this->connection.execute("selec zipcode fro zips"); });
    EXPECT_EQ(syntax.number(), err::kDatabase);
    EXPECT_NE(syntax.description().find("syntax error"), std::string::npos) << syntax.description();
    EXPECT_EQ(syntax.source().rfind("Zembra.Data.", 0), 0u) << syntax.source();

    Error missing = errorOf([&] { this->connection.execute("select * from nope"); });
    EXPECT_EQ(missing.number(), err::kDatabase);
    EXPECT_NE(missing.description().find("no such table: nope"), std::string::npos)
        << missing.description();

    Error column = errorOf([&] { this->connection.execute("select nope from zips"); });
    EXPECT_NE(column.description().find("no such column: nope"), std::string::npos)
        << column.description();

    if (TypeParam::kOdbc) {
        // Through ODBC the message also lists the names the driver's catalogue has.
        EXPECT_NE(
            missing.description().find(
                "There is no table 'nope'; the tables are: empty_table, kinds, source, zips."),
            std::string::npos)
            << missing.description();
        EXPECT_NE(column.description().find("Table 'zips' has no field 'nope'; its fields are: "
                                            "zipcode, latitude, Longitude, city, state."),
                  std::string::npos)
            << column.description();
        Error condition = errorOf([&] {
            this->connection.execute("select zipcode from ZIPS where zip = '08873' order by 1");
        });
        EXPECT_NE(condition.description().find("Table 'zips' has no field 'zip';"),
                  std::string::npos)
            << condition.description();
    }

    // The connection stays usable after a failed statement.
    EXPECT_FALSE(this->connection.execute("select * from zips").eof());
}

TYPED_TEST(BackendTest, RecordSetOutlivesItsConnection) {
    Recordset rs = this->connection.execute("select zipcode from zips order by zipcode");
    this->connection.close();
    EXPECT_FALSE(this->connection.isOpen());
    int rows = 0;
    for (; !rs.eof(); rs.moveNext()) ++rows;
    EXPECT_EQ(rows, 4);
}

TYPED_TEST(BackendTest, TraceFileListsEveryStatementAsSent) {
    this->connection.close();
    auto trace = testData().dir / (std::string("trace-") + TypeParam::kSource + ".log");
    std::filesystem::remove(trace);
    {
        ScopedEnv env("ZEMBRA_SQL_TRACE", trace.string());
        this->connection.open(TypeParam::kConnection);
    }
    const std::string lookup = "select Longitude, latitude from zips where zipcode = '08873'";
    const std::string box =
        "SELECT * FROM zips WHERE (latitude Between 39.9275851696165 And 40.0724148303835) And "
        "(Longitude Between -74.2554789658825 And -73.7445210341175) ";
    this->connection.execute(lookup);
    this->connection.execute(box);
    EXPECT_THROW(this->connection.execute("select * from nope"), Error);

    std::ifstream in(trace);
    std::stringstream text;
    text << in.rdbuf();
    // A statement that fails to compile never reaches SQLite's own trace; through ODBC
    // it is sent all the same.
    std::string expected = lookup + "\n" + box + "\n";
    if (std::string(TypeParam::kSource) == "odbc") expected += "select * from nope\n";
    EXPECT_EQ(text.str(), expected);
}

}  // namespace
}  // namespace zembra::test

namespace zembra::test {
namespace {

int32_t rowCount(db::Connection& connection, const std::string& table) {
    return connection.execute("select count(*) as n from " + table).field("n").toInt32();
}

TYPED_TEST(BackendTest, TransactionsTakeEffectTogetherOrNotAtAll) {
    db::Connection& c = this->connection;
    // One check at a time: a commit or rollback needs an open transaction, and one opens once.
    EXPECT_EQ(errorOf([&] { c.commitTrans(); }).number(), err::kDatabase);
    EXPECT_EQ(errorOf([&] { c.rollbackTrans(); }).number(), err::kDatabase);
    c.beginTrans();
    EXPECT_EQ(errorOf([&] { c.beginTrans(); }).number(), err::kDatabase);
    if (std::string(TypeParam::kSource) == "embedded") {
        // The embedded database is read-only: a transaction only reads.
        EXPECT_EQ(rowCount(c, "zips"), 4);
        c.commitTrans();
        return;
    }
    c.rollbackTrans();

    // The two ODBC routes share one database file: a table of each route's own.
    const std::string table = std::string("trans_") +
                              (std::string(TypeParam::kConnection) == "ZipCodes" ? "name" : "dsn");
    c.execute("DROP TABLE IF EXISTS " + table);
    c.execute("CREATE TABLE " + table + " (a INTEGER)");
    c.beginTrans();
    c.execute("INSERT INTO " + table + " VALUES (1)");
    c.rollbackTrans();
    EXPECT_EQ(rowCount(c, table), 0);

    c.beginTrans();
    c.execute("INSERT INTO " + table + " VALUES (2)");
    c.execute("INSERT INTO " + table + " VALUES (3)");
    c.commitTrans();
    EXPECT_EQ(rowCount(c, table), 2);
    c.execute("INSERT INTO " + table + " VALUES (4)");  // outside a transaction: at once
    EXPECT_EQ(rowCount(c, table), 3);

    // A connection closed with its transaction open leaves nothing of it behind.
    c.beginTrans();
    c.execute("DELETE FROM " + table);
    c.close();
    EXPECT_EQ(errorOf([&] { c.beginTrans(); }).number(), db::kConnectionClosed);
    c.open(TypeParam::kConnection);
    EXPECT_EQ(rowCount(c, table), 3);
    c.execute("DROP TABLE " + table);
}

}  // namespace
}  // namespace zembra::test
