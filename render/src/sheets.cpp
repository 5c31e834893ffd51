#include <sys/stat.h>
#include <unistd.h>

#include <zembra/dataaccess.hpp>
#include <zembra/render/sheets.hpp>
#include <zembra/runtime.hpp>

namespace zembra::render {

namespace {

// The description with the path (a descriptor's, for an upload) put as the input's name.
Error renamed(const Error& e, const std::string& path, const std::string& name) {
    std::string text = e.description();
    if (path == name) return e;
    for (size_t at = text.find(path); at != std::string::npos; at = text.find(path, at)) {
        text.replace(at, path.size(), name);
        at += name.size();
    }
    return Error(e.number(), e.source(), text);
}

std::string bracketedSheet(const std::string& sheet) {
    std::string out = "[";
    for (const char c : sheet) {
        out += c;
        if (c == ']') out += ']';
    }
    return out + "$]";
}

}  // namespace

bool isWorkbook(const std::filesystem::path& path) { return db::isWorkbookFile(path.string()); }

bool isWorkbookStream(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) return false;
    char head[8];
    const ssize_t got = ::pread(fd, head, sizeof head, at);
    return got > 0 && db::startsLikeWorkbook(std::string_view(head, size_t(got)));
}

std::vector<std::string> workbookSheets(const std::filesystem::path& path) {
    return db::workbookSheetNames(path.string());
}

SheetReader::SheetReader(const std::filesystem::path& path, const std::string& sheet,
                         std::string name)
    : name_(name.empty() ? path.string() : std::move(name)), sheet_(sheet) {
    const std::string file = path.string();
    try {
        if (sheet_.empty()) {
            const auto sheets = db::workbookSheetNames(file);
            if (sheets.empty()) {
                throw Error(err::kDatabase, "Zembra.Data.Excel",
                            "Workbook '" + file + "' has no sheets");
            }
            sheet_ = sheets.front();
        }
        db::Connection connection;
        connection.open(db::workbookConnectionString(file));
        db::Recordset rows = connection.execute("SELECT * FROM " + bracketedSheet(sheet_));
        const int32_t count = rows.fieldCount();
        std::vector<std::string> header;
        header.reserve(size_t(count));
        for (int32_t i = 0; i < count; ++i) header.push_back(rows.fieldName(i));
        records_.push_back(std::move(header));
        for (; !rows.eof(); rows.moveNext()) {
            std::vector<std::string> record;
            record.reserve(size_t(count));
            for (int32_t i = 0; i < count; ++i) {
                const Variant cell = rows.field(i);
                record.push_back(cell.isNull() ? std::string() : cell.toString());
            }
            records_.push_back(std::move(record));
        }
    } catch (const Error& e) {
        throw renamed(e, file, name_);
    }
}

bool SheetReader::next(std::vector<std::string>& fields) {
    if (next_ >= records_.size()) return false;
    fields = std::move(records_[next_++]);
    return true;
}

std::string SheetReader::position() const {
    return "sheet '" + sheet_ + "', row " + std::to_string(next_);
}

}  // namespace zembra::render
