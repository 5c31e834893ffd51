// The workbook provider: serves "SELECT * FROM [Sheet$]" over a workbook's sheets, Excel
// 97-2003 (.xls) ones read with FreeXL, .xlsx and .ods ones by zip_workbook.cpp. The first row
// names the columns; later rows are the data.
#include <freexl.h>

#include <optional>

#include "../backend.hpp"
#include "workbook.hpp"

namespace zembra::db::detail {

namespace {

struct WorkbookClose {
    void operator()(const void* handle) const noexcept { freexl_close(handle); }
};
using WorkbookPtr = std::unique_ptr<const void, WorkbookClose>;

std::string freexlError(int code) {
    switch (code) {
        case FREEXL_FILE_NOT_FOUND:
            return "the file does not exist or cannot be read";
        case FREEXL_INSUFFICIENT_MEMORY:
            return "out of memory";
        case FREEXL_INVALID_CFBF_HEADER:
        case FREEXL_CFBF_INVALID_SIGNATURE:
            return "the file is not an Excel 97-2003 workbook";
        case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
            return "the file holds no workbook stream";
        case FREEXL_INVALID_CHARACTER:
        case FREEXL_UNSUPPORTED_CHARSET:
            return "the workbook's text cannot be converted to UTF-8";
        case FREEXL_CRAFTED_FILE:
            return "the file is severely damaged";
        default:
            return "the workbook is damaged or unreadable (FreeXL error " + std::to_string(code) +
                   ")";
    }
}

// Parses "SELECT * FROM [name]" (keywords in any case, blanks between them free, an
// optional ';' at the end; "]]" inside the brackets stands for "]"). Returns the bracketed
// name, or nothing when the text has another form.
std::optional<std::string> parseSelectAll(std::string_view sql) {
    size_t pos = 0;
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    auto skipBlanks = [&] {
        while (pos < sql.size() && isBlank(sql[pos])) ++pos;
    };
    auto keyword = [&](std::string_view word) {
        skipBlanks();
        if (sql.size() - pos < word.size() ||
            !equalsIgnoreCase(sql.substr(pos, word.size()), word)) {
            return false;
        }
        pos += word.size();
        return true;
    };
    if (!keyword("SELECT") || !keyword("*") || !keyword("FROM")) return std::nullopt;
    skipBlanks();
    if (pos >= sql.size() || sql[pos] != '[') return std::nullopt;
    ++pos;
    std::string name;
    bool closed = false;
    while (pos < sql.size()) {
        char c = sql[pos++];
        if (c == ']') {
            if (pos < sql.size() && sql[pos] == ']') {
                name += ']';
                ++pos;
                continue;
            }
            closed = true;
            break;
        }
        name += c;
    }
    if (!closed) return std::nullopt;
    skipBlanks();
    if (pos < sql.size() && sql[pos] == ';') ++pos;
    skipBlanks();
    if (pos != sql.size()) return std::nullopt;
    return name;
}

Variant cellValue(const FreeXL_CellValue& cell) {
    switch (cell.type) {
        case FREEXL_CELL_INT:
            return Variant(static_cast<int32_t>(cell.value.int_value));
        case FREEXL_CELL_DOUBLE:
            return Variant(cell.value.double_value);
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
            return Variant(std::string(cell.value.text_value ? cell.value.text_value : ""));
        default:  // FREEXL_CELL_NULL: a blank cell or none at all
            return Variant::null();
    }
}

// The rows of one sheet, read whole when the query runs (FreeXL keeps one active sheet
// per workbook handle, so cursors must not depend on it afterwards).
class SheetCursor final : public CursorImpl {
  public:
    SheetCursor(std::vector<std::string> names, std::vector<std::vector<Variant>> rows)
        : rows_(std::move(rows)) {
        names_ = std::move(names);
        start();
    }

  private:
    bool fetchRow(std::vector<Variant>& row) override {
        if (next_ >= rows_.size()) return false;
        row = std::move(rows_[next_++]);
        row.resize(names_.size(), Variant::null());
        return true;
    }

    std::vector<std::vector<Variant>> rows_;
    size_t next_ = 0;
};

// An Excel 97-2003 workbook through FreeXL.
class FreeXlWorkbook final : public Workbook {
  public:
    FreeXlWorkbook(std::string path, WorkbookPtr workbook)
        : path_(std::move(path)), workbook_(std::move(workbook)) {
        unsigned int count = 0;
        int rc = freexl_get_info(workbook_.get(), FREEXL_BIFF_SHEET_COUNT, &count);
        if (rc != FREEXL_OK) fail("cannot list the sheets", rc);
        for (unsigned int i = 0; i < count && i <= 0xFFFF; ++i) {
            const char* actual = nullptr;
            rc =
                freexl_get_worksheet_name(workbook_.get(), static_cast<unsigned short>(i), &actual);
            if (rc != FREEXL_OK) fail("cannot list the sheets", rc);
            names_.emplace_back(actual ? actual : "");
        }
    }

    const std::vector<std::string>& sheetNames() const override { return names_; }

    SheetGrid readSheet(size_t index) const override {
        int rc =
            freexl_select_active_worksheet(workbook_.get(), static_cast<unsigned short>(index));
        if (rc != FREEXL_OK) fail("cannot select sheet '" + names_.at(index) + "'", rc);
        unsigned int rowCount = 0;
        unsigned short columnCount = 0;
        rc = freexl_worksheet_dimensions(workbook_.get(), &rowCount, &columnCount);
        if (rc != FREEXL_OK) fail("cannot read the size of sheet '" + names_[index] + "'", rc);
        SheetGrid grid;
        grid.columns = columnCount;
        grid.rows.reserve(rowCount);
        for (unsigned int r = 0; r < rowCount; ++r) {
            std::vector<Variant> row;
            row.reserve(columnCount);
            for (unsigned short c = 0; c < columnCount; ++c) row.push_back(cell(r, c));
            grid.rows.push_back(std::move(row));
        }
        return grid;
    }

