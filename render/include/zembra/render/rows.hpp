// Rows of a list, not only its codes: beside the zip code, a category and a value read from
// columns chosen by name (or by position for a sheet). The thematic styles colour, size and
// shade by them. A code that occurs in several rows counts each row and sums their values,
// so that "revenue per customer row" adds up per zip code.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>
#include <zembra/render/csv.hpp>

namespace zembra::render {

// One code's rows (of one category, when the rows are kept apart by category).
struct CodeRows {
    std::string code;
    std::string category;  // empty when no category column was read
    size_t rows = 0;
    double sum = 0;     // of the values given; 0 without a value column
    size_t valued = 0;  // rows that gave a value
};

// The rows of a list gathered per code, in the order of the codes' first appearance.
class RowTable {
  public:
    // `byCategory`: a code's rows of different categories stay apart (one entry per code
    // and category), as the category style needs; otherwise every row of a code is one entry
    // and the category is that of its first row.
    explicit RowTable(bool byCategory = false) : byCategory_(byCategory) {}

    // Adds one row. A code without text (after trimming blanks) is skipped; a value of
    // nothing adds to the row count only.
    void add(std::string_view code, std::string_view category, std::optional<double> value);

    const std::vector<CodeRows>& entries() const noexcept { return entries_; }
    size_t rowCount() const noexcept { return rows_; }
    bool byCategory() const noexcept { return byCategory_; }
    // The distinct codes, in order of first appearance.
    std::vector<std::string> codes() const;

  private:
    bool byCategory_;
    std::vector<CodeRows> entries_;
    std::unordered_map<std::string, size_t> index_;
    size_t rows_ = 0;
};

// The columns to read: the code's always, the others when named.
struct RowColumns {
    std::string code;
    std::string category;  // empty: none
    std::string value;     // empty: none
};

// Where the named columns sit in a header.
struct ColumnPositions {
    size_t code = 0;
    std::optional<size_t> category;
    std::optional<size_t> value;
};

// The positions of the columns in `header`; nothing when one is missing, whose name then
// goes to `missing`.
std::optional<ColumnPositions> findColumns(const std::vector<std::string>& header,
                                           const RowColumns& columns, NameMatch match,
                                           std::string* missing = nullptr);

// Reads the records after the header. Records too short for the code's column are skipped;
// a missing category or value field reads as empty. Raises error 13 naming the input, the
// line and the column for a value that is not a number (see parseValue).
void readRows(RecordSource& in, const ColumnPositions& positions, const RowColumns& names,
              RowTable& table);

// A value cell as a number: blanks, sign, digits, decimal point, exponent, also with a
// leading "$" and thousands grouped by commas ("$1,234.50"). An empty cell is nothing.
// Raises error 13 for any other text.
std::optional<double> parseValue(std::string_view text);

// A column of a database query: by name, or by zero-based position (a sheet's columns).
using ColumnRef = std::variant<std::string, int>;

struct QueryColumns {
    ColumnRef code;
    std::optional<ColumnRef> category;
    std::optional<ColumnRef> value;
};

// "SELECT [code], [category], [value] FROM [table]" with the columns that are named, each
// name in square brackets with "]" doubled.
std::string rowsQuery(std::string_view table, const RowColumns& columns);

// Runs `query` on a connection to `connectionString` and adds its rows. A Null or blank code
// is skipped; a Null category is empty and a Null value nothing; numeric values are taken as
// they are, text values as parseValue reads them. Database errors propagate unchanged.
void readQueryRows(const std::string& connectionString, const std::string& query,
                   const QueryColumns& columns, RowTable& table);

}  // namespace zembra::render
