// The picture format written, chosen by the output file's extension or --format.
#pragma once

#include <filesystem>
#include <string>
#include <zembra/render/render.hpp>

namespace zembra::cli {

// The format for a path: .jpg and .jpeg, .gif, .bmp, .png, the extension compared
// without regard to case. Raises UsageError naming the accepted extensions for anything
// else, a missing extension included.
render::OutputFormat formatForPath(const std::filesystem::path& path);

// The format named by --format (jpg, jpeg, gif, bmp, png, any case). Raises UsageError
// for anything else.
render::OutputFormat formatForName(const std::string& name);

}  // namespace zembra::cli
