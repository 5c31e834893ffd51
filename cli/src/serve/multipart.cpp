#include "serve/multipart.hpp"

#include <zembra/text.hpp>

#include "serve/order.hpp"

namespace zembra::serve {

namespace {

ApiError malformed() {
    return ApiError(400, "bad_request", "The multipart/form-data body is not well-formed.");
}

// The value of `key` in header parameters such as `form-data; name="file"; filename="a.csv"`.
std::optional<std::string> parameter(std::string_view header, std::string_view key) {
    size_t at = 0;
    while ((at = header.find(';', at)) != std::string_view::npos) {
        ++at;
        while (at < header.size() && header[at] == ' ') ++at;
        const auto eq = header.find('=', at);
        if (eq == std::string_view::npos) return std::nullopt;
        const auto name = header.substr(at, eq - at);
        std::string value;
        size_t end = eq + 1;
        if (end < header.size() && header[end] == '"') {
            for (++end; end < header.size() && header[end] != '"'; ++end) {
                if (header[end] == '\\' && end + 1 < header.size()) ++end;
                value += header[end];
            }
        } else {
            const auto semi = header.find(';', end);
            value = std::string(header.substr(
                end, semi == std::string_view::npos ? std::string_view::npos : semi - end));
            while (!value.empty() && value.back() == ' ') value.pop_back();
        }
        if (equalsIgnoreCase(name, key)) return value;
        at = end;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> multipartBoundary(std::string_view contentType) {
    const auto semi = contentType.find(';');
    std::string_view type = contentType.substr(0, semi);
    while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
    if (!equalsIgnoreCase(type, "multipart/form-data")) return std::nullopt;
    auto boundary = parameter(contentType, "boundary");
    if (!boundary || boundary->empty() || boundary->size() > 200) return std::nullopt;
    return boundary;
}

std::vector<FormPart> parseMultipart(std::string_view body, std::string_view boundary) {
    const std::string delimiter = "--" + std::string(boundary);
    std::vector<FormPart> parts;
    size_t at = body.find(delimiter);
    if (at == std::string_view::npos) throw malformed();
    at += delimiter.size();
    for (;;) {
        if (body.substr(at, 2) == "--") return parts;  // the closing delimiter
        if (body.substr(at, 2) != "\r\n") throw malformed();
        at += 2;
        const auto headEnd = body.find("\r\n\r\n", at);
        if (headEnd == std::string_view::npos) throw malformed();
        FormPart part;
        bool named = false;
        for (size_t line = at; line < headEnd;) {
            const auto eol = std::min(body.find("\r\n", line), headEnd);
            const auto text = body.substr(line, eol - line);
            const auto colon = text.find(':');
            if (colon != std::string_view::npos &&
                equalsIgnoreCase(text.substr(0, colon), "Content-Disposition")) {
                const auto value = text.substr(colon + 1);
                if (auto name = parameter(value, "name")) {
                    part.name = *name;
                    named = true;
                }
                if (auto file = parameter(value, "filename")) part.fileName = *file;
            }
            line = eol + 2;
        }
        if (!named) throw malformed();
        const size_t contentStart = headEnd + 4;
        const auto next = body.find("\r\n" + delimiter, contentStart);
        if (next == std::string_view::npos) throw malformed();
        part.content = std::string(body.substr(contentStart, next - contentStart));
        parts.push_back(std::move(part));
        at = next + 2 + delimiter.size();
    }
}

const FormPart* findPart(const std::vector<FormPart>& parts, std::string_view name) {
    for (const auto& p : parts)
        if (p.name == name) return &p;
    return nullptr;
}

}  // namespace zembra::serve
