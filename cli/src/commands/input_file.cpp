#include "commands/input_file.hpp"

namespace zembra::cli {

std::unique_ptr<render::CsvReader> openInput(const std::string& path, const Io& io) {
    if (path == "-") return std::make_unique<render::CsvReader>(io.inFd, "standard input");
    return std::make_unique<render::CsvReader>(std::filesystem::path(path));
}

}  // namespace zembra::cli
