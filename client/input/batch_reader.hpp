// Reading the zip codes of a batch source: a CSV file, an Access table, a SQL Server
// table or an Excel sheet, as chosen on the main window's batch page.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/render/rows.hpp>
#include <zembra/runtime.hpp>

namespace zembra::client {

// Distinct zip codes in the order of their first appearance, with hashed lookup.
// Comparison is exact and case-sensitive.
//
// The index is an open-addressing table whose slots hold the hash and, for codes of up
// to 19 bytes, the code itself, so a lookup of a zip code touches one cache line.
class ZipSet {
  public:
    // Adds the code unless it is present; returns true when it was added.
    bool add(std::string_view zip);
    bool contains(std::string_view zip) const;
    std::size_t size() const noexcept { return items_.size(); }
    bool empty() const noexcept { return items_.empty(); }
    const std::string& operator[](std::size_t i) const { return items_[i]; }
    auto begin() const noexcept { return items_.cbegin(); }
    auto end() const noexcept { return items_.cend(); }
    // The codes in order.
    const std::vector<std::string>& items() const& noexcept { return items_; }
    std::vector<std::string> items() && noexcept { return std::move(items_); }

  private:
    static constexpr std::size_t kInline = 19;
    static constexpr uint8_t kLong = 0xFF;  // length marker of a code kept only in items_
    struct Slot {
        uint64_t hash = 0;
        uint32_t item = 0;   // 1 + position in items_; 0 marks an empty slot
        uint8_t length = 0;  // the code's length, or kLong
        std::array<char, kInline> bytes{};
    };
    static_assert(sizeof(Slot) == 32);

    // The slot holding `zip`, or the empty slot where it would go.
    std::size_t find(std::string_view zip, uint64_t hash) const noexcept;
    void grow();

    std::vector<std::string> items_;
    std::vector<Slot> slots_;  // a power of two in size, at most half full
};

// The batch page's values that the reader needs, texts as typed (UTF-8).
struct BatchSource {
    // The option buttons "MS Access" (0), "MS Excel" (1), "MS SQL Server" (2); when none
    // is set the CSV file is read. Tested in this order.
    bool access = false;
    bool excel = false;
    bool sqlServer = false;
    std::string accessPath;    // txtAccessPath
    std::string excelPath;     // txtExcelPath
    std::string csvPath;       // txtCSVPath
    std::string connString;    // txtConnString
    std::string tableName;     // txtTableName (the sheet name for Excel)
    std::string fieldName;     // txtFieldName (the column index for Excel)
    std::string csvFieldName;  // text of cboFieldName
    // The columns the thematic styles read beside the code's, empty when not wanted: header
    // names for a CSV file, field names for Access and SQL Server, zero-based column indexes
    // (as text) for Excel.
    std::string categoryField;
    std::string valueField;
};

// Shows the reader's one message to the operator (a notice with the window's caption).
using NoticeFn = std::function<void(const std::string& message)>;

inline constexpr const char* kFieldNotFoundMessage =
    "Selected field could not be found in the file.";

// Reads the chosen source and returns its distinct zip codes, each trimmed of spaces, in
// the order of first appearance. A CSV file is read by render::CsvReader (quoted fields,
// UTF-8 when the file is valid UTF-8, otherwise Windows-1252, values always come out as
// UTF-8); a blank CSV field adds "" once, a blank or Null database
// value is skipped. When the chosen CSV field is not in the header line, `notice` gets
// kFieldNotFoundMessage and the result is empty.
// Raises: the CSV reader's file errors (53, 76, 70, 75; 75 also for a path that is not
// a regular file); the database layer's errors
// unchanged (connection, query, unknown field 3265, column position out of range); for
// Excel 13 when the column index is not a number and 6 when it is outside -32768..32767.
// With `csvSeparator`, a CSV source's field separator is stored there (0 for the others).
ZipSet ReadBatchData(const BatchSource& source, const NoticeFn& notice,
                     char* csvSeparator = nullptr);

// Reads the chosen source's rows for the thematic styles: every row's code with its
// category and value (the columns of source.categoryField and source.valueField), so that
// a code of several rows counts them and sums their values. `byCategory` keeps a code's
// rows of different categories apart. Access and SQL Server run
// "SELECT [code], [category], [value] FROM [table]" with the columns named (the plain
// query without extra columns); Excel reads its sheet by column index. A blank or Null
// code is skipped, a blank value is none. When the chosen CSV code field is not in the
// header line, `notice` gets kFieldNotFoundMessage and the result is empty; a missing
// category or value column raises 5 naming it. Otherwise raises as ReadBatchData does, and
// 13 naming the row for a value that is not a number.
render::RowTable ReadBatchRows(const BatchSource& source, const NoticeFn& notice, bool byCategory);

// The name between square brackets with every "]" doubled, so that a name cannot end
// the bracket early and smuggle SQL text into the query.
std::string bracketName(std::string_view name);

// "Driver={Microsoft Access Driver (*.mdb)}; DBQ=<path>"
std::string accessConnectionString(std::string_view path);
// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<path>;Extended Properties="Excel 8.0;""
std::string excelConnectionString(std::string_view path);
// "SELECT [<field>] FROM [<table>]"
std::string fieldQuery(std::string_view table, std::string_view field);
// "SELECT * FROM [<sheet>$]"
std::string sheetQuery(std::string_view sheet);

}  // namespace zembra::client
