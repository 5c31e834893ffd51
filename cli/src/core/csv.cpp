#include "core/csv.hpp"

#include <sstream>
#include <string_view>

#include "core/usage_error.hpp"

namespace zembra::cli {

bool CsvReader::next(std::vector<std::string>& fields) {
    fields.clear();
    int c = in_.get();
    if (c == std::char_traits<char>::eof()) return false;
    recordLine_ = nextLine_;

    std::string field;
    bool quoted = false;  // inside a quoted section
    for (;; c = in_.get()) {
        if (c == std::char_traits<char>::eof()) {
            if (quoted) {
                throw UsageError("line " + std::to_string(recordLine_) +
                                 ": a quoted field is not closed before the end of the input");
            }
            break;
        }
        const char ch = static_cast<char>(c);
        if (quoted) {
            if (ch == '"') {
                if (in_.peek() == '"') {
                    in_.get();
                    field += '"';
                } else {
                    quoted = false;
                }
            } else {
                if (ch == '\n') ++nextLine_;
                field += ch;
            }
            continue;
        }
        if (ch == '"') {
            quoted = true;
        } else if (ch == ',') {
            fields.push_back(std::move(field));
            field.clear();
        } else if (ch == '\n') {
            ++nextLine_;
            break;
        } else if (ch == '\r' && in_.peek() == '\n') {
            // CR LF: the LF ends the record on the next turn.
        } else {
            field += ch;
        }
    }
    fields.push_back(std::move(field));
    if (!started_) {
        started_ = true;
        // Spreadsheet programs often save UTF-8 with a byte-order mark.
        static constexpr std::string_view kBom = "\xEF\xBB\xBF";
        if (fields.front().starts_with(kBom)) fields.front().erase(0, kBom.size());
    }
    return true;
}

std::vector<std::string> splitCsvLine(const std::string& line) {
    std::istringstream in(line);
    CsvReader reader(in);
    std::vector<std::string> fields;
    if (!reader.next(fields)) fields.assign(1, std::string());
    return fields;
}

}  // namespace zembra::cli
