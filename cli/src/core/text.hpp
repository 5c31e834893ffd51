// Small text helpers shared by the command line's readers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <zembra/text.hpp>

namespace zembra::cli {

// The text without leading and trailing blanks (spaces, tabs, CR, LF).
std::string_view trim(std::string_view text) noexcept;

// Orders two texts as the platform lists a folder: by ASCII lower case, then by the
// raw bytes so that two names differing only in case still have a fixed order.
bool lessIgnoreCase(std::string_view a, std::string_view b) noexcept;

// A count with thousands separated by commas: 33791 -> "33,791".
std::string withThousands(size_t n);

}  // namespace zembra::cli
