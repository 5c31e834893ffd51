// Driving a "Zembra.CMap" engine object: created by its programmatic identifier and
// reached by member names only, as any outside caller does.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>
#include <zembra/runtime.hpp>

#include "core/bounds.hpp"
#include "core/points_input.hpp"

namespace zembra::cli {

// Zip codes handed to the engine per MapZips call: markers accumulate in the engine,
// so a large list in pieces costs one picture round trip per piece and lets progress show.
inline constexpr size_t kDefaultChunkSize = 2000;

struct MapSettings {
    std::filesystem::path map;
    std::filesystem::path marker;  // empty: left unset (lookups draw nothing)
    Bounds bounds;
    std::string connection;  // empty: the engine's default zip-code database
};

// Creates an engine object and assigns the map, marker, bounds and connection string.
// Raises zembra::Error 429 when the engine cannot be created.
Object createMap(const MapSettings& settings);

// Called after each piece with the number of items handed over so far.
using ProgressFn = std::function<void(size_t done)>;

// Plots `codes` with MapZips, `chunkSize` codes per call (at least 1), and returns the
// codes the database did not hold (the engine's UnmatchedZips of every call, in order).
// Engine and database errors propagate unchanged.
std::vector<std::string> plotZips(Object& map, const std::vector<std::string>& codes,
                                  size_t chunkSize, const ProgressFn& progress = {});

// Plots `points` with MapCoordinates, `chunkSize` points per call (at least 1).
void plotPoints(Object& map, const std::vector<Point>& points, size_t chunkSize,
                const ProgressFn& progress = {});

// Assigns OutputImageType and calls SaveMap.
void saveMap(Object& map, const std::string& imageType, const std::filesystem::path& path);

}  // namespace zembra::cli
