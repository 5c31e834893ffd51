// Readers of zip-code lists: one code per line, or one column of a CSV input chosen by
// its header; both keep each code once, in order of first appearance.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>
#include <zembra/render/csv.hpp>

namespace zembra::cli {

// Codes without repeats, in order of first appearance.
class CodeList {
  public:
    void add(std::string code);
    const std::vector<std::string>& items() const noexcept { return items_; }
    std::vector<std::string> take() { return std::move(items_); }
    size_t repeats() const noexcept { return repeats_; }

  private:
    std::vector<std::string> items_;
    std::unordered_set<std::string> seen_;
    size_t repeats_ = 0;
};

// One zip code per line. Blanks around a code are dropped and blank lines skipped.
// Raises UsageError when a line holds several fields, a tab or a semicolon (the input
// looks like a table: name the column with --column).
// A sheet, whose first row names its columns, needs the column named: UsageError.
void readZipLines(render::RecordSource& in, CodeList& codes);

// The values of the column named `column` (compared without regard to case and
// surrounding blanks) of a CSV input whose first record names the columns. Blanks around
// values are dropped and empty values skipped. Raises UsageError when the input is empty
// or has no such column (the message lists the columns it has).
void readZipColumn(render::RecordSource& in, std::string_view column, CodeList& codes);

// True when some code looks like a zip code that lost its leading zeros in a
// spreadsheet (digits only, fewer than five).
bool hasShortNumericCode(const std::vector<std::string>& codes);

}  // namespace zembra::cli
