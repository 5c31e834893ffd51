#include <algorithm>
#include <zembra/render/catalogue.hpp>
#include <zembra/runtime.hpp>

#include "commands/commands.hpp"
#include "core/images.hpp"
#include "core/option_values.hpp"

namespace zembra::cli {

int runList(const std::string& images, Io& io) {
    const auto root = images.empty() ? defaultImagesDirectory() : std::filesystem::path(images);
    const auto maps = listPictures(root / "Maps", "jpg");
    const auto markers = listPictures(root / "Overlays", "png");
    size_t width = 0;
    for (const auto& name : maps) width = std::max(width, name.size());
    for (const auto& name : markers) width = std::max(width, name.size());

    io.out << "maps in " << (root / "Maps").string() << ":\n";
    for (const auto& name : maps) {
        io.out << "  " << name << std::string(width - name.size() + 2, ' ');
        std::string shown;
        try {
            const auto bounds = render::boundsForMap(root / "Maps" / name);
            shown = bounds ? "bounds " + formatBounds(*bounds) : "needs --bounds or a world file";
        } catch (const Error& e) {
            shown = "world file unreadable: " + e.description();
        }
        io.out << shown << '\n';
    }
    io.out << "markers in " << (root / "Overlays").string() << ":\n";
    const size_t defaultIndex = defaultMarkerIndex(markers.size());
    for (size_t i = 0; i < markers.size(); ++i) {
        io.out << "  " << markers[i] << (i == defaultIndex ? "  (default)" : "") << '\n';
    }
    return 0;
}

}  // namespace zembra::cli
