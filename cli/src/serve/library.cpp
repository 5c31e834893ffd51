#include "serve/library.hpp"

#include <algorithm>
#include <system_error>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

namespace zembra::serve {

namespace fs = std::filesystem;

namespace {

std::vector<PictureEntry> scanFolders(const render::PictureFolders& folders,
                                      render::PictureKind kind, std::ostream& log) {
    std::error_code ec;
    const bool anyFolder =
        std::any_of(folders.roots.begin(), folders.roots.end(), [&](const fs::path& root) {
            return fs::is_directory(root / render::folderName(kind), ec);
        });
    if (!anyFolder) {
        throw Error::standard(err::kPathNotFound, "zembra serve",
                              (folders.roots.front() / render::folderName(kind)).string());
    }
    std::vector<PictureEntry> entries;
    for (const auto& picture : render::listPictures(folders, kind)) {
        PictureEntry entry;
        entry.file = picture.path();
        entry.name = picture.name();
        try {
            const auto details = render::describePicture(picture, kind);
            entry.size = details.size;
            if (kind == render::PictureKind::Map) {
                if (!details.bounds) {
                    log << "zembra serve: left out " << entry.file.string()
                        << ": no bounds (no world file, no usa, alaska or hawaii in its name)\n";
                    continue;
                }
                entry.bounds = *details.bounds;
            }
        } catch (const Error& e) {
            log << "zembra serve: left out " << entry.file.string() << ": " << e.description()
                << "\n";
            continue;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

const PictureEntry* find(const std::vector<PictureEntry>& entries, std::string_view name) {
    if (!isPlainName(name)) return nullptr;
    const auto it = std::find_if(entries.begin(), entries.end(), [&](const PictureEntry& e) {
        return equalsIgnoreCase(e.name, name) || equalsIgnoreCase(e.file.filename().string(), name);
    });
    return it == entries.end() ? nullptr : &*it;
}

}  // namespace

PictureLibrary PictureLibrary::scan(const render::PictureFolders& folders, std::ostream& log) {
    PictureLibrary library;
    library.maps_ = scanFolders(folders, render::PictureKind::Map, log);
    library.markers_ = scanFolders(folders, render::PictureKind::Marker, log);
    if (library.markers_.empty()) {
        throw Error::standard(
            err::kFileNotFound, "zembra serve",
            (folders.roots.front() / render::folderName(render::PictureKind::Marker)).string() +
                ": no marker pictures");
    }
    return library;
}

const PictureEntry* PictureLibrary::findMap(std::string_view name) const {
    return find(maps_, name);
}

const PictureEntry* PictureLibrary::findMarker(std::string_view name) const {
    return find(markers_, name);
}

const PictureEntry& PictureLibrary::defaultMarker() const {
    return markers_.at(render::defaultMarkerIndex(markers_.size()));
}

bool isPlainName(std::string_view name) noexcept {
    if (name.empty() || name.size() > 100 || name.front() == '.') return false;
    if (name.find("..") != std::string_view::npos) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
               c == '_' || c == '-' || c == '.' || c == ' ';
    });
}

}  // namespace zembra::serve
