// Which geographic rectangle a map picture shows: the shipped maps by name, any other
// map by the world file beside it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace zembra::render {

// The geographic rectangle a map picture shows edge to edge, in degrees.
struct Bounds {
    double minLat = 0;
    double maxLat = 0;
    double minLon = 0;
    double maxLon = 0;

    // True when the point lies inside, west and south edges included.
    bool contains(double lat, double lon) const noexcept {
        return lat >= minLat && lat < maxLat && lon >= minLon && lon < maxLon;
    }
    friend bool operator==(const Bounds&, const Bounds&) = default;
};

// One key of the name rule: a map whose lower-cased file name contains `key` shows `bounds`.
struct MapKey {
    std::string_view key;
    Bounds bounds;
};

// The shipped maps' keys in the order the name rule tries them ("usa", "alaska", "hawaii"):
// the only place their bounds are written.
std::span<const MapKey> mapKeys() noexcept;

// The name rule: the first key found anywhere in the lower-cased file name (folders above
// it do not count). Nothing when the name holds none.
std::optional<Bounds> boundsForMapName(std::string_view fileName);

// The world file of a picture: "usa.jgw" for "usa.jpg" (first and last letter of the
// extension followed by "w"; "name.w" for a picture without one).
std::filesystem::path worldFilePath(const std::filesystem::path& picture);

// Writes the six lines of a world file for a picture of width x height pixels showing
// `bounds`, with 17 significant digits. Raises zembra::Error on a write failure.
void writeWorldFile(const std::filesystem::path& worldFile, const Bounds& bounds, int width,
                    int height);

// Reads a world file back into the bounds of a width x height picture. Nothing when the
// file does not exist; raises zembra::Error (13) naming the file when it is malformed or
// rotated.
std::optional<Bounds> readWorldFile(const std::filesystem::path& worldFile, int width, int height);

// The width and height of a picture in pixels. Raises 53 for a missing file, 70 for one
// that cannot be read and the engine's picture error for one that is not a picture.
std::pair<int32_t, int32_t> pictureSize(const std::filesystem::path& picture);

// The bounds of a map picture: the name rule first, then the world file beside it
// (the picture's size read from its header). Nothing when neither gives bounds.
std::optional<Bounds> boundsForMap(const std::filesystem::path& picture);

}  // namespace zembra::render
