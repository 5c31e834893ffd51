// Option values of the command line that are more than a word: map bounds and counts.
#pragma once

#include <string>
#include <string_view>
#include <zembra/render/catalogue.hpp>

namespace zembra::cli {

// Parses "minLat,maxLat,minLon,maxLon" (numbers as the platform reads them, blanks
// allowed around each). Raises UsageError naming the problem for a wrong count, a value
// that is not a number, a latitude outside -90..90, or a minimum not below its maximum.
render::Bounds parseBounds(std::string_view text);

// "minLat,maxLat,minLon,maxLon" as parseBounds reads it back.
std::string formatBounds(const render::Bounds& bounds);

// The problem with a count option's text ("" when it is a whole number of at least 1).
std::string checkCount(const std::string& text);

}  // namespace zembra::cli
