// The client's CSV files, read through the one CSV reader of the render library.
#pragma once

#include <cstddef>
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

// The header line and the first records of a CSV file, for choosing a field.
struct CsvHead {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> records;  // at most the number asked for
};

// Reads the header line as readCsvHeader does, then up to `records` records; a record
// that cannot be read ends the sample without an error, since the header is what counts.
std::optional<CsvHead> readCsvHead(const std::string& path, std::size_t records);

// The field to propose for the zip codes: the first whose name reads like a zip code's
// ("Zip", "ZipCode", "Zip Code", "Postal Code", "zip_code"), else the first whose sampled
// values are all five-digit codes (also ZIP+4, "08873-1234"; blank values aside, at least
// one given), else 0.
int zipLikeField(const CsvHead& head);

}  // namespace zembra::client
