#include "commands/input_file.hpp"

#include <zembra/render/sheets.hpp>
#include <zembra/text.hpp>

#include "core/usage_error.hpp"

namespace zembra::cli {

std::unique_ptr<render::RecordSource> openInput(const std::string& path, const Io& io,
                                                char separator, const std::string& sheet) {
    if (path != "-" && render::isWorkbook(path)) {
        return std::make_unique<render::SheetReader>(std::filesystem::path(path), sheet);
    }
    if (path == "-" && render::isWorkbookStream(io.inFd)) {
        // A workbook redirected from a file (`< list.xlsx`) is read through the descriptor.
        return std::make_unique<render::SheetReader>(
            std::filesystem::path("/proc/self/fd/" + std::to_string(io.inFd)), sheet,
            "standard input");
    }
    if (!sheet.empty()) {
        throw UsageError("--sheet names a sheet of a workbook (.xls, .xlsx, .ods): " +
                         (path == "-" ? std::string("standard input") : path) + " is none");
    }
    render::CsvOptions options;
    options.separator = separator;
    options.crLineEnds = true;
    options.refuseWorkbooks = true;
    if (path == "-") {
        return std::make_unique<render::CsvReader>(io.inFd, "standard input", "Zembra", options);
    }
    return std::make_unique<render::CsvReader>(std::filesystem::path(path), "Zembra", options);
}

char separatorForName(const std::string& name) {
    if (name.empty()) return 0;
    if (equalsIgnoreCase(name, "comma")) return ',';
    if (equalsIgnoreCase(name, "semicolon")) return ';';
    if (equalsIgnoreCase(name, "tab") || name == "\\t") return '\t';
    if (equalsIgnoreCase(name, "pipe")) return '|';
    if (name.size() == 1 && name[0] != '"' && name[0] != '\n' && name[0] != '\r') return name[0];
    throw UsageError("--separator " + name +
                     ": give comma, semicolon, tab, pipe or one character other than a quote");
}

}  // namespace zembra::cli
