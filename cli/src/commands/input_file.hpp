// Opening the input a list is read from ("-": standard input).
#pragma once

#include <memory>
#include <string>
#include <zembra/render/csv.hpp>
#include <zembra/render/records.hpp>

#include "commands/commands.hpp"

namespace zembra::cli {

// A reader of the file, or of standard input for "-". A workbook (.xls, .xlsx, .ods, known
// by its content) is read from its sheet `sheet` (empty: the first); any other input as CSV
// text taking CR, LF and CRLF line ends, where separator 0 picks comma, semicolon, tab or
// pipe from the first line. Raises zembra::Error 53 for a missing file, 76 for a missing
// folder, 70 for one that may not be read; UsageError for a sheet named for a text input.
std::unique_ptr<render::RecordSource> openInput(const std::string& path, const Io& io,
                                                char separator = ',',
                                                const std::string& sheet = {});

// The separator --separator names ("comma", "semicolon", "tab", "pipe" or one character);
// 0 for an empty name (detect). Raises UsageError for anything else.
char separatorForName(const std::string& name);

}  // namespace zembra::cli
