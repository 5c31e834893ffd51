#include "core/zip_input.hpp"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "core/csv.hpp"
#include "core/text.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

std::vector<std::string> readZipLines(std::istream& in, std::string_view source) {
    std::vector<std::string> codes;
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string_view code = trim(line);
        if (number == 1 && code.starts_with("\xEF\xBB\xBF")) code = trim(code.substr(3));
        if (code.empty()) continue;
        if (code.find_first_of(",;\t") != std::string_view::npos) {
            throw UsageError(std::string(source) + ", line " + std::to_string(number) + ": '" +
                             std::string(code) +
                             "' holds several fields; name the CSV column with --column");
        }
        codes.emplace_back(code);
    }
    return codes;
}

std::vector<std::string> readZipColumn(std::istream& in, std::string_view column,
                                       std::string_view source) {
    CsvReader reader(in);
    std::vector<std::string> fields;
    if (!reader.next(fields)) {
        throw UsageError(std::string(source) + " is empty: expected a header naming column '" +
                         std::string(column) + "'");
    }
    const auto wanted = trim(column);
    const auto found = std::find_if(fields.begin(), fields.end(), [&](const std::string& f) {
        return equalsIgnoreCase(trim(f), wanted);
    });
    if (found == fields.end()) {
        std::string names;
        for (const auto& f : fields) names += (names.empty() ? "" : ", ") + std::string(trim(f));
        throw UsageError(std::string(source) + " has no column '" + std::string(column) +
                         "'; its columns are: " + names);
    }
    const auto index = static_cast<size_t>(found - fields.begin());

    std::vector<std::string> codes;
    while (reader.next(fields)) {
        if (index >= fields.size()) continue;
        const auto value = trim(fields[index]);
        if (!value.empty()) codes.emplace_back(value);
    }
    return codes;
}

std::vector<std::string> distinctCodes(std::vector<std::string> codes, size_t& repeats) {
    std::unordered_set<std::string> seen;
    seen.reserve(codes.size());
    std::vector<std::string> out;
    out.reserve(codes.size());
    for (auto& code : codes) {
        if (seen.insert(code).second) out.push_back(std::move(code));
    }
    repeats = codes.size() - out.size();
    return out;
}

bool hasShortNumericCode(const std::vector<std::string>& codes) {
    return std::any_of(codes.begin(), codes.end(), [](const std::string& code) {
        return !code.empty() && code.size() < 5 &&
               std::all_of(code.begin(), code.end(),
                           [](unsigned char c) { return std::isdigit(c) != 0; });
    });
}

}  // namespace zembra::cli
