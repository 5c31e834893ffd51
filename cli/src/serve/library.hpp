// The maps and markers the server offers, found once in the images folders at start-up.
// A request names a picture; the name is matched against this list and never becomes a
// path, so nothing a client sends reaches the file system.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/render/catalogue.hpp>
#include <zembra/render/pictures.hpp>

#include "picture_formats.hpp"

namespace zembra::serve {

struct PictureEntry {
    std::string name;  // the file name without its extension, as clients name it
    std::filesystem::path file;
    imaging::PictureSize size;
    render::Bounds bounds;  // maps only
};

class PictureLibrary {
  public:
    // Lists the maps and markers of the picture library's folders in their order. A map
    // without bounds (no world file, no name key) or a picture whose header cannot be read
    // is left out with a line on `log`. Raises zembra::Error 76 when no folder of maps or
    // of markers exists and 53 when they hold no marker.
    static PictureLibrary scan(const render::PictureFolders& folders, std::ostream& log);

    const std::vector<PictureEntry>& maps() const noexcept { return maps_; }
    const std::vector<PictureEntry>& markers() const noexcept { return markers_; }

    // The entry whose name or file name equals `name` ignoring case; nullptr otherwise.
    const PictureEntry* findMap(std::string_view name) const;
    const PictureEntry* findMarker(std::string_view name) const;

    // The marker used when a request names none: the one the desktop client selects.
    const PictureEntry& defaultMarker() const;

  private:
    std::vector<PictureEntry> maps_;
    std::vector<PictureEntry> markers_;
};

// True when `name` can be the name of a picture: 1 to 100 letters, digits, '_', '-', '.'
// and blanks, not starting with '.' and holding no "..". Anything with a slash, a
// backslash or a control character is refused before any lookup.
bool isPlainName(std::string_view name) noexcept;

}  // namespace zembra::serve
