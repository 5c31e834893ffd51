// How connection strings choose a back end, and the connection's and record set's state
// rules.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "test_env.hpp"

namespace zembra::test {
namespace {

using db::Connection;
using db::Recordset;

Error openError(std::string_view text) {
    Connection connection;
    try {
        connection.open(text);
    } catch (const Error& e) {
        EXPECT_FALSE(connection.isOpen());
        return e;
    }
    ADD_FAILURE() << "opening \"" << text << "\" raised no error";
    return Error(0, "", "");
}

std::string sourceName(Connection& connection) {
    Recordset rs = connection.execute("select name from source");
    return rs.field(0).toString();
}

TEST(Routing, BareNamesFindDataSourcesIgnoringCaseElseTheEmbeddedDatabase) {
    for (const char* name : {"zipcodes", "ZipCodes", "ZIPCODES"}) {
        Connection connection;
        connection.open(name);
        EXPECT_EQ(sourceName(connection), "odbc") << name;
    }
    Connection embedded;
    embedded.open("Provider=Zembra.Embedded");
    EXPECT_EQ(sourceName(embedded), "embedded");
    // A mistyped data source name is an error naming it, never the embedded database.
    for (const char* name : {"zipcode", "zipcodes2", "teamzipz"}) {
        Error e = openError(name);
        EXPECT_EQ(e.number(), err::kDatabase) << name;
        EXPECT_NE(e.description().find(std::string("'") + name + "'"), std::string::npos)
            << e.description();
    }
}

TEST(Routing, AZipDatabaseThatIsNoRegularFileIsRefusedAtOnce) {
    const auto fifo = testData().dir / "zips.fifo";
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::filesystem::path& path :
         {fifo, std::filesystem::path("/dev/zero"), testData().dir}) {
        ScopedEnv env("ZEMBRA_ZIPCODES_DB", path.string());
        Error e = openError("Provider=Zembra.Embedded");
        EXPECT_EQ(e.number(), err::kDatabase);
        EXPECT_NE(e.description().find(path.string() + "' is not a regular file"),
                  std::string::npos)
            << e.description();
    }
    std::filesystem::remove(fifo);
}

TEST(Routing, UserAndPasswordGoToOdbc) {
    Connection connection;
    connection.open("ZipCodes", "someone", "secret");  // the SQLite driver ignores them
    EXPECT_EQ(sourceName(connection), "odbc");
    connection.close();
    connection.open("dsn=zipcodes", "someone", "secret");
    EXPECT_EQ(sourceName(connection), "odbc");
}

TEST(Routing, UnknownDataSourceFailsWithTheDriverManagersText) {
    Error e = openError("DSN=nope");
    EXPECT_EQ(e.number(), err::kDatabase);
    EXPECT_EQ(e.source(), "Zembra.Data.ODBC");
    EXPECT_NE(e.description().find("[IM002]"), std::string::npos) << e.description();
}

TEST(Routing, DriverKeywordsAreRecognisedInAnyCaseAndSpacing) {
    auto db = testData().odbcDb.string();
    for (const std::string& text : std::vector<std::string>{
             "Driver={SQLite3};Database=" + db, "driver = {SQLite3}; database=" + db,
             "DRIVER={SQL Server};Database=" + db, "dsn=ZIPCODES"}) {
        Connection connection;
        connection.open(text);
        EXPECT_EQ(sourceName(connection), "odbc") << text;
    }
}

TEST(Routing, UnusableConnectionStringsAreRefused) {
    struct Case {
        std::string text;
        std::string expected;  // part of the description
    };
    for (const Case& c : std::vector<Case>{
             {"", "No connection string"},
             {"   ", "No connection string"},
             {"Server=here;Database=there", "names no ODBC driver"},
             {"Provider=SQLOLEDB;Data Source=x", "Provider cannot be found: 'SQLOLEDB'"},
             {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb", "Excel 8.0"},
             {"Provider=Microsoft.Jet.OLEDB.4.0;Extended Properties=\"Excel 8.0;\"",
              "no Data Source"},
             {"Driver={No Such Driver};PWD=secret", "No Such Driver"},
         }) {
        Error e = openError(c.text);
        EXPECT_EQ(e.number(), err::kDatabase) << c.text;
        EXPECT_NE(e.description().find(c.expected), std::string::npos)
            << c.text << " -> " << e.description();
        EXPECT_EQ(e.description().find("secret"), std::string::npos) << e.description();
    }
}

TEST(Routing, MissingEmbeddedDatabaseNamesThePath) {
    auto missing = testData().dir / "no-such.db";
    ScopedEnv env("ZEMBRA_ZIPCODES_DB", missing.string());
    Error e = openError("Provider=Zembra.Embedded");
    EXPECT_EQ(e.source(), "Zembra.Data.SQLite");
    EXPECT_NE(e.description().find(missing.string()), std::string::npos) << e.description();
}

TEST(Routing, EmbeddedDatabaseIsReadOnly) {
    Connection connection;
    connection.open("Provider=Zembra.Embedded");
    try {
        connection.execute("delete from zips");
        FAIL() << "a write succeeded";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("readonly"), std::string::npos) << e.description();
    }
    EXPECT_FALSE(connection.execute("select * from zips").eof());
}

TEST(Routing, SeveralStatementsRunInTurnAndTheLastGivesTheRows) {
    Connection connection;
    connection.open("Provider=Zembra.Embedded");
    Recordset rs = connection.execute("select 1; select 2 as two;");
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.field("two"), Variant(int32_t{2}));
    EXPECT_TRUE(connection.execute("  ;  ").eof());
}

TEST(State, ConnectionAndRecordSetRules) {
    Connection connection;
    EXPECT_FALSE(connection.isOpen());
    try {
        connection.execute("select 1");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), db::kConnectionClosed);
    }
    connection.open("Provider=Zembra.Embedded");
    EXPECT_TRUE(connection.isOpen());
    try {
        connection.open("Provider=Zembra.Embedded");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), db::kObjectOpen);
    }

    Recordset rs = connection.execute("select zipcode from zips");
    Recordset moved = std::move(rs);
    EXPECT_TRUE(rs.eof());  // NOLINT: a moved-from set reads as closed
    EXPECT_FALSE(moved.eof());
    moved.close();
    EXPECT_TRUE(moved.eof());
    for (auto action : {std::function<void()>([&] { moved.field(0); }),
                        std::function<void()>([&] { moved.field("zipcode"); }),
                        std::function<void()>([&] { moved.moveNext(); }),
                        std::function<void()>([&] { moved.fieldCount(); })}) {
        try {
            action();
            ADD_FAILURE() << "a closed record set was usable";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), db::kObjectClosed);
        }
    }

    Recordset none;
    EXPECT_TRUE(none.eof());
    connection.close();
    connection.close();                           // closing twice is harmless
    connection.open("Provider=Zembra.Embedded");  // and a closed connection opens again
    EXPECT_TRUE(connection.isOpen());
}

}  // namespace
}  // namespace zembra::test
