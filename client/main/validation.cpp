#include "main/validation.hpp"

#include <system_error>
#include <zembra/runtime.hpp>

#include "input/main_module.hpp"
#include "main/render_logic.hpp"
#include "picture_formats.hpp"

namespace zembra::client {

namespace {

bool blank(std::string_view text) { return trimText(text).empty(); }

Refusal warning(std::string_view message, Control focus, int page = -1) {
    return {message, focus, false, page};
}

Refusal notice(std::string_view message, Control focus) { return {message, focus, true, 1}; }

std::optional<Refusal> checkBatch(const ValidationInput& in) {
    switch (in.source) {
        case 0:  // MS Access
            if (blank(in.accessPath))
                return notice("Please specify file name.", Control::txtAccessPath);
            if (blank(in.tableName))
                return notice("Please enter Table Name.", Control::txtTableName);
            if (blank(in.fieldName))
                return notice("Please enter Field Name.", Control::txtFieldName);
            break;
        case 1:  // MS Excel
            if (blank(in.excelPath))
                return notice("Please specify file name.", Control::txtExcelPath);
            if (blank(in.tableName))
                return notice("Please enter Sheet Name.", Control::txtTableName);
            if (blank(in.fieldName))
                return notice("Please enter Field Index.", Control::txtFieldName);
            // The numeric test takes the untrimmed text.
            if (!isNumericText(in.fieldName)) {
                return notice("The Field Index must be numeric.", Control::txtFieldName);
            }
            break;
        case 2:  // MS SQL Server
            if (blank(in.connString)) {
                return notice("Please specify Connection String.", Control::txtConnString);
            }
            if (blank(in.tableName))
                return notice("Please enter Table Name.", Control::txtTableName);
            if (blank(in.fieldName))
                return notice("Please enter Field Name.", Control::txtFieldName);
            break;
        case 3:  // CSV File
            if (blank(in.csvPath)) return notice("Please specify file name.", Control::txtCSVPath);
            if (blank(in.csvField))
                return notice("Please select a Field Name.", Control::cboFieldName);
            break;
        default:
            break;
    }
    return std::nullopt;
}

}  // namespace

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code ec;
    const bool same = std::filesystem::equivalent(a, b, ec);
    return !ec && same;
}

std::optional<Refusal> validateInput(const ValidationInput& in) {
    if (in.mapName.empty()) return warning("Map image was not specified.", Control::cbMap);
    if (in.overlayName.empty()) {
        return warning("Overlay image was not specified.", Control::cbOverlay);
    }
    const std::string output(trimText(in.output));
    if (output.empty()) return warning("Output file was not specified", Control::txtFile);
    const std::string folder = parentFolderName(output);
    std::error_code ec;
    if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
        return warning("Output file directory does not exist.", Control::txtFile);
    }
    // The extension must be a format's name as written in the format table (not one of its
    // other extensions), in any case.
    const std::string extension = lowerAscii(extensionName(output));
    if (imaging::formatForName(extension) == nullptr) {
        return warning("Output file extension is not valid", Control::txtFile);
    }

    if (in.page == 0) {
        if (in.manualRows == 0) return warning("Please enter data to plot.", Control::lstData, 0);
    } else if (in.page == 1) {
        if (auto refusal = checkBatch(in)) return refusal;
    }

    if (sameFile(output, in.mapFile) || sameFile(output, in.overlayFile)) {
        return warning(kOutputIsPictureMessage, Control::txtFile);
    }
    return std::nullopt;
}

}  // namespace zembra::client