  private:
    [[noreturn]] void fail(const std::string& what, int code) const {
        raiseDatabase(kSourceExcel, "Workbook '" + path_ + "': " + what + ": " + freexlError(code));
    }

    Variant cell(unsigned int row, unsigned short column) const {
        FreeXL_CellValue value{};
        int rc = freexl_get_cell_value(workbook_.get(), row, column, &value);
        if (rc != FREEXL_OK) {
            fail("cannot read cell at row " + std::to_string(row + 1) + ", column " +
                     std::to_string(column + 1),
                 rc);
        }
        return cellValue(value);
    }

    std::string path_;
    WorkbookPtr workbook_;
    std::vector<std::string> names_;
};

class ExcelConnection final : public ConnectionImpl {
  public:
    ExcelConnection(std::string path, std::unique_ptr<Workbook> workbook, SqlTrace trace)
        : path_(std::move(path)), workbook_(std::move(workbook)), trace_(std::move(trace)) {}

    std::unique_ptr<CursorImpl> execute(std::string_view sql) override {
        trace_.write(sql);
        auto name = parseSelectAll(sql);
        if (!name) {
            raiseDatabase(
                kSourceExcel,
                "The workbook provider runs only SELECT * FROM [Sheet$]; it cannot run: " +
                    std::string(sql));
        }
        if (name->empty() || name->back() != '$') {
            raiseDatabase(kSourceExcel, "'" + *name +
                                            "' is not a sheet of the workbook: a sheet is "
                                            "written with a '$' after its name, as [Sheet1$]");
        }
        SheetGrid grid = workbook_->readSheet(sheetIndex(name->substr(0, name->size() - 1)));

        std::vector<std::string> names;
        std::vector<std::vector<Variant>> rows;
        if (!grid.rows.empty()) {
            // Header cells give the column names; an empty one is named F<n> (1-based).
            std::vector<Variant>& header = grid.rows.front();
            for (size_t c = 0; c < grid.columns; ++c) {
                std::string text;
                if (c < header.size() && !header[c].isNull()) text = header[c].toString();
                names.push_back(text.empty() ? std::string("F").append(std::to_string(c + 1))
                                             : text);
            }
            rows.reserve(grid.rows.size() - 1);
            for (size_t r = 1; r < grid.rows.size(); ++r) rows.push_back(std::move(grid.rows[r]));
        }
        return std::make_unique<SheetCursor>(std::move(names), std::move(rows));
    }

  private:
    // The sheet of that name, compared ignoring case.
    size_t sheetIndex(const std::string& sheet) const {
        const auto& names = workbook_->sheetNames();
        for (size_t i = 0; i < names.size(); ++i) {
            if (equalsIgnoreCase(names[i], sheet)) return i;
        }
        raiseDatabase(kSourceExcel, "Workbook '" + path_ + "' has no sheet named '" + sheet + "'");
    }

    std::string path_;
    std::unique_ptr<Workbook> workbook_;
    SqlTrace trace_;
};

}  // namespace

namespace {

std::unique_ptr<Workbook> openWorkbook(const std::string& workbookPath) {
    // A zip archive is read as .xlsx or .ods, whose reader says what else it may be.
    if (startsAsZip(workbookPath)) return openZipWorkbook(workbookPath);
    // Anything else goes to FreeXL, whose reasons name what is wrong with the file.
    const void* raw = nullptr;
    int rc = freexl_open(workbookPath.c_str(), &raw);
    WorkbookPtr workbook(raw);
    if (rc != FREEXL_OK) {
        std::string text = "Cannot open workbook '" + workbookPath + "': " + freexlError(rc);
        if (auto file = describeUnusableFile(workbookPath, "workbook")) text = *file + " " + text;
        raiseDatabase(kSourceExcel, std::move(text));
    }
    return std::make_unique<FreeXlWorkbook>(workbookPath, std::move(workbook));
}

}  // namespace

std::shared_ptr<ConnectionImpl> openExcel(const std::string& workbookPath, SqlTrace trace) {
    return std::make_shared<ExcelConnection>(workbookPath, openWorkbook(workbookPath),
                                             std::move(trace));
}

std::vector<std::string> excelSheetNames(const std::string& workbookPath) {
    return openWorkbook(workbookPath)->sheetNames();
}

}  // namespace zembra::db::detail

namespace zembra::db {

bool isWorkbookFile(const std::string& path) {
    // Any zip archive counts: a damaged or foreign one is then refused with its reason
    // rather than read as text.
    return detail::startsAsZip(path) ||
           detail::sniffWorkbook(path) != detail::WorkbookFormat::Unknown;
}

bool startsLikeWorkbook(std::string_view head) {
    return detail::headKind(head) != detail::HeadKind::Other;
}

std::string workbookConnectionString(const std::string& path) {
    std::string quoted;
    for (const char c : path) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"" + quoted +
           "\";Extended Properties=\"Excel 8.0;\"";
}

std::vector<std::string> workbookSheetNames(const std::string& path) {
    return detail::excelSheetNames(path);
}

}  // namespace zembra::db
