// Maps drawn for a region (--region): for one render, or written by `zembra map`.
#pragma once

#include <memory>
#include <string>
#include <vector>
#include <zembra/draw/region.hpp>
#include <zembra/draw/regionmap.hpp>

#include "commands/commands.hpp"

namespace zembra::cli {

// The region option parsed, its mistakes as usage errors.
draw::Region parseRegionOption(const std::string& text);

// The map of a region drawn into a temporary file, with its bounds. `zips` are the codes
// a fit is fitted to; the codes a fit leaves outside the map are reported on io.err.
std::unique_ptr<draw::TemporaryMap> drawRegionForRender(const RegionOptions& options,
                                                        const std::string& connection,
                                                        const std::vector<std::string>& zips,
                                                        bool towns, Io& io);

}  // namespace zembra::cli
