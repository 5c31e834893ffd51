// Rows with a category and a value from the database sources, through the real drivers:
// mdbtools for the Access fixture, the workbook provider for the Excel fixture and the
// SQLite ODBC driver standing in for "SQL Server".
#include <zembra/dataaccess.hpp>
#include <zembra/render/rows.hpp>
#include <zembra/runtime.hpp>
#include <zembra/test/odbc_ini.hpp>

#include "support.hpp"

namespace zembra::render::test {
namespace {

std::vector<std::string> codesOf(const RowTable& t) { return t.codes(); }

TEST(RowSourcesTest, AccessExcelAndSqlServerGiveCategoriesAndValues) {
    zembra::test::OdbcIni odbc;
    const std::vector<std::string> customers{"08873", "08232", "10001", "99501", "96813"};

    RowTable access;
    readQueryRows("Driver={Microsoft Access Driver (*.mdb)}; DBQ=" +
                      zembra::test::fixture("zips.mdb").string(),
                  rowsQuery("Customers", {"Zip", "Name", "ZipNum"}),
                  {std::string("Zip"), std::string("Name"), std::string("ZipNum")}, access);
    EXPECT_EQ(codesOf(access), customers);
    EXPECT_EQ(access.entries()[0].rows, 2u);  // 08873 twice
    EXPECT_EQ(access.rowCount(), 6u);         // the blank and the Null code are skipped

    // A sheet's columns go by position, as the plain batch read does.
    RowTable excel;
    readQueryRows("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" +
                      zembra::test::fixture("zips.xls").string() +
                      ";Extended Properties=\"Excel 8.0;\"",
                  "SELECT * FROM [Sheet1$]", {1, 0, 2}, excel);
    EXPECT_EQ(codesOf(excel), customers);
    EXPECT_EQ(excel.entries()[0].rows, 2u);
    EXPECT_EQ(excel.entries()[0].category, access.entries()[0].category);
    EXPECT_DOUBLE_EQ(excel.entries()[0].sum, access.entries()[0].sum);

    TempDir dir;
    const std::string sqlServer =
        "Driver={SQL Server}; Server=LOCALHOST; Database=" + (dir.path() / "rows.sqlite").string() +
        "; UID=u; PWD=p;";
    {
        db::Connection c;
        c.open(sqlServer);
        c.execute("CREATE TABLE [Sales 2026] (Zip TEXT, Segment TEXT, Revenue)");
        c.execute(
            "INSERT INTO [Sales 2026] VALUES ('08873', 'Retail', 100.5), ('08873', 'Retail', "
            "'$1,000'),"
            " ('10001', NULL, NULL), (NULL, 'Office', 5), ('99501', 'Office', 7)");
    }
    RowTable sales;
    const RowColumns columns{"Zip", "Segment", "Revenue"};
    readQueryRows(sqlServer, rowsQuery("Sales 2026", columns),
                  {std::string("Zip"), std::string("Segment"), std::string("Revenue")}, sales);
    ASSERT_EQ(sales.entries().size(), 3u);
    EXPECT_DOUBLE_EQ(sales.entries()[0].sum, 1100.5);
    EXPECT_EQ(sales.entries()[0].valued, 2u);
    EXPECT_EQ(sales.entries()[1].category, "");
    EXPECT_EQ(sales.entries()[1].valued, 0u);
    EXPECT_EQ(sales.entries()[2].category, "Office");

    // A missing column is the driver's error, unchanged.
    RowTable none;
    EXPECT_EQ(errorOf([&] {
                  readQueryRows(sqlServer, rowsQuery("Sales 2026", {"Zip", "Nope", ""}),
                                {std::string("Zip"), std::string("Nope"), std::nullopt}, none);
              })
                  .value()
                  .number(),
              err::kDatabase);
}

}  // namespace
}  // namespace zembra::render::test
