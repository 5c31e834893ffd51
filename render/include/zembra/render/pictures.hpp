// The maps and markers every front end offers: the program's images folder and the
// user's own (the XDG data folder's Zembra/Images), each holding Maps/ and Overlays/;
// how they are listed, which is the default, how a name or a path becomes a file, and
// each picture's size and bounds.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/render/catalogue.hpp>

#include "picture_formats.hpp"

namespace zembra::render {

enum class PictureKind { Map, Marker };

// "Maps" or "Overlays": the subfolder of an images folder.
std::string_view folderName(PictureKind kind) noexcept;
// The extension listed, from the format table: maps are JPEG pictures, markers PNG.
std::string_view pictureExtension(PictureKind kind) noexcept;
// "map" or "marker", for messages.
std::string_view kindName(PictureKind kind) noexcept;

// The user's own images folder: $XDG_DATA_HOME/Zembra/Images, or
// $HOME/.local/share/Zembra/Images when that variable is unset; empty when neither is set.
std::filesystem::path userImagesDirectory();

// The images folders searched, in order, each holding Maps/ and Overlays/.
struct PictureFolders {
    std::vector<std::filesystem::path> roots;

    // The program's images folder, then the user's own unless it is the same folder.
    static PictureFolders standard(const std::filesystem::path& programImages);
    // The given folder alone.
    static PictureFolders only(const std::filesystem::path& images);
};

// A picture found in a folder.
struct PictureFile {
    std::filesystem::path folder;  // the Maps or Overlays folder it was listed from
    std::string fileName;          // as the folder spells it

    std::filesystem::path path() const { return folder / fileName; }
    // The file name without its extension, as a request names it ("usa").
    std::string name() const;
    friend bool operator==(const PictureFile&, const PictureFile&) = default;
};

// The regular files directly in `folder` whose lower-cased extension equals `extension`,
// in the order the platform lists a folder: names compared case-insensitively, ties by
// exact comparison. A missing folder gives none.
std::vector<std::string> listFolder(const std::filesystem::path& folder,
                                    std::string_view extension);

// `listFolder` for `subfolder` and `extension` in every root, in order; the same folder
// (by its canonical path) is listed once.
std::vector<PictureFile> listPictures(const PictureFolders& folders, std::string_view subfolder,
                                      std::string_view extension);
// The same for the subfolder and extension of `kind`.
std::vector<PictureFile> listPictures(const PictureFolders& folders, PictureKind kind);

// The first of `pictures` whose file name or name equals `name` ignoring case; nullptr
// when none does. Only names: a text holding a path separator never matches.
const PictureFile* findPicture(const std::vector<PictureFile>& pictures, std::string_view name);

// A picture given as `value`: an existing file path is taken as it is; otherwise a bare
// name is looked up with findPicture among the pictures of `kind`. Raises zembra::Error 53
// naming the missing path, or for a name the folders searched and the names they hold.
std::filesystem::path resolvePicture(std::string_view value, const PictureFolders& folders,
                                     PictureKind kind);

// The map the command line and the page choose when none is named.
inline constexpr std::string_view kDefaultMapName = "usa";
// Which of `count` listed markers the command line and the page choose when none is
// named (count > 0): the fifth, as the desktop client selects at start-up, or the first
// when there are fewer than five.
constexpr size_t defaultMarkerIndex(size_t count) noexcept { return count >= 5 ? 4 : 0; }

// What the header and the world file (or the name rule) tell of a picture.
struct PictureDetails {
    imaging::PictureSize size;
    std::optional<Bounds> bounds;  // maps only; nothing when neither gives them
};

// Raises zembra::Error for a picture whose header cannot be read (see
// imaging::readPictureSize) and for a malformed world file beside a map.
PictureDetails describePicture(const PictureFile& picture, PictureKind kind);

}  // namespace zembra::render
