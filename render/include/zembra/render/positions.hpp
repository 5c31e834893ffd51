// Where zip codes lie, read straight from the zip-code tables the engine plots from:
// for sizing a map to a list before it is drawn.
#pragma once

#include <optional>
#include <string>
#include <vector>
#include <zembra/render/render.hpp>

namespace zembra::render {

// The position of each code (in the order given; nothing for a code the tables lack),
// from the engine's zip table and columns in the database `connection` names (empty: the
// engine's default), then, with `towns`, from zip_towns for the codes still missing.
// Codes are read as locate() reads them (locate.hpp), whose errors it raises. Reads each
// table once, whatever the number of codes.
std::vector<std::optional<LatLon>> positionsOf(const std::string& connection,
                                               const std::vector<std::string>& codes, bool towns);

}  // namespace zembra::render
