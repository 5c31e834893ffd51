#include <zembra/render/render.hpp>

namespace zembra::render {

namespace {

void appendCodes(std::string& out, const std::vector<std::string>& codes, size_t listed) {
    for (size_t i = 0; i < codes.size() && i < listed; ++i) {
        out += i == 0 ? ": " : ", ";
        out += escapeForDisplay(codes[i]);
    }
    if (codes.size() > listed) out += " and " + std::to_string(codes.size() - listed) + " more";
}

}  // namespace

std::string suggestionText(const RenderResult& result, std::string_view regionPrefix) {
    std::string out;
    for (const MapSuggestion& s : result.suggestions) {
        if (!out.empty()) out += ", ";
        out += s.map + " holds ";
        if (result.suggestions.size() == 1 && s.codes == result.outside.size()) {
            out += s.codes == 1 ? "it" : "them";
        } else {
            out += std::to_string(s.codes);
        }
    }
    if (!result.suggestedRegion.empty()) {
        if (!out.empty()) out += "; ";
        out += "try ";
        out += regionPrefix;
        out += escapeForDisplay(result.suggestedRegion);
    }
    return out;
}

std::string summarize(const RenderResult& result, std::optional<size_t> listed) {
    std::string out =
        "placed " + std::to_string(result.placed()) + " of " + std::to_string(result.requested);
    std::string ways;
    const auto way = [&](size_t count, const char* how) {
        if (count > 0) ways += ", " + std::to_string(count) + " " + how;
    };
    way(result.placedWithoutPlus4.size(), "after dropping the +4");
    way(result.placedWithZeros.size(), "after restoring leading zeros");
    way(result.placedAtTown.size(), "at their post-office town");
    if (!ways.empty()) {
        out += ": " + std::to_string(result.placedAtArea) + " as written" + ways;
    } else if (result.outside.empty()) {
        out += " zip codes";
    }
    if (!result.outside.empty()) {
        out += "; " + std::to_string(result.outside.size()) + " outside this map";
        if (listed) {
            appendCodes(out, result.outside, *listed);
            const std::string hint = suggestionText(result);
            if (!hint.empty()) out += " (" + hint + ")";
        }
    }
    if (listed && !result.notFound.empty()) {
        out += "; not found";
        appendCodes(out, result.notFound, *listed);
    }
    return out;
}

}  // namespace zembra::render
