// What every list reader gives: records of text fields (UTF-8), one after the other. CSV
// text (CsvReader) and workbook sheets (SheetReader) are both read through it, so that the
// code lists, the thematic rows and the point files take either.
#pragma once

#include <string>
#include <vector>

namespace zembra::render {

class RecordSource {
  public:
    virtual ~RecordSource() = default;
    // Reads the next record's fields and returns true; false at the end.
    virtual bool next(std::vector<std::string>& fields) = 0;
    // Where the last record read began, for messages: "line 3" of a text, "row 3" of a sheet.
    virtual std::string position() const = 0;
    // The input in messages: its path, "standard input", "the upload".
    virtual const std::string& name() const = 0;
    // True when the first record always names the columns, as a sheet's first row does.
    virtual bool headed() const { return false; }
};

}  // namespace zembra::render
