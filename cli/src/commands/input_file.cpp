#include "commands/input_file.hpp"

#include <filesystem>
#include <system_error>
#include <zembra/runtime.hpp>

namespace zembra::cli {

InputFile::InputFile(const std::string& path, std::istream& standardInput) {
    if (path == "-") {
        stream_ = &standardInput;
        name_ = "standard input";
        return;
    }
    name_ = path;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        throw Error::standard(err::kFileNotFound, "zembra", path);
    }
    if (std::filesystem::is_directory(path, ec)) {
        throw Error::standard(err::kPermissionDenied, "zembra", path + " is a folder");
    }
    file_.open(path, std::ios::binary);
    if (!file_) throw Error::standard(err::kPermissionDenied, "zembra", path);
}

}  // namespace zembra::cli
