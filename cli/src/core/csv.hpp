// A reader of comma-separated records: fields may be quoted with double quotes, a quote
// inside a quoted field is written twice, and a quoted field may hold commas and line
// breaks. Lines end with LF or CR LF; a UTF-8 byte-order mark at the start is skipped.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace zembra::cli {

class CsvReader {
  public:
    explicit CsvReader(std::istream& in) : in_(in) {}

    // Reads the next record into `fields` (raw field texts, quotes removed). Returns
    // false at the end of input. A blank line is a record with one empty field.
    // Raises UsageError for a quoted field left open at the end of the input.
    bool next(std::vector<std::string>& fields);

    // The line number (from 1) on which the last record read began.
    size_t line() const noexcept { return recordLine_; }

  private:
    std::istream& in_;
    size_t nextLine_ = 1;
    size_t recordLine_ = 0;
    bool started_ = false;
};

// Splits one line of text into its fields by the same rules.
std::vector<std::string> splitCsvLine(const std::string& line);

}  // namespace zembra::cli
