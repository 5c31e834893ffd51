// The images folder beside the program, and the command line's own refusals around the
// picture library (zembra/render/pictures.hpp), which lists and resolves the pictures.
#pragma once

#include <filesystem>
#include <string>
#include <zembra/render/pictures.hpp>

namespace zembra::cli {

// The folder holding the running program (from /proc/self/exe).
std::filesystem::path programDirectory();

// The images folder of an installed or built program: <program dir>/<bin-to-app>/Images.
std::filesystem::path defaultImagesDirectory();

// The folders a command searches: --images DIR alone when given, otherwise the program's
// images folder and the user's own.
render::PictureFolders pictureFolders(const std::string& images);

// The marker used when none is named: the picture library's default of the markers listed.
// Raises zembra::Error 76 when no marker folder exists and 53 when they hold no png file.
std::filesystem::path defaultMarker(const render::PictureFolders& folders);

}  // namespace zembra::cli
