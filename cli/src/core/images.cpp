#include "core/images.hpp"

#include <algorithm>
#include <system_error>
#include <zembra/runtime.hpp>

#include "core/text.hpp"

#ifndef ZEMBRA_REL_BIN_TO_APP
#error "ZEMBRA_REL_BIN_TO_APP must name the program folder relative to the bin folder"
#endif

namespace zembra::cli {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSource = "zembra";

std::string joinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
    return out.empty() ? std::string("none") : out;
}

}  // namespace

fs::path programDirectory() {
    std::error_code ec;
    const auto exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) throw Error::standard(err::kPathNotFound, std::string(kSource), "/proc/self/exe");
    return exe.parent_path();
}

fs::path defaultImagesDirectory() {
    return (programDirectory() / ZEMBRA_REL_BIN_TO_APP / "Images").lexically_normal();
}

std::vector<std::string> listPictures(const fs::path& folder, std::string_view extension) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const auto name = it->path().filename().string();
        const auto dot = name.rfind('.');
        const std::string ext = dot == std::string::npos ? "" : lowerAscii(name.substr(dot + 1));
        if (ext == extension) names.push_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return lessIgnoreCase(a, b); });
    return names;
}

fs::path resolvePicture(std::string_view value, const fs::path& folder, std::string_view extension,
                        std::string_view kind) {
    fs::path given(value);
    std::error_code ec;
    const auto status = fs::status(given, ec);
    if (fs::is_regular_file(status)) return given;
    if (fs::exists(status)) {
        // Say what is there instead of "not found": a folder, a FIFO or a device.
        const char* what = fs::is_directory(status) ? "a folder"
                           : fs::is_fifo(status)    ? "a FIFO"
                           : fs::is_socket(status)  ? "a socket"
                                                    : "a device";
        throw Error::standard(
            err::kPathFileAccess, std::string(kSource),
            std::string(value) + " is " + what + ", not a " + std::string(kind) + " picture file");
    }
    if (value.empty() || value.find('/') != std::string_view::npos) {
        throw Error::standard(err::kFileNotFound, std::string(kSource), std::string(value));
    }
    const auto names = listPictures(folder, extension);
    for (const auto& name : names) {
        const auto stem = name.substr(0, name.rfind('.'));
        if (equalsIgnoreCase(name, value) || equalsIgnoreCase(stem, value)) return folder / name;
    }
    throw Error::standard(err::kFileNotFound, std::string(kSource),
                          "no " + std::string(kind) + " '" + std::string(value) + "' in " +
                              folder.string() + " (available: " + joinNames(names) + ")");
}

fs::path defaultMarker(const fs::path& folder) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        throw Error::standard(err::kPathNotFound, std::string(kSource),
                              folder.string() + " (name a marker file with --marker)");
    }
    const auto names = listPictures(folder, "png");
    if (names.empty()) {
        throw Error::standard(
            err::kFileNotFound, std::string(kSource),
            "no png marker in " + folder.string() + " (name a marker file with --marker)");
    }
    return folder / names[defaultMarkerIndex(names.size())];
}

}  // namespace zembra::cli
