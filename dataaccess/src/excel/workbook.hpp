// The workbooks the Excel provider reads, whatever their format: a list of sheets, each read
// whole as a grid of cells. Excel 97-2003 files go to FreeXL; Office Open XML (.xlsx) and
// OpenDocument (.ods) spreadsheets, which are zip archives of XML parts, are read here with
// libzip and expat. The format is chosen from the file's first bytes, never from its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/runtime.hpp>

namespace zembra::db::detail {

// What a zip workbook may hold before it is refused; each is checked before the work or
// the memory it stands for is spent.
struct WorkbookLimits {
    uint64_t maxPartBytes = uint64_t{256} << 20;  // one XML part, uncompressed
    uint64_t maxRatio = 1000;                     // uncompressed : compressed, per part
    uint64_t maxEntries = 10000;                  // entries in the archive
    size_t maxSharedStrings = 2'000'000;          // strings in the shared-string table
    uint64_t maxTextBytes = uint64_t{256} << 20;  // text kept from all cells and strings
    size_t maxColumns = 16384;                    // cells per row
    size_t maxRows = 1'048'576;                   // rows per sheet
    size_t maxCells = 8'000'000;                  // cells per sheet, empty ones between included
};

// A sheet's cells, row by row; a row holds its cells up to its last non-empty one.
// Numbers stored as numbers are Int32 when whole and in range, else Double; dates and times
// are text ("2024-01-15", "2024-01-15 13:45:00", "13:45:00"); empty cells are Null.
struct SheetGrid {
    std::vector<std::vector<Variant>> rows;
    size_t columns = 0;  // the widest row's width
};

class Workbook {
  public:
    virtual ~Workbook();
    virtual const std::vector<std::string>& sheetNames() const = 0;
    virtual SheetGrid readSheet(size_t index) const = 0;
};

enum class WorkbookFormat { Unknown, Xls, Xlsx, Ods };

// The format shown by a file's content: the compound-file signature of .xls, or a zip
// archive whose `mimetype` or `[Content_Types].xml` names an OpenDocument or Open XML
// spreadsheet. Unknown for anything else, unreadable files included.
WorkbookFormat sniffWorkbook(const std::string& path);

// What a file's first bytes show: the compound-file signature of .xls, a zip archive's
// (.xlsx, .ods or any other), or neither.
enum class HeadKind { Other, Compound, Zip };
HeadKind headKind(std::string_view head);

// True when the file starts as a zip archive does, whatever it holds.
bool startsAsZip(const std::string& path);

// Opens a zip workbook; raises err::kDatabase (source Zembra.Data.Excel) naming `name` when
// the archive is damaged, is no spreadsheet, or exceeds a limit.
std::unique_ptr<Workbook> openZipWorkbook(const std::string& path,
                                          const WorkbookLimits& limits = {});
// The same over bytes in memory, which must outlive the workbook.
std::unique_ptr<Workbook> openZipWorkbook(std::span<const uint8_t> bytes, const std::string& name,
                                          const WorkbookLimits& limits = {});

// "yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss" or "hh:mm:ss" for a spreadsheet date serial (days since
// 1899-12-30, or since 1904-01-01 for workbooks on the 1904 system); empty outside years
// 1900..9999.
std::string serialDateText(double serial, bool date1904, bool withDate, bool withTime);

}  // namespace zembra::db::detail
