#include <system_error>

#include "commands/commands.hpp"
#include "core/images.hpp"
#include "core/output_format.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

namespace fs = std::filesystem;

ResolvedMap resolveMap(const MapOptions& options) {
    ResolvedMap resolved;
    resolved.images = options.images.empty() ? defaultImagesDirectory() : fs::path(options.images);
    resolved.map = resolvePicture(options.map, resolved.images / "Maps", "jpg", "map");
    if (!options.bounds.empty()) {
        resolved.bounds = parseBounds(options.bounds);
    } else if (const auto bounds = boundsForMapName(resolved.map.filename().string())) {
        resolved.bounds = *bounds;
    } else {
        throw UsageError("the bounds of map '" + resolved.map.filename().string() +
                         "' do not follow from its name (it holds none of usa, alaska, "
                         "hawaii); give them with --bounds minLat,maxLat,minLon,maxLon");
    }
    return resolved;
}

fs::path resolveMarker(const std::string& marker, const fs::path& images) {
    const auto folder = images / "Overlays";
    return marker.empty() ? defaultMarker(folder) : resolvePicture(marker, folder, "png", "marker");
}

std::string checkOutput(const std::string& output) {
    const fs::path path(output);
    std::string type = imageTypeForPath(path);
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        throw Error::standard(err::kPathNotFound, "zembra", folder.string());
    }
    return type;
}

}  // namespace zembra::cli
