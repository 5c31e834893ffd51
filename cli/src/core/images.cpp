#include "core/images.hpp"

#include <algorithm>
#include <system_error>
#include <zembra/runtime.hpp>

#ifndef ZEMBRA_REL_BIN_TO_APP
#error "ZEMBRA_REL_BIN_TO_APP must name the program folder relative to the bin folder"
#endif

namespace zembra::cli {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSource = "zembra";

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

render::PictureFolders pictureFolders(const std::string& images) {
    return images.empty() ? render::PictureFolders::standard(defaultImagesDirectory())
                          : render::PictureFolders::only(images);
}

fs::path defaultMarker(const render::PictureFolders& folders) {
    const auto kind = render::PictureKind::Marker;
    const fs::path first = folders.roots.front() / render::folderName(kind);
    std::error_code ec;
    const bool anyFolder = std::any_of(folders.roots.begin(), folders.roots.end(), [&](auto& r) {
        return fs::is_directory(r / render::folderName(kind), ec);
    });
    if (!anyFolder) {
        throw Error::standard(err::kPathNotFound, std::string(kSource),
                              first.string() + " (name a marker file with --marker)");
    }
    const auto markers = render::listPictures(folders, kind);
    if (markers.empty()) {
        throw Error::standard(err::kFileNotFound, std::string(kSource),
                              "no " + std::string(render::pictureExtension(kind)) + " marker in " +
                                  first.string() + " (name a marker file with --marker)");
    }
    return markers[render::defaultMarkerIndex(markers.size())].path();
}

}  // namespace zembra::cli
