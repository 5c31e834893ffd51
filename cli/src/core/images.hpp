// The images folder beside the program (Maps, Overlays), and how a map or marker given
// on the command line by path or by name becomes a file.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zembra::cli {

// The folder holding the running program (from /proc/self/exe).
std::filesystem::path programDirectory();

// The images folder of an installed or built program: <program dir>/<bin-to-app>/Images.
std::filesystem::path defaultImagesDirectory();

// The files directly in `folder` whose extension, lower-cased, equals `extension` (lower
// case, no dot), as bare names in the order the platform lists a folder (case-insensitive
// name order). A missing folder gives an empty list.
std::vector<std::string> listPictures(const std::filesystem::path& folder,
                                      std::string_view extension);

// A picture given as `value`: an existing file path is taken as it is; otherwise a bare
// name is looked up in `folder` among the `extension` files, by file name or by name
// without extension, ignoring case ("usa", "USA.jpg"). `kind` ("map", "marker") names it
// in messages. Raises zembra::Error 53 naming the missing path, or for a name the
// folder searched and the names it holds.
std::filesystem::path resolvePicture(std::string_view value, const std::filesystem::path& folder,
                                     std::string_view extension, std::string_view kind);

// The marker used when none is named: the fifth png of `folder` in listing order, as the
// desktop client selects at start-up, or the first when the folder holds fewer than five.
// Raises zembra::Error 76 for a missing folder and 53 for a folder without png files.
std::filesystem::path defaultMarker(const std::filesystem::path& folder);

// Which of `count` listed markers is the default one (count > 0).
constexpr size_t defaultMarkerIndex(size_t count) noexcept { return count >= 5 ? 4 : 0; }

}  // namespace zembra::cli
