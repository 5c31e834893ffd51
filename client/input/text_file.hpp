// The client's CSV files, read through the one CSV reader of the render library.
#pragma once

#include <optional>
#include <string>
#include <vector>
#include <zembra/render/csv.hpp>

namespace zembra::client {

// Source of the errors the client raises itself (file errors, conversions).
inline constexpr const char* kClientErrorSource = "ZembraClient";

// How the client reads a CSV file: quoted fields, UTF-16, UTF-8 or the single-byte code
// page; commas separate fields unless the header line has none but a semicolon or a tab.
render::CsvOptions csvOptions();

// Raises 75 naming the path when something exists there that is not a regular file (a
// folder, a FIFO, a device): such a source could block a read forever or yield nothing
// sensible. A missing path passes, for the reader or driver to report as it does.
void requireRegularFile(const std::string& path);

// The header line of a CSV file as field names (UTF-8, quotes of quoted fields removed,
// blanks and empty names kept); std::nullopt when the file holds nothing at all. Raises
// the reader's file errors (53, 76, 70, 75) and 75 for a path that is not a regular file.
std::optional<std::vector<std::string>> readCsvHeader(const std::string& path);

}  // namespace zembra::client
