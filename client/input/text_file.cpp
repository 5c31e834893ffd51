#include "text_file.hpp"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <zembra/render/csv.hpp>
#include <zembra/runtime.hpp>

namespace zembra::client {

render::CsvOptions csvOptions() {
    render::CsvOptions options;
    options.separator = 0;
    options.candidates = ",;\t";
    options.rule = render::SeparatorRule::FirstPresent;
    return options;
}

void requireRegularFile(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) {
        return;
    }
    throw Error(err::kPathFileAccess, kClientErrorSource,
                "Path/File access error: " + path + " is not a regular file");
}

std::optional<std::vector<std::string>> readCsvHeader(const std::string& path) {
    auto head = readCsvHead(path, 0);
    if (!head) return std::nullopt;
    return std::move(head->header);
}

std::optional<CsvHead> readCsvHead(const std::string& path, std::size_t records) {
    if (path.empty()) {
        throw Error::standard(err::kFileNotFound, kClientErrorSource, "(no file name)");
    }
    requireRegularFile(path);
    render::CsvReader reader(path, "Zembra", csvOptions());
    if (reader.atEnd()) return std::nullopt;
    CsvHead head;
    reader.next(head.header);
    std::vector<std::string> fields;
    try {
        while (head.records.size() < records && reader.next(fields)) {
            head.records.push_back(fields);
        }
    } catch (const Error&) {
        // A sample cut short still serves: the records read so far are kept.
    }
    return head;
}

namespace {

bool zipLikeName(std::string_view name) {
    std::string key;
    for (const char c : name) {
        if (c == ' ' || c == '_' || c == '-' || c == '"') continue;
        key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return key == "zip" || key == "zipcode" || key == "zip5" || key == "postalcode" ||
           key == "postcode" || key == "zippostalcode";
}

bool digits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "08873" or "08873-1234", blanks around it aside.
bool zipLikeValue(std::string_view value) {
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    if (value.size() == 5) return digits(value);
    return value.size() == 10 && value[5] == '-' && digits(value.substr(0, 5)) &&
           digits(value.substr(6));
}

bool zipLikeColumn(const CsvHead& head, std::size_t column) {
    bool any = false;
    for (const auto& record : head.records) {
        if (column >= record.size()) continue;
        const std::string& value = record[column];
        if (value.find_first_not_of(' ') == std::string::npos) continue;
        if (!zipLikeValue(value)) return false;
        any = true;
    }
    return any;
}

}  // namespace

int zipLikeField(const CsvHead& head) {
    for (std::size_t i = 0; i < head.header.size(); ++i) {
        if (zipLikeName(head.header[i])) return static_cast<int>(i);
    }
    for (std::size_t i = 0; i < head.header.size(); ++i) {
        if (zipLikeColumn(head, i)) return static_cast<int>(i);
    }
    return 0;
}

}  // namespace zembra::client
