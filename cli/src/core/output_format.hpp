// The picture format written, chosen by the output file's extension.
#pragma once

#include <filesystem>
#include <string>

namespace zembra::cli {

// The engine's OutputImageType word for a path: "jpg" for .jpg and .jpeg, "gif", "bmp",
// "png", the extension compared without regard to case. Raises UsageError naming the
// accepted extensions for anything else, a missing extension included.
std::string imageTypeForPath(const std::filesystem::path& path);

}  // namespace zembra::cli
