#include <algorithm>
#include <zembra/render/catalogue.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/render/pictures.hpp>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"
#include "core/images.hpp"

namespace zembra::cli {

namespace {

// The pictures of `kind` under a heading per folder: the first folder always, the
// others when they hold any.
template <typename Line>
void printFolders(std::ostream& out, const render::PictureFolders& folders,
                  const std::vector<render::PictureFile>& pictures, render::PictureKind kind,
                  std::string_view heading, const Line& line) {
    for (size_t r = 0; r < folders.roots.size(); ++r) {
        const auto folder = folders.roots[r] / render::folderName(kind);
        const bool any =
            std::any_of(pictures.begin(), pictures.end(),
                        [&](const render::PictureFile& p) { return p.folder == folder; });
        if (r > 0 && !any) continue;
        out << heading << " in " << folder.string() << ":\n";
        for (size_t i = 0; i < pictures.size(); ++i) {
            if (pictures[i].folder == folder) line(i);
        }
    }
}

}  // namespace

int runList(const std::string& images, Io& io) {
    const auto folders = pictureFolders(images);
    const auto maps = render::listPictures(folders, render::PictureKind::Map);
    const auto markers = render::listPictures(folders, render::PictureKind::Marker);
    size_t width = 0;
    for (const auto& p : maps) width = std::max(width, p.fileName.size());
    for (const auto& p : markers) width = std::max(width, p.fileName.size());

    printFolders(io.out, folders, maps, render::PictureKind::Map, "maps", [&](size_t i) {
        const auto& name = maps[i].fileName;
        io.out << "  " << name << std::string(width - name.size() + 2, ' ');
        std::string shown;
        try {
            const auto bounds = render::boundsForMap(maps[i].path());
            shown =
                bounds ? "bounds " + render::boundsText(*bounds) : "needs --bounds or a world file";
        } catch (const Error& e) {
            shown = "world file unreadable: " + e.description();
        }
        io.out << shown << '\n';
    });
    const size_t defaultIndex = render::defaultMarkerIndex(markers.size());
    printFolders(io.out, folders, markers, render::PictureKind::Marker, "markers", [&](size_t i) {
        io.out << "  " << markers[i].fileName << (i == defaultIndex ? "  (default)" : "") << '\n';
    });
    return 0;
}

}  // namespace zembra::cli
