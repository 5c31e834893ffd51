// Zip codes as people write them: a ZIP+4, or a code whose leading zeros a spreadsheet
// dropped when it took the column for numbers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zembra::render {

// How a code was rewritten before it was looked up again.
enum class Rewrite { DropPlus4, RestoreZeros };

struct RewrittenCode {
    std::string code;  // the five-digit code to look up
    Rewrite how;
};

// The five-digit code a written code stands for: the first five digits of a ZIP+4
// ("08873-1234", "08873 1234", "088731234"), or an all-digit code of three or four digits
// with its leading zeros restored ("8873" -> "08873"). Nothing for any other text, a
// five-digit code included: a code is rewritten only when it was not found as written.
std::optional<RewrittenCode> rewrittenCode(std::string_view code);

}  // namespace zembra::render
