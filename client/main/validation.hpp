// The checks of the main window's ValidateData, free of Qt: the window gathers its
// texts into a ValidationInput, and shows the refusal this returns (message, style,
// page, focus). Nothing here touches a file beyond looking at it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zembra::client {

// The controls a refusal sends the focus to.
enum class Control {
    cbMap,
    cbOverlay,
    txtFile,
    lstData,
    txtAccessPath,
    txtExcelPath,
    txtConnString,
    txtCSVPath,
    txtTableName,
    txtFieldName,
    cboFieldName,
};

struct Refusal {
    std::string_view message;
    Control focus = Control::cbMap;
    // The notice style (information icon, the window's caption as title) for the batch
    // fields; otherwise the warning style (exclamation icon, the program's title).
    bool notice = false;
    int page = -1;  // the page of the tab control to select first; -1: none
};

// Everything the checks read, texts as the controls hold them (UTF-8, untrimmed).
struct ValidationInput {
    std::string mapName;                // text of cbMap
    std::string overlayName;            // text of cbOverlay
    std::filesystem::path mapFile;      // the picture the chosen map entry names
    std::filesystem::path overlayFile;  // the picture the chosen overlay entry names
    std::string output;                 // text of txtFile
    int page = 0;                       // selected page of tabMain
    std::size_t manualRows = 0;
    int source = -1;  // the first option set on the batch page, -1 for none
    std::string accessPath;
    std::string excelPath;
    std::string connString;
    std::string csvPath;
    std::string tableName;
    std::string fieldName;
    std::string csvField;  // text of cboFieldName
};

inline constexpr std::string_view kOutputIsPictureMessage =
    "Output file cannot be the map or overlay picture.";

// The first failing check in the window's order, or nothing when the input may be
// rendered. The last check refuses an output path that names the map or overlay
// picture itself (the same file, links resolved), which the render would overwrite.
std::optional<Refusal> validateInput(const ValidationInput& input);

// True when both paths name one existing file, symbolic links followed.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace zembra::client
