#include <algorithm>
#include <zembra/render/codes.hpp>

namespace zembra::render {

namespace {

bool allDigits(std::string_view text) noexcept {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<RewrittenCode> rewrittenCode(std::string_view code) {
    if (code.size() == 10 && (code[5] == '-' || code[5] == ' ') && allDigits(code.substr(0, 5)) &&
        allDigits(code.substr(6))) {
        return RewrittenCode{std::string(code.substr(0, 5)), Rewrite::DropPlus4};
    }
    if (code.size() == 9 && allDigits(code)) {
        return RewrittenCode{std::string(code.substr(0, 5)), Rewrite::DropPlus4};
    }
    if ((code.size() == 3 || code.size() == 4) && allDigits(code)) {
        return RewrittenCode{std::string(5 - code.size(), '0') + std::string(code),
                             Rewrite::RestoreZeros};
    }
    return std::nullopt;
}

}  // namespace zembra::render
