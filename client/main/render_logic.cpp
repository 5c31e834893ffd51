#include "main/render_logic.hpp"

namespace zembra::client {

std::string parentFolderName(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string extensionName(std::string_view path) {
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    return std::string(name.substr(dot + 1));
}

std::string buildPath(std::string_view folder, std::string_view name) {
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    if (folder.empty()) return std::string(name);
    std::string joined(folder);
    if (joined.back() != '/') joined += '/';
    joined += name;
    return joined;
}

}  // namespace zembra::client
