#include "main_module.hpp"

namespace zembra::client {

std::string_view trimText(std::string_view text) noexcept {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

Variant NullIfBlank(const Variant& value) {
    if (value.isNull()) {
        return Variant::null();
    }
    try {
        const std::string text = value.toString();
        const std::string_view trimmed = trimText(text);
        if (trimmed.empty()) {
            return Variant::null();
        }
        return Variant(std::string(trimmed));
    } catch (const Error&) {
        // A value without a text form counts as blank.
        return Variant::null();
    }
}

std::string CleanValue(const Variant& value) {
    // NullIfBlank already yields the trimmed text form whenever it is not Null.
    const Variant cleaned = NullIfBlank(value);
    if (cleaned.isNull()) {
        return {};
    }
    return cleaned.toString();
}

std::string GetPairValue(std::string_view text, std::string_view delimiter) {
    if (delimiter.empty()) {
        delimiter = "=";
    }
    const auto first = text.find(delimiter);
    if (first == std::string_view::npos) {
        return {};
    }
    std::string_view rest = text.substr(first + delimiter.size());
    const auto second = rest.find(delimiter);
    if (second != std::string_view::npos) {
        rest = rest.substr(0, second);
    }
    return std::string(trimText(rest));
}

std::vector<std::string> splitPastedCodes(std::string_view text) {
    std::vector<std::string> codes;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const bool separator = i == text.size() || text[i] == '\n' || text[i] == '\r' ||
                               text[i] == ',' || text[i] == '\t' || text[i] == ' ';
        if (!separator) continue;
        if (i > start) codes.emplace_back(text.substr(start, i - start));
        start = i + 1;
    }
    return codes;
}

}  // namespace zembra::client
