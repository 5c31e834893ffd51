// A map picture for any bounds in the shipped maps' look, drawn when asked: written with
// its world file for later use, or kept in a temporary file for one render.
#pragma once

#include <filesystem>
#include <zembra/draw/basemap.hpp>
#include <zembra/draw/boundaries.hpp>
#include <zembra/render/render.hpp>

#include "imaging.hpp"

namespace zembra::draw {

inline constexpr int kDefaultMapWidth = 2000;

struct DrawnMap {
    Bounds bounds;
    Canvas canvas;
};

// The height of a map of `bounds` at `width`, checked: each side 1..kMaxSide and the
// picture within the imaging layer's limit, so that the engine can load it. Raises
// error 5 naming the limit otherwise.
int checkedHeight(const Bounds& bounds, int width);

// Draws the base map of `bounds`, `width` pixels wide, the height from the bounds.
DrawnMap drawMap(BoundaryData& data, const Bounds& bounds, int width,
                 UsLand source = UsLand::States, const MapStyle& style = {});
// The same from layers already built; several threads may draw from the same layers.
DrawnMap drawMap(const MapLayers& layers, const Bounds& bounds, int width,
                 const MapStyle& style = {});

// The imaging layer's format for an output format.
imaging::Format imagingFormat(render::OutputFormat format) noexcept;

// Writes the picture in `format` and its world file beside it (nj.jgw for nj.jpg).
// Returns the world file's path. File errors raise zembra::Error with the path.
std::filesystem::path writeMap(DrawnMap& map, const std::filesystem::path& picture,
                               render::OutputFormat format);

// A map picture for one render, in memory (a memory file the engine reads by its path),
// gone when this goes away.
class TemporaryMap {
  public:
    // Draws the base map of `bounds`, `width` pixels wide, straight into the memory file,
    // as an uncompressed picture the engine reads back without converting it.
    TemporaryMap(const MapLayers& layers, const Bounds& bounds, int width,
                 const MapStyle& style = {});
    TemporaryMap(const TemporaryMap&) = delete;
    TemporaryMap& operator=(const TemporaryMap&) = delete;
    ~TemporaryMap();
    const std::filesystem::path& path() const { return path_; }
    const Bounds& bounds() const { return bounds_; }

  private:
    int fd_ = -1;
    std::filesystem::path path_;
    Bounds bounds_;
};

}  // namespace zembra::draw
