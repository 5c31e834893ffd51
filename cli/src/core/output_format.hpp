// The picture format written, chosen by the output file's extension or --format.
#pragma once

#include <filesystem>
#include <string>
#include <zembra/render/render.hpp>

namespace zembra::cli {

// The format for a path: an extension of the format table, compared without regard to
// case. Raises UsageError naming the accepted extensions for anything else, a missing
// extension included.
render::OutputFormat formatForPath(const std::filesystem::path& path);

}  // namespace zembra::cli
