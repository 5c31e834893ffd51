// The workbook provider over FreeXL, with the connection string the batch reader builds.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "test_env.hpp"

namespace zembra::test {
namespace {

using db::Connection;
using db::Recordset;

std::string excelConnection(const std::filesystem::path& file) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file.string() +
           ";Extended Properties=\"Excel 8.0;\"";
}

class Excel : public ::testing::Test {
  protected:
    void SetUp() override { connection.open(excelConnection(fixture("zips.xls"))); }

    std::vector<Variant> column(const std::string& sql, int32_t index) {
        std::vector<Variant> values;
        for (Recordset rs = connection.execute(sql); !rs.eof(); rs.moveNext()) {
            values.push_back(rs.field(index));
        }
        return values;
    }

    Error executeError(const std::string& sql) {
        try {
            connection.execute(sql);
        } catch (const Error& e) {
            return e;
        }
        ADD_FAILURE() << sql << " raised no error";
        return Error(0, "", "");
    }

    Connection connection;
};

TEST_F(Excel, FirstRowNamesTheColumnsAndTheRestIsData) {
    Recordset rs = connection.execute("SELECT * FROM [Sheet1$]");
    ASSERT_EQ(rs.fieldCount(), 3);
    EXPECT_EQ(rs.fieldName(0), "Name");
    EXPECT_EQ(rs.fieldName(1), "Zip");
    EXPECT_EQ(rs.fieldName(2), "ZipNum");
    EXPECT_EQ(rs.field(0), Variant("Alice Adams"));
    EXPECT_EQ(rs.field("zip"), Variant("08873"));
    EXPECT_EQ(rs.field("ZIPNUM"), Variant(int32_t{8873}));
    try {
        rs.field(3);
        FAIL() << "a column beyond the last was read";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), db::kItemNotFound);
    }

    EXPECT_EQ(column("SELECT * FROM [Sheet1$]", 1),
              (std::vector<Variant>{"08873", "08232", " 10001 ", "08873", Variant::null(),
                                    Variant::null(), "99501", "96813"}));
    EXPECT_EQ(
        column("SELECT * FROM [Sheet1$]", 2),
        (std::vector<Variant>{int32_t{8873}, Variant::null(), int32_t{10001}, int32_t{8873},
                              Variant::null(), Variant::null(), Variant::null(), Variant::null()}));
    std::vector<Variant> names = column("SELECT * FROM [Sheet1$]", 0);
    ASSERT_EQ(names.size(), 8u);
    EXPECT_EQ(names[7], Variant("Jos\xc3\xa9 N\xc3\xba\xc3\xb1"
                                "ez"));
}

TEST_F(Excel, SheetNamesWithBlanksAndQueriesInAnyCase) {
    EXPECT_EQ(column("SELECT * FROM [Other Sheet$]", 0),
              (std::vector<Variant>{"08873", "10001", "99501"}));
    EXPECT_EQ(column("  select *\n from [other sheet$] ; ", 0).size(), 3u);
    // Several queries over one connection each read their own sheet.
    Recordset first = connection.execute("SELECT * FROM [Sheet1$]");
    Recordset second = connection.execute("SELECT * FROM [Other Sheet$]");
    first.moveNext();
    EXPECT_EQ(first.field("Zip"), Variant("08232"));
    EXPECT_EQ(second.field("Zip Code"), Variant("08873"));
}

TEST_F(Excel, UnknownSheetsAndOtherSqlAreErrors) {
    Error unknown = executeError("SELECT * FROM [Sheet9$]");
    EXPECT_EQ(unknown.number(), err::kDatabase);
    EXPECT_EQ(unknown.source(), "Zembra.Data.Excel");
    EXPECT_NE(unknown.description().find("no sheet named 'Sheet9'"), std::string::npos)
        << unknown.description();

    // "]]" inside brackets is one "]".
    Error escaped = executeError("SELECT * FROM [a]]b$]");
    EXPECT_NE(escaped.description().find("'a]b'"), std::string::npos) << escaped.description();

    for (const char* sql :
         {"SELECT [Zip] FROM [Sheet1$]", "SELECT * FROM [Sheet1$] WHERE 1", "SELECT * FROM Sheet1$",
          "SELECT * FROM [Sheet1$", "DROP TABLE x", "SELECT * FROM [Sheet1]", ""}) {
        Error e = executeError(sql);
        EXPECT_EQ(e.number(), err::kDatabase) << sql;
    }
}

TEST(ExcelOpen, QueriesAreTraced) {
    auto trace = testData().dir / "trace-excel.log";
    std::filesystem::remove(trace);
    Connection connection;
    {
        ScopedEnv env("ZEMBRA_SQL_TRACE", trace.string());
        connection.open(excelConnection(fixture("zips.xls")));
    }
    connection.execute("SELECT * FROM [Other Sheet$]");
    EXPECT_THROW(connection.execute("SELECT * FROM [Nope$]"), Error);
    std::ifstream in(trace);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "SELECT * FROM [Other Sheet$]\nSELECT * FROM [Nope$]\n");
}

TEST(ExcelOpen, UnreadableWorkbooksFailAtOpen) {
    auto notWorkbook = testData().dir / "not-a-workbook.xls";
    {
        std::ofstream out(notWorkbook);
        out << "Name,Zip\nAlice,08873\n";
    }
    const auto missing = testData().dir / "missing.xls";
    for (const auto& [path, reason] : std::vector<std::pair<std::filesystem::path, std::string>>{
             {missing, "The workbook '" + missing.string() + "' does not exist."},
             {testData().dir, "is a folder."},
             {notWorkbook, "damaged or unreadable"}}) {
        Connection connection;
        try {
            connection.open(excelConnection(path));
            FAIL() << "opened " << path;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::kDatabase);
            EXPECT_NE(e.description().find(path.string()), std::string::npos) << e.description();
            EXPECT_NE(e.description().find(reason), std::string::npos) << e.description();
        }
        EXPECT_FALSE(connection.isOpen());
    }
}

}  // namespace
}  // namespace zembra::test
