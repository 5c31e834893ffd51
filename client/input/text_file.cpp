#include "text_file.hpp"

#include <filesystem>
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
    if (path.empty()) {
        throw Error::standard(err::kFileNotFound, kClientErrorSource, "(no file name)");
    }
    requireRegularFile(path);
    render::CsvReader reader(path, "Zembra", csvOptions());
    if (reader.atEnd()) return std::nullopt;
    std::vector<std::string> header;
    reader.next(header);
    return header;
}

}  // namespace zembra::client
