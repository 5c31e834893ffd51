// Readers of zip-code lists: one code per line, or one column of a CSV file chosen by
// its header; and the clean-up that makes the list handed to the engine.
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace zembra::cli {

// One zip code per line. Blanks around a code are dropped and blank lines skipped.
// `source` names the input in messages. Raises UsageError when a line holds a comma,
// tab or semicolon (the input looks like a table: name the column with --column).
std::vector<std::string> readZipLines(std::istream& in, std::string_view source);

// The values of the column named `column` (compared without regard to case and
// surrounding blanks) of a CSV input whose first record names the columns. Blanks around
// values are dropped and empty values skipped. Raises UsageError when the input is empty
// or has no such column (the message lists the columns it has).
std::vector<std::string> readZipColumn(std::istream& in, std::string_view column,
                                       std::string_view source);

// The list without repeats, first occurrences kept in order; `repeats` receives how
// many entries were dropped.
std::vector<std::string> distinctCodes(std::vector<std::string> codes, size_t& repeats);

// True when some code looks like a zip code that lost its leading zeros in a
// spreadsheet (digits only, fewer than five).
bool hasShortNumericCode(const std::vector<std::string>& codes);

}  // namespace zembra::cli
