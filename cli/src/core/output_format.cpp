#include "core/output_format.hpp"

#include "core/usage_error.hpp"

namespace zembra::cli {

render::OutputFormat formatForPath(const std::filesystem::path& path) {
    const std::string ext = path.extension().string();
    if (const auto format = ext.empty() ? std::nullopt : render::formatForExtension(ext)) {
        return *format;
    }
    const std::string found = ext.empty() ? "no extension" : "the extension '" + ext + "'";
    throw UsageError("output file '" + path.string() + "' has " + found + "; use " +
                     imaging::formatNames("."));
}

}  // namespace zembra::cli
