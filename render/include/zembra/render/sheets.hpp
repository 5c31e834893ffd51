// Workbook sheets (.xls, .xlsx, .ods) as lists: read through the data-access layer's Excel
// provider, with the connection string and query it takes for any workbook, and handed on as
// records of text like a CSV file's. The first row names the columns.
#pragma once

#include <filesystem>
#include <string>
#include <vector>
#include <zembra/render/records.hpp>

namespace zembra::render {

// True when the file's content is a workbook, whatever its name; false for text files.
bool isWorkbook(const std::filesystem::path& path);
// True when `fd` is a regular file whose bytes from its current offset start as a workbook
// does (standard input redirected from one); the offset is left where it was. A pipe cannot
// be peeked at, so it gives false: its text reader refuses a workbook itself.
bool isWorkbookStream(int fd);

// A workbook's sheet names in its order. Raises the data-access layer's error.
std::vector<std::string> workbookSheets(const std::filesystem::path& path);

class SheetReader final : public RecordSource {
  public:
    // Reads the sheet named `sheet` (compared ignoring case; empty: the first) of the
    // workbook at `path`. `name` stands for the path in messages (empty: the path itself).
    // Raises the data-access layer's error for an unreadable workbook or an unknown sheet.
    SheetReader(const std::filesystem::path& path, const std::string& sheet, std::string name = {});

    // Cells as the text a user sees: whole numbers without a decimal point ("8873"),
    // dates as "2024-01-15", empty cells as "".
    bool next(std::vector<std::string>& fields) override;
    std::string position() const override;
    const std::string& name() const override { return name_; }
    bool headed() const override { return true; }
    const std::string& sheet() const { return sheet_; }

  private:
    std::string name_;
    std::string sheet_;
    std::vector<std::vector<std::string>> records_;
    size_t next_ = 0;
};

}  // namespace zembra::render
