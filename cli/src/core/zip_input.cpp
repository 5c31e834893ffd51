#include "core/zip_input.hpp"

#include <algorithm>
#include <cctype>

#include "core/text.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

void CodeList::add(std::string code) {
    if (seen_.insert(code).second) {
        items_.push_back(std::move(code));
    } else {
        ++repeats_;
    }
}

void readZipLines(render::RecordSource& in, CodeList& codes) {
    std::vector<std::string> fields;
    if (in.headed()) {
        std::string names;
        if (in.next(fields)) {
            for (const auto& f : fields)
                names += (names.empty() ? "" : ", ") + std::string(trim(f));
        }
        throw UsageError(in.name() +
                         " is a workbook, whose first row names the columns: name the "
                         "codes' column with --column (its columns are: " +
                         names + ")");
    }
    while (in.next(fields)) {
        if (fields.empty()) continue;
        const std::string_view code = trim(fields.front());
        if (fields.size() > 1 || code.find_first_of(";\t") != std::string_view::npos) {
            throw UsageError(in.name() + ", " + in.position() +
                             ": it holds several fields; name the CSV column with --column");
        }
        if (!code.empty()) codes.add(std::string(code));
    }
}

void readZipColumn(render::RecordSource& in, std::string_view column, CodeList& codes) {
    std::vector<std::string> fields;
    if (!in.next(fields)) {
        throw UsageError(in.name() + " is empty: expected a header naming column '" +
                         std::string(column) + "'");
    }
    const auto index = render::findField(fields, column, render::NameMatch::IgnoreCase);
    if (!index) {
        std::string names;
        for (const auto& f : fields) names += (names.empty() ? "" : ", ") + std::string(trim(f));
        // (escaped where it is printed: a header may hold terminal escape sequences)
        throw UsageError(in.name() + " has no column '" + std::string(column) +
                         "'; its columns are: " + names);
    }
    while (in.next(fields)) {
        if (*index >= fields.size()) continue;
        const auto value = trim(fields[*index]);
        if (!value.empty()) codes.add(std::string(value));
    }
}

bool hasShortNumericCode(const std::vector<std::string>& codes) {
    return std::any_of(codes.begin(), codes.end(), [](const std::string& code) {
        return !code.empty() && code.size() < 5 &&
               std::all_of(code.begin(), code.end(),
                           [](unsigned char c) { return std::isdigit(c) != 0; });
    });
}

}  // namespace zembra::cli
