// The database sources of the batch reader through the real drivers: mdbtools for the
// Access fixture, the workbook provider for the Excel fixture, and the SQLite ODBC
// driver standing in for "SQL Server" (no SQL Server runs here).
#include <gtest/gtest.h>

#include <filesystem>
#include <zembra/dataaccess.hpp>

#include "input/batch_reader.hpp"
#include "odbc_test_env.hpp"

namespace zembra::client {
namespace {

using Zips = std::vector<std::string>;
const std::string kData = ZEMBRA_TEST_DATA;
const std::string kDrivers = ZEMBRA_ODBC_DRIVER_DIR;

class DatabaseSourceTest : public ::testing::Test {
  protected:
    // Every test gets a fresh private driver list; a failure in set-up fails the test
    // (a failing suite set-up would only skip it).
    void SetUp() override {
        odbc_ = std::make_unique<testing::PrivateOdbc>();
        odbc_->addDriver("Microsoft Access Driver (*.mdb)", kDrivers + "/libmdbodbc.so");
        odbc_->addDriver("SQL Server", kDrivers + "/libsqlite3odbc.so");
    }
    void TearDown() override { odbc_.reset(); }

    // A SQLite file read through the name "SQL Server", for the tests that need it.
    void createSqlServerDatabase() {
        sqliteFile_ = (odbc_->dir() / "batch.sqlite").string();
        // The exact form the connection-string builder composes.
        sqlServer_ =
            "Driver={SQL Server}; Server=LOCALHOST; Database=" + sqliteFile_ + "; UID=u; PWD=p;";
        ASSERT_NO_THROW({
            db::Connection connection;
            connection.open(sqlServer_);
            for (const char* sql :
                 {"CREATE TABLE Zips (Id INTEGER, Zip TEXT, ZipNum INTEGER)",
                  "INSERT INTO Zips VALUES (1, '08873', 8873), (2, ' 10001 ', NULL),"
                  " (3, NULL, 10001), (4, '', 8873), (5, '   ', NULL), (6, '08873', NULL),"
                  " (7, '99501', 99501)",
                  "CREATE TABLE [Zip Codes] ([Zip Code] TEXT)",
                  "INSERT INTO [Zip Codes] VALUES ('96813'), ('08232')",
                  "CREATE TABLE Victim (a INTEGER)", "INSERT INTO Victim VALUES (1)",
                  "CREATE TABLE Sales (Zip TEXT, Segment TEXT, Revenue TEXT)",
                  "INSERT INTO Sales VALUES ('08873', 'Retail', '100'), ('10001', 'Office', '7'),"
                  " ('08873', 'Retail', '$1,200.50'), ('08873', 'Office', '50')"}) {
                connection.execute(sql);
            }
        });
    }

    static Zips access(const std::string& table, const std::string& field,
                       const std::string& file = kData + "/zips.mdb") {
        BatchSource source;
        source.access = true;
        source.accessPath = file;
        source.tableName = table;
        source.fieldName = field;
        return ReadBatchData(source, {}).items();
    }
    static Zips excel(const std::string& sheet, const std::string& index,
                      const std::string& file = kData + "/zips.xls") {
        BatchSource source;
        source.excel = true;
        source.excelPath = file;
        source.tableName = sheet;
        source.fieldName = index;
        return ReadBatchData(source, {}).items();
    }
    Zips sqlServer(const std::string& table, const std::string& field) {
        BatchSource source;
        source.sqlServer = true;
        source.connString = sqlServer_;
        source.tableName = table;
        source.fieldName = field;
        return ReadBatchData(source, {}).items();
    }
    static int32_t errorNumber(const std::function<void()>& body) {
        try {
            body();
        } catch (const Error& e) {
            return e.number();
        }
        return 0;
    }

