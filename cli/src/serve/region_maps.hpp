// Maps drawn for a region (the `region` of a render or a lookup) on the server's workers:
// the boundary data read once and shared, each map drawn into a memory file of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <zembra/draw/region.hpp>
#include <zembra/draw/regionmap.hpp>

namespace zembra::serve {

class RegionMaps {
  public:
    struct Plan {
        render::Bounds bounds;
        int width = 0;
        int height = 0;
    };
    using Positions = std::function<std::vector<std::optional<render::LatLon>>()>;

    // Parses a region; raises ApiError 400 (bad_region) with the accepted forms.
    static draw::Region parse(const std::string& text);

    // The bounds and size of a region's map, `width` pixels wide (0: the default);
    // `positions` is called for a fit only. Raises ApiError 400 for a width outside the
    // limits or a fit without codes in the area it spans, 413 when the map would exceed
    // `maxPixels`.
    Plan plan(const draw::Region& region, int width, const Positions& positions,
              uint64_t maxPixels);

    // The map of a plan, drawn into a memory file the engine reads.
    std::unique_ptr<draw::TemporaryMap> draw(const Plan& plan);

  private:
    std::mutex mutex_;  // guards the data while it is first read
    draw::BoundaryData data_;
};

}  // namespace zembra::serve
