#include "core/output_format.hpp"

#include "core/text.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

std::string imageTypeForPath(const std::filesystem::path& path) {
    const std::string ext = toLower(path.extension().string());
    if (ext == ".jpg" || ext == ".jpeg") return "jpg";
    if (ext == ".gif" || ext == ".bmp" || ext == ".png") return ext.substr(1);
    const std::string found = ext.empty() ? "no extension" : "the extension '" + ext + "'";
    throw UsageError("output file '" + path.string() + "' has " + found +
                     "; use .jpg, .gif, .bmp or .png");
}

}  // namespace zembra::cli
