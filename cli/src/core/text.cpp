#include "core/text.hpp"

#include <algorithm>

namespace zembra::cli {

namespace {
bool isBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::string_view trim(std::string_view text) noexcept {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool lessIgnoreCase(std::string_view a, std::string_view b) noexcept {
    const int folded = compareIgnoreCase(a, b);
    return folded != 0 ? folded < 0 : a < b;
}

std::string withThousands(size_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace zembra::cli
