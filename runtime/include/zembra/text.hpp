// ASCII case folding for names the system compares without regard to case: member
// names, file extensions, connection-string keywords, column names. Bytes outside
// A-Z are left alone, so UTF-8 text passes through unchanged.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace zembra {

constexpr char lowerAscii(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = lowerAscii(c);
    return lower;
}

// Three-way comparison of the case-folded texts (negative, zero, positive); ties of
// different case compare equal.
constexpr int compareIgnoreCase(std::string_view a, std::string_view b) noexcept {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(lowerAscii(a[i]));
        const auto y = static_cast<unsigned char>(lowerAscii(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

constexpr bool equalsIgnoreCase(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && compareIgnoreCase(a, b) == 0;
}

// True when `needle` occurs in `haystack`, case-folded.
inline bool containsIgnoreCase(std::string_view haystack, std::string_view needle) {
    return lowerAscii(haystack).find(lowerAscii(needle)) != std::string::npos;
}

}  // namespace zembra
