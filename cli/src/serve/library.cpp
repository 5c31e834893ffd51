#include "serve/library.hpp"

#include <algorithm>
#include <system_error>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

#include "core/images.hpp"

namespace zembra::serve {

namespace fs = std::filesystem;

namespace {

std::vector<PictureEntry> scanFolder(const fs::path& folder, std::string_view extension,
                                     bool needBounds, std::ostream& log) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        throw Error::standard(err::kPathNotFound, "zembra serve", folder.string());
    }
    std::vector<PictureEntry> entries;
    for (const auto& fileName : cli::listPictures(folder, extension)) {
        PictureEntry entry;
        entry.file = folder / fileName;
        entry.name = entry.file.stem().string();
        const auto size = readPictureSize(entry.file);
        if (!size) {
            log << "zembra serve: left out " << entry.file.string() << ": unreadable picture\n";
            continue;
        }
        entry.size = *size;
        if (needBounds) {
            std::optional<render::Bounds> bounds;
            try {
                bounds = render::boundsForMap(entry.file);
            } catch (const Error& e) {
                // A malformed world file spoils that map only.
                log << "zembra serve: left out " << entry.file.string() << ": " << e.description()
                    << "\n";
                continue;
            }
            if (!bounds) {
                log << "zembra serve: left out " << entry.file.string()
                    << ": no bounds (no usa, alaska or hawaii in its name, no world file)\n";
                continue;
            }
            entry.bounds = *bounds;
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

PictureLibrary PictureLibrary::scan(const fs::path& images, std::ostream& log) {
    PictureLibrary library;
    library.maps_ = scanFolder(images / "Maps", "jpg", true, log);
    library.markers_ = scanFolder(images / "Overlays", "png", false, log);
    if (library.markers_.empty()) {
        throw Error::standard(err::kFileNotFound, "zembra serve",
                              (images / "Overlays").string() + ": no marker pictures");
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
    return markers_.at(cli::defaultMarkerIndex(markers_.size()));
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
