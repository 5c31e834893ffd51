// Access files through mdbtools' ODBC driver, registered under the Windows driver name,
// with the connection strings and queries the batch reader builds.
#include <gtest/gtest.h>

#include <vector>

#include "test_env.hpp"

namespace zembra::test {
namespace {

using db::Connection;
using db::Recordset;

std::string accessConnection(const std::filesystem::path& file) {
    return "Driver={Microsoft Access Driver (*.mdb)}; DBQ=" + file.string();
}

std::vector<Variant> readColumn(Connection& connection, const std::string& sql,
                                const std::string& field) {
    std::vector<Variant> values;
    for (Recordset rs = connection.execute(sql); !rs.eof(); rs.moveNext()) {
        values.push_back(rs.field(field));
    }
    return values;
}

TEST(Access, TablesReadInStoredOrderWithNulls) {
    Connection connection;
    connection.open(accessConnection(fixture("zips.mdb")));
    // mdbtools returns the zero-length text of row 5 as Null as well.
    EXPECT_EQ(readColumn(connection, "SELECT [Zip] FROM [Customers]", "Zip"),
              (std::vector<Variant>{"08873", "08232", " 10001 ", "08873", Variant::null(),
                                    Variant::null(), "99501", "96813"}));
    EXPECT_EQ(readColumn(connection, "SELECT [Zip Code] FROM [Zip Codes]", "zip code"),
              (std::vector<Variant>{"08873", "10001", "99501"}));
    EXPECT_EQ(
        readColumn(connection, "SELECT * FROM [Customers]", "ZipNum"),
        (std::vector<Variant>{int32_t{8873}, Variant::null(), int32_t{10001}, int32_t{8873},
                              Variant::null(), Variant::null(), Variant::null(), Variant::null()}));
    std::vector<Variant> names = readColumn(connection, "SELECT * FROM [Customers]", "name");
    ASSERT_EQ(names.size(), 8u);
    EXPECT_EQ(names[7], Variant("Jos\xc3\xa9 N\xc3\xba\xc3\xb1"
                                "ez"));
}

TEST(Access, PathsWithBlanksWork) {
    auto dir = testData().dir / "folder with blanks";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(fixture("zips.mdb"), dir / "my zips.mdb",
                               std::filesystem::copy_options::overwrite_existing);
    Connection connection;
    connection.open(accessConnection(dir / "my zips.mdb"));
    EXPECT_EQ(readColumn(connection, "SELECT [Zip Code] FROM [Zip Codes]", "Zip Code").size(), 3u);
}

TEST(Access, MissingFileGivesAClearError) {
    auto missing = testData().dir / "nowhere" / "missing.mdb";
    Connection connection;
    try {
        connection.open(accessConnection(missing) + ";PWD=hush");
        FAIL() << "opened a missing file";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::kDatabase);
        EXPECT_EQ(e.source(), "Zembra.Data.ODBC");
        // The driver itself says nothing: the layer says what is wrong and names the operation.
        EXPECT_NE(
            e.description().find("The database file '" + missing.string() + "' does not exist."),
            std::string::npos)
            << e.description();
        EXPECT_NE(e.description().find("SQLDriverConnect"), std::string::npos) << e.description();
        EXPECT_EQ(e.description().find("hush"), std::string::npos) << e.description();
    }
    EXPECT_FALSE(connection.isOpen());
}

TEST(Access, AFolderIsNotADatabaseFile) {
    Connection connection;
    try {
        connection.open(accessConnection(testData().dir));
        FAIL() << "opened a folder";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::kDatabase);
        EXPECT_NE(e.description().find("is a folder."), std::string::npos) << e.description();
    }
}

// mdbtools says only "Couldn't parse SQL"; the message adds what is missing and what exists,
// from the driver's catalogue (system tables left out), and keeps the driver's text.
TEST(Access, UnknownNamesAreNamedWithTheNamesThatExist) {
    Connection connection;
    connection.open(accessConnection(fixture("zips.mdb")));
    struct Case {
        std::string sql;
        std::string explanation;
    };
    for (const Case& c : std::vector<Case>{
             {"SELECT [Zip Code] FROM [Nope]",
              "There is no table 'Nope'; the tables are: Customers, Zip Codes."},
             {"SELECT [Nope] FROM [Customers]",
              "Table 'Customers' has no field 'Nope'; its fields are: Name, Zip, ZipNum."},
             {"SELECT [Zip ] FROM [customers]",
              "Table 'Customers' has no field 'Zip '; its fields are: Name, Zip, ZipNum."},
             {"SELECT [Zip], [Zip Code], Name AS n FROM [Customers] WHERE [Nope] = 'x'",
              "Table 'Customers' has no fields 'Zip Code', 'Nope'; its fields are: Name, Zip, "
              "ZipNum."},
         }) {
        try {
            connection.execute(c.sql);
            FAIL() << c.sql;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::kDatabase);
            EXPECT_EQ(e.description().rfind(c.explanation, 0), 0u) << e.description();
            EXPECT_NE(e.description().find("Couldn't parse SQL"), std::string::npos)
                << e.description();
            EXPECT_NE(e.description().find(c.sql), std::string::npos) << e.description();
        }
    }
    // A failure the catalogue cannot explain keeps the driver's text alone.
    try {
        connection.execute("SELECT [Zip] FROM [Customers] WHERE");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.description().rfind("Couldn't parse SQL", 0), 0u) << e.description();
    }
    EXPECT_EQ(readColumn(connection, "SELECT [Zip Code] FROM [Zip Codes]", "Zip Code").size(), 3u);
}

}  // namespace
}  // namespace zembra::test
