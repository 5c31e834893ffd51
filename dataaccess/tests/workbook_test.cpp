// .xlsx and .ods workbooks through the Excel provider's connection string and query, and the
// zip workbook reader's limits on archives made to exceed them.
#include "../src/excel/workbook.hpp"

#include <gtest/gtest.h>
#include <zip.h>

#include <string>
#include <utility>
#include <vector>

#include "test_env.hpp"

namespace zembra::test {
namespace {

using db::Connection;
using db::Recordset;
using Parts = std::vector<std::pair<std::string, std::string>>;

std::vector<std::vector<Variant>> allRows(const std::string& path, const std::string& sheet,
                                          std::vector<std::string>* names = nullptr) {
    Connection connection;
    connection.open(db::workbookConnectionString(path));
    Recordset rs = connection.execute("SELECT * FROM [" + sheet + "$]");
    if (names) {
        names->clear();
        for (int32_t i = 0; i < rs.fieldCount(); ++i) names->push_back(rs.fieldName(i));
    }
    std::vector<std::vector<Variant>> rows;
    for (; !rs.eof(); rs.moveNext()) {
        std::vector<Variant> row;
        for (int32_t i = 0; i < rs.fieldCount(); ++i) row.push_back(rs.field(i));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<Variant> column(const std::vector<std::vector<Variant>>& rows, size_t index) {
    std::vector<Variant> out;
    for (const auto& row : rows) out.push_back(row.at(index));
    return out;
}

// Writes a zip archive of the given parts (deflated).
void writeZip(const std::string& path, const Parts& parts) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    for (const auto& [name, text] : parts) {
        zip_source_t* source = zip_source_buffer(archive, text.data(), text.size(), 0);
        ASSERT_NE(source, nullptr);
        ASSERT_GE(zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE), 0);
    }
    ASSERT_EQ(zip_close(archive), 0);
}

constexpr const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// A one-sheet .xlsx whose sheet data and shared strings are given as XML.
Parts xlsxParts(const std::string& sheetData, const std::string& sharedStrings = {}) {
    std::string rels = std::string("<Relationships xmlns=\"") + kRel +
                       "\"><Relationship Id=\"rId1\" Type=\"" + kRel +
                       "/worksheet\" Target=\"worksheets/sheet1.xml\"/>";
    if (!sharedStrings.empty()) {
        rels += std::string("<Relationship Id=\"rId2\" Type=\"") + kRel +
                "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    }
    rels += "</Relationships>";
    Parts parts{
        {"[Content_Types].xml", "<Types/>"},
        {"xl/workbook.xml", std::string("<workbook xmlns=\"") + kMain + "\" xmlns:r=\"" + kRel +
                                "\"><sheets><sheet name=\"S\" sheetId=\"1\" "
                                "r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels", rels},
        {"xl/worksheets/sheet1.xml", std::string("<worksheet xmlns=\"") + kMain + "\"><sheetData>" +
                                         sheetData + "</sheetData></worksheet>"}};
    if (!sharedStrings.empty()) parts.emplace_back("xl/sharedStrings.xml", sharedStrings);
    return parts;
}

std::string openError(const std::string& path, const std::string& sheet = "S") {
    const auto e = errorOf([&] { allRows(path, sheet); });
    if (!e) return {};
    EXPECT_EQ(e->number(), err::kDatabase);
    EXPECT_EQ(e->source(), "Zembra.Data.Excel");
    EXPECT_NE(e->description().find(path), std::string::npos) << e->description();
    return e->description();
}

class Workbooks : public ::testing::TestWithParam<const char*> {};

TEST_P(Workbooks, ReadTheSameRowsAsTheXlsWorkbook) {
    const std::string path = fixture(GetParam()).string();
    EXPECT_TRUE(db::isWorkbookFile(path));
    EXPECT_EQ(db::workbookSheetNames(path),
              (std::vector<std::string>{"Sheet1", "Other Sheet", "Numbers"}));

    std::vector<std::string> names;
    const auto rows = allRows(path, "sheet1", &names);
    EXPECT_EQ(names, (std::vector<std::string>{"Name", "Zip", "ZipNum", "Joined"}));
    ASSERT_EQ(rows.size(), 8u);
    // The Zip texts, blanks and leading zeros kept, and both kinds of empty cell Null.
    EXPECT_EQ(column(rows, 1),
              (std::vector<Variant>{"08873", "08232", " 10001 ", "08873", Variant::null(),
                                    Variant::null(), "99501", "96813"}));
    // Numbers stored as numbers: whole ones are Int32, so that 8873 reads "8873".
    EXPECT_EQ(
        column(rows, 2),
        (std::vector<Variant>{int32_t{8873}, Variant::null(), int32_t{10001}, int32_t{8873},
                              Variant::null(), Variant::null(), Variant::null(), Variant::null()}));
    EXPECT_EQ(rows[0][2].toString(), "8873");
    EXPECT_EQ(rows[0][3], Variant("2024-01-15"));
    EXPECT_EQ(rows[1][3], Variant("2024-03-01 13:45:00"));
    EXPECT_EQ(rows[7][0], Variant("Jos\xc3\xa9 N\xc3\xba\xc3\xb1"
                                  "ez"));

    EXPECT_EQ(column(allRows(path, "Other Sheet"), 0),
              (std::vector<Variant>{"08873", "10001", "99501"}));
    const auto numbers = allRows(path, "Numbers");
    EXPECT_EQ(column(numbers, 0),
              (std::vector<Variant>{int32_t{8873}, int32_t{501}, int32_t{99501}, int32_t{10001}}));
    EXPECT_EQ(column(numbers, 1),
              (std::vector<Variant>{int32_t{2}, int32_t{1}, 3.5, Variant::null()}));

    EXPECT_NE(openError(path, "Nope").find("no sheet named 'Nope'"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Workbooks,
                         ::testing::Values("zips.xlsx", "zips-shared.xlsx", "zips.ods"));

TEST(WorkbookFormat, TheContentChoosesTheReaderNotTheName) {
    TempDir dir("workbook");
    const std::string xlsxAsXls = dir / "list.xls", xlsAsOds = dir / "list.ods",
                      odsAsXlsx = dir / "list.xlsx", csv = dir / "list.xlsx.csv";
    std::filesystem::copy_file(fixture("zips.xlsx"), xlsxAsXls);
    std::filesystem::copy_file(fixture("zips.xls"), xlsAsOds);
    std::filesystem::copy_file(fixture("zips.ods"), odsAsXlsx);
    writeText(csv, "Zip\n08873\n");
    for (const auto& path : {xlsxAsXls, xlsAsOds, odsAsXlsx}) {
        EXPECT_EQ(column(allRows(path, "Other Sheet"), 0),
                  (std::vector<Variant>{"08873", "10001", "99501"}))
            << path;
    }
    EXPECT_FALSE(db::isWorkbookFile(csv));
    EXPECT_FALSE(db::isWorkbookFile(dir / "missing.xlsx"));

    // A zip archive that is no spreadsheet, and a damaged one.
    const std::string plainZip = dir / "plain.xlsx", cut = dir / "cut.xlsx";
    writeZip(plainZip, {{"readme.txt", "hello"}});
    auto bytes = readBytes(fixture("zips.xlsx"));
    bytes.resize(bytes.size() / 2);
    writeBytes(cut, bytes);
    EXPECT_TRUE(db::isWorkbookFile(plainZip));
    EXPECT_TRUE(db::isWorkbookFile(cut));
    EXPECT_NE(openError(plainZip).find("no .xlsx or .ods spreadsheet"), std::string::npos);
    EXPECT_NE(openError(cut).find("cannot be read"), std::string::npos);
    // A name with a quote and a semicolon survives the connection string.
    const std::string odd = dir / "a \"b\"; c.xlsx";
    std::filesystem::copy_file(fixture("zips.xlsx"), odd);
    EXPECT_EQ(allRows(odd, "Other Sheet").size(), 3u);
}

TEST(WorkbookCells, InlineSharedRichAndOddCells) {
    TempDir dir("cells");
    const std::string path = dir / "cells.xlsx";
    writeZip(path,
             xlsxParts("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"C1\" t=\"inlineStr\">"
                       "<is><r><t>Z</t></r><r><t>ip</t></r></is></c></row>"
                       "<row r=\"3\"><c t=\"s\"><v>1</v></c><c t=\"b\"><v>1</v></c>"
                       "<c t=\"str\"><v>=x</v></c><c><v>1e3</v></c><c><v>-0.25</v></c></row>",
                       std::string("<sst xmlns=\"") + kMain +
                           "\" uniqueCount=\"2\"><si><t>Name</t></si><si><r><t>An</t></r>"
                           "<r><t>n</t></r><rPh><t>reading</t></rPh></si></sst>"));
    std::vector<std::string> names;
    const auto rows = allRows(path, "S", &names);
    // Column B is empty in the header row: it is named F2. Row 2 holds nothing.
    EXPECT_EQ(names, (std::vector<std::string>{"Name", "F2", "Zip", "F4", "F5"}));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<Variant>(5, Variant::null())));
    EXPECT_EQ(rows[1], (std::vector<Variant>{"Ann", true, "=x", int32_t{1000}, -0.25}));

    // A reference past the shared strings is an error, not a read past the table.
    writeZip(path, xlsxParts("<row><c t=\"s\"><v>7</v></c></row>",
                             std::string("<sst xmlns=\"") + kMain + "\"><si><t>a</t></si></sst>"));
    EXPECT_NE(openError(path).find("shared string '7' of 1"), std::string::npos);
}

TEST(WorkbookLimits, CheckedBeforeTheWork) {
    TempDir dir("limits");
    const std::string path = dir / "big.xlsx";
    // Counts declared or implied beyond the limits are refused before anything is sized.
    writeZip(path, xlsxParts("<row><c t=\"s\"><v>0</v></c></row>",
                             std::string("<sst xmlns=\"") + kMain +
                                 "\" uniqueCount=\"3000000000\"><si><t>a</t></si></sst>"));
    EXPECT_NE(openError(path).find("more than 2000000 shared strings"), std::string::npos);
    writeZip(path, xlsxParts("<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>"));
    EXPECT_NE(openError(path).find("row 1 has more than 16384 cells"), std::string::npos);
    writeZip(path, xlsxParts("<row r=\"1048577\"><c r=\"A1048577\"><v>1</v></c></row>"));
    EXPECT_NE(openError(path).find("more than 1048576 rows"), std::string::npos);
    // A document type could declare entities that expand without end: none is accepted.
    writeZip(path, xlsxParts("<row><c t=\"s\"><v>0</v></c></row>",
                             "<!DOCTYPE sst [<!ENTITY a \"aaaaaaaa\">]><sst><si><t>&a;</t></si>"
                             "</sst>"));
    EXPECT_NE(openError(path).find("declares a DOCTYPE"), std::string::npos);

    // An .ods cell repeated across more columns than a row may hold.
    const std::string ods = dir / "wide.ods";
    writeZip(ods, {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                   {"content.xml",
                    "<d xmlns:t=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
                    "xmlns:o=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\"><t:table "
                    "t:name=\"S\"><t:table-row><t:table-cell t:number-columns-repeated="
                    "\"99999999999\" o:value-type=\"float\" o:value=\"1\"/></t:table-row>"
                    "</t:table></d>"}});
    EXPECT_NE(openError(ods).find("has more than 16384 cells"), std::string::npos);

    // The smaller limits through the reader itself: part size, compression ratio, cells.
    db::detail::WorkbookLimits limits;
    limits.maxPartBytes = 1000;
    const auto reason = [&](const std::string& file, size_t sheet = 0) -> std::string {
        const auto e =
            errorOf([&] { db::detail::openZipWorkbook(file, limits)->readSheet(sheet); });
        return e ? e->description() : std::string();
    };
    EXPECT_NE(reason(fixture("zips-shared.xlsx").string()).find("over the limit of 1000"),
              std::string::npos);
    limits = {};
    limits.maxRatio = 50;
    const std::string blanks = dir / "blanks.xlsx";
    writeZip(blanks, xlsxParts("<row><c><v>1</v></c></row>" + std::string(200000, ' ')));
    EXPECT_NE(reason(blanks).find("expands more than 50 times"), std::string::npos);
    limits = {};
    limits.maxCells = 10;
    EXPECT_NE(reason(fixture("zips.ods").string()).find("more than 10 cells"), std::string::npos);
    limits.maxCells = 40;  // Sheet1 is 9 rows of at most 4 cells
    EXPECT_EQ(
        db::detail::openZipWorkbook(fixture("zips.ods").string(), limits)->readSheet(0).rows.size(),
        9u);
    limits = {};
    limits.maxTextBytes = 20;
    EXPECT_NE(reason(fixture("zips-shared.xlsx").string()).find("more than 20 bytes of text"),
              std::string::npos);
}

TEST(WorkbookDates, SerialsAsCalendarText) {
    using db::detail::serialDateText;
    EXPECT_EQ(serialDateText(1, false, true, false), "1900-01-01");
    EXPECT_EQ(serialDateText(59, false, true, false), "1900-02-28");
    EXPECT_EQ(serialDateText(60, false, true, false), "1900-02-29");  // as the 1900 system counts
    EXPECT_EQ(serialDateText(61, false, true, false), "1900-03-01");
    EXPECT_EQ(serialDateText(45306, false, true, false), "2024-01-15");
    EXPECT_EQ(serialDateText(0, true, true, false), "1904-01-01");
    EXPECT_EQ(serialDateText(45306.75, false, true, true), "2024-01-15 18:00:00");
    EXPECT_EQ(serialDateText(0.9999999, false, false, true), "00:00:00");
    EXPECT_EQ(serialDateText(1.9999999, false, true, true), "1900-01-02 00:00:00");
    EXPECT_EQ(serialDateText(-1, false, true, false), "");
    EXPECT_EQ(serialDateText(3e6, false, true, false), "");
}

}  // namespace
}  // namespace zembra::test