    std::unique_ptr<testing::PrivateOdbc> odbc_;
    std::string sqliteFile_;
    std::string sqlServer_;
};

const Zips kCustomerZips{"08873", "08232", "10001", "99501", "96813"};

TEST_F(DatabaseSourceTest, AccessTablesByFieldName) {
    EXPECT_EQ(access("Customers", "Zip"), kCustomerZips);
    EXPECT_EQ(access("Zip Codes", "Zip Code"), (Zips{"08873", "10001", "99501"}));
    // A numeric column gives the number's text form: the leading zero is gone.
    EXPECT_EQ(access("Customers", "ZipNum"), (Zips{"8873", "10001"}));
}

TEST_F(DatabaseSourceTest, AccessFailuresRaiseUnchanged) {
    EXPECT_NE(errorNumber([&] { access("Customers", "Nope"); }), 0);
    EXPECT_NE(errorNumber([&] { access("Nope", "Zip"); }), 0);
    EXPECT_NE(errorNumber([&] { access("Customers", "Zip", kData + "/missing.mdb"); }), 0);
}

TEST_F(DatabaseSourceTest, ExcelColumnsByZeroBasedPosition) {
    EXPECT_EQ(excel("Sheet1", "1"), kCustomerZips);
    EXPECT_EQ(excel("Other Sheet", "0"), (Zips{"08873", "10001", "99501"}));
    EXPECT_EQ(excel("Sheet1", "2"), (Zips{"8873", "10001"}));
    // The index is rounded half to even: 1.5 and 2.5 both read column 2.
    EXPECT_EQ(excel("Sheet1", "1.5"), (Zips{"8873", "10001"}));
    EXPECT_EQ(excel("Sheet1", "2.5"), (Zips{"8873", "10001"}));
    EXPECT_EQ(excel("Sheet1", " 0.5 ").front(), "Alice Adams");
}

TEST_F(DatabaseSourceTest, ExcelSourceReadsXlsxAndOdsThroughTheSameConnection) {
    for (const char* book : {"zips.xlsx", "zips-shared.xlsx", "zips.ods"}) {
        const std::string file = kData + "/" + book;
        EXPECT_EQ(excel("Sheet1", "1", file), kCustomerZips) << book;
        EXPECT_EQ(excel("Other Sheet", "0", file), (Zips{"08873", "10001", "99501"})) << book;
        // Numbers stored as numbers read as the text a user sees; the render restores zeros.
        EXPECT_EQ(excel("Numbers", "0", file), (Zips{"8873", "501", "99501", "10001"})) << book;
    }
}

TEST_F(DatabaseSourceTest, ExcelIndexErrors) {
    EXPECT_NE(errorNumber([&] { excel("Sheet1", "3"); }), 0);  // beyond the last column
    EXPECT_NE(errorNumber([&] { excel("Sheet1", "-1"); }), 0);
    EXPECT_EQ(errorNumber([&] { excel("Sheet1", "32768"); }), err::kOverflow);
    EXPECT_EQ(errorNumber([&] { excel("Sheet1", "-32769"); }), err::kOverflow);
    EXPECT_EQ(errorNumber([&] { excel("Sheet1", "two"); }), err::kTypeMismatch);
    EXPECT_NE(errorNumber([&] { excel("No Such Sheet", "0"); }), 0);
}

TEST_F(DatabaseSourceTest, SqlServerThroughTheBuildersConnectionString) {
    createSqlServerDatabase();
    // Null and blank values are skipped; values are trimmed; repeats dropped.
    EXPECT_EQ(sqlServer("Zips", "Zip"), (Zips{"08873", "10001", "99501"}));
    EXPECT_EQ(sqlServer("Zips", "ZipNum"), (Zips{"8873", "10001", "99501"}));
    EXPECT_EQ(sqlServer("Zip Codes", "Zip Code"), (Zips{"96813", "08232"}));
}

TEST_F(DatabaseSourceTest, NamesCannotBreakOutOfTheirBrackets) {
    createSqlServerDatabase();
    const std::string attack = "Zip] FROM [Zips]; DROP TABLE Victim; --";
    EXPECT_EQ(fieldQuery("Zips", attack),
              "SELECT [Zip]] FROM [Zips]]; DROP TABLE Victim; --] FROM [Zips]");
    EXPECT_EQ(errorNumber([&] { sqlServer("Zips", attack); }), err::kDatabase);
    EXPECT_EQ(errorNumber([&] { sqlServer("Zips]; DROP TABLE Victim; --", "Zip"); }),
              err::kDatabase);
    EXPECT_NE(errorNumber([&] { access("Customers", attack); }), 0);
    db::Connection connection;
    connection.open(sqlServer_);
    auto rows = connection.execute("SELECT COUNT(*) FROM Victim");
    ASSERT_FALSE(rows.eof());
    EXPECT_EQ(rows.field(0).toInt32(), 1);
}

TEST_F(DatabaseSourceTest, ErrorsOfTheConnectionPassUpWithTheDriversNumber) {
    BatchSource source;
    source.sqlServer = true;
    source.connString = "Driver={No Such Driver}; Server=x;";
    source.tableName = "t";
    source.fieldName = "f";
    try {
        ReadBatchData(source, {});
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::kDatabase);
        EXPECT_FALSE(e.description().empty());
    }
}

// The styles' rows: the code with a category and a value column, from each database source.
// A code of several rows counts them and sums their values.
TEST_F(DatabaseSourceTest, StyleRowsFromAccessExcelAndSqlServer) {
    const auto check = [](const render::RowTable& rows, const std::string& what) {
        SCOPED_TRACE(what);
        ASSERT_EQ(rows.codes(), kCustomerZips);
        const render::CodeRows& first = rows.entries()[0];
        EXPECT_EQ(first.rows, 2u);
        EXPECT_EQ(first.valued, 2u);
        EXPECT_DOUBLE_EQ(first.sum, 2 * 8873.0);
        EXPECT_EQ(first.category, "Alice Adams");
        EXPECT_EQ(rows.entries()[1].valued, 0u);  // Null values count rows only
        EXPECT_DOUBLE_EQ(rows.entries()[2].sum, 10001);
        EXPECT_EQ(rows.rowCount(), 6u);  // the blank and the Null code are skipped
    };
    BatchSource access;
    access.access = true;
    access.accessPath = kData + "/zips.mdb";
    access.tableName = "Customers";
    access.fieldName = "Zip";
    access.categoryField = "Name";
    access.valueField = "ZipNum";
    check(ReadBatchRows(access, {}, false), "access");
    // Kept apart by category, the two rows of 08873 are two entries.
    EXPECT_EQ(ReadBatchRows(access, {}, true).entries().size(), 6u);

    BatchSource excel;
    excel.excel = true;
    excel.excelPath = kData + "/zips.xls";
    excel.tableName = "Sheet1";
    excel.fieldName = "1";
    excel.categoryField = "0";
    excel.valueField = "2";
    check(ReadBatchRows(excel, {}, false), "excel");
    excel.valueField = "two";
    EXPECT_EQ(errorNumber([&] { ReadBatchRows(excel, {}, false); }), err::kTypeMismatch);

    createSqlServerDatabase();
    BatchSource sql;
    sql.sqlServer = true;
    sql.connString = sqlServer_;
    sql.tableName = "Sales";
    sql.fieldName = "Zip";
    sql.categoryField = "Segment";
    sql.valueField = "Revenue";
    const render::RowTable sales = ReadBatchRows(sql, {}, false);
    ASSERT_EQ(sales.codes(), (Zips{"08873", "10001"}));
    EXPECT_EQ(sales.entries()[0].rows, 3u);
    EXPECT_DOUBLE_EQ(sales.entries()[0].sum, 1350.5);  // text "$1,200.50" read as a number
    EXPECT_EQ(sales.entries()[1].category, "Office");
    // Only the code column: the plain query's text, also for a style.
    sql.categoryField.clear();
    sql.valueField.clear();
    EXPECT_EQ(ReadBatchRows(sql, {}, false).rowCount(), 4u);
    // Names stay inside their brackets here too.
    sql.categoryField = "Segment] FROM [Sales]; DROP TABLE Victim; --";
    EXPECT_EQ(errorNumber([&] { ReadBatchRows(sql, {}, false); }), err::kDatabase);
    sql.categoryField = "Nope";
    EXPECT_EQ(errorNumber([&] { ReadBatchRows(sql, {}, false); }), err::kDatabase);
    db::Connection connection;
    connection.open(sqlServer_);
    auto rows = connection.execute("SELECT COUNT(*) FROM Victim");
    ASSERT_FALSE(rows.eof());
    EXPECT_EQ(rows.field(0).toInt32(), 1);
}

TEST(BatchSql, ConnectionStringsAndQueriesAreTheFixedTexts) {
    EXPECT_EQ(accessConnectionString("/d/zips.mdb"),
              "Driver={Microsoft Access Driver (*.mdb)}; DBQ=/d/zips.mdb");
    EXPECT_EQ(excelConnectionString("/d/z.xls"),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/z.xls;Extended "
              "Properties=\"Excel 8.0;\"");
    EXPECT_EQ(fieldQuery("Zip Codes", " Zip "), "SELECT [ Zip ] FROM [Zip Codes]");
    EXPECT_EQ(sheetQuery("Other Sheet"), "SELECT * FROM [Other Sheet$]");
    EXPECT_EQ(sheetQuery("a]b"), "SELECT * FROM [a]]b$]");
    EXPECT_EQ(bracketName("]]"), "[]]]]]");
}

}  // namespace
}  // namespace zembra::client
