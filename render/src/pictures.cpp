#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <zembra/render/pictures.hpp>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

namespace zembra::render {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSource = "Zembra";

std::string joinNames(const std::vector<PictureFile>& pictures) {
    std::string out;
    for (const auto& p : pictures) out += (out.empty() ? "" : ", ") + p.fileName;
    return out.empty() ? std::string("none") : out;
}

bool sameFolder(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const fs::path left = fs::weakly_canonical(a, ec);
    if (ec) return a == b;
    const fs::path right = fs::weakly_canonical(b, ec);
    if (ec) return a == b;
    return left == right;
}

}  // namespace

std::string_view folderName(PictureKind kind) noexcept {
    return kind == PictureKind::Map ? "Maps" : "Overlays";
}

std::string_view pictureExtension(PictureKind kind) noexcept {
    return imaging::formatInfo(kind == PictureKind::Map ? imaging::Format::Jpeg
                                                        : imaging::Format::Png)
        .name;
}

std::string_view kindName(PictureKind kind) noexcept {
    return kind == PictureKind::Map ? "map" : "marker";
}

fs::path userImagesDirectory() {
    // The XDG base directory rule: a relative XDG_DATA_HOME is to be ignored.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && *data == '/') return fs::path(data) / "Zembra" / "Images";
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return fs::path(home) / ".local" / "share" / "Zembra" / "Images";
    }
    return {};
}

PictureFolders PictureFolders::standard(const fs::path& programImages) {
    PictureFolders folders{{programImages}};
    const fs::path own = userImagesDirectory();
    if (!own.empty() && !sameFolder(own, programImages)) folders.roots.push_back(own);
    return folders;
}

PictureFolders PictureFolders::only(const fs::path& images) { return PictureFolders{{images}}; }

std::string PictureFile::name() const { return fs::path(fileName).stem().string(); }

std::vector<std::string> listFolder(const fs::path& folder, std::string_view extension) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        std::string name = it->path().filename().string();
        const auto dot = name.rfind('.');
        if (dot != std::string::npos && lowerAscii(name.substr(dot + 1)) == extension) {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int folded = compareIgnoreCase(a, b);
        return folded != 0 ? folded < 0 : a < b;
    });
    return names;
}

std::vector<PictureFile> listPictures(const PictureFolders& folders, std::string_view subfolder,
                                      std::string_view extension) {
    std::vector<PictureFile> pictures;
    std::vector<fs::path> listed;
    for (const fs::path& root : folders.roots) {
        const fs::path folder = root / subfolder;
        if (std::any_of(listed.begin(), listed.end(),
                        [&](const fs::path& seen) { return sameFolder(seen, folder); })) {
            continue;
        }
        listed.push_back(folder);
        for (auto& name : listFolder(folder, extension)) {
            pictures.push_back(PictureFile{folder, std::move(name)});
        }
    }
    return pictures;
}

std::vector<PictureFile> listPictures(const PictureFolders& folders, PictureKind kind) {
    return listPictures(folders, folderName(kind), pictureExtension(kind));
}

const PictureFile* findPicture(const std::vector<PictureFile>& pictures, std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos) return nullptr;
    const auto it = std::find_if(pictures.begin(), pictures.end(), [&](const PictureFile& p) {
        return equalsIgnoreCase(p.fileName, name) || equalsIgnoreCase(p.name(), name);
    });
    return it == pictures.end() ? nullptr : &*it;
}

fs::path resolvePicture(std::string_view value, const PictureFolders& folders, PictureKind kind) {
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
        throw Error::standard(err::kPathFileAccess, kSource,
                              std::string(value) + " is " + what + ", not a " +
                                  std::string(kindName(kind)) + " picture file");
    }
    if (value.empty() || value.find('/') != std::string_view::npos) {
        throw Error::standard(err::kFileNotFound, kSource, std::string(value));
    }
    const auto pictures = listPictures(folders, kind);
    if (const PictureFile* found = findPicture(pictures, value)) return found->path();
    // The folders named are the first and those of the others that exist.
    std::string searched;
    for (const fs::path& root : folders.roots) {
        const fs::path folder = root / folderName(kind);
        if (!searched.empty() && !fs::is_directory(folder, ec)) continue;
        searched += (searched.empty() ? "" : " or ") + folder.string();
    }
    throw Error::standard(err::kFileNotFound, kSource,
                          "no " + std::string(kindName(kind)) + " '" + std::string(value) +
                              "' in " + searched + " (available: " + joinNames(pictures) + ")");
}

PictureDetails describePicture(const PictureFile& picture, PictureKind kind) {
    PictureDetails details;
    details.size = imaging::readPictureSize(picture.path().string());
    if (kind == PictureKind::Map) details.bounds = boundsForMap(picture.path());
    return details;
}

}  // namespace zembra::render
