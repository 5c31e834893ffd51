// The parts of a multipart/form-data body, as browsers send file uploads.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zembra::serve {

struct FormPart {
    std::string name;      // the form field's name
    std::string fileName;  // given for a file, empty otherwise
    std::string content;
};

// The boundary named by a Content-Type "multipart/form-data; boundary=...", or nothing
// when the type is another or names no boundary.
std::optional<std::string> multipartBoundary(std::string_view contentType);

// The parts of `body`. Raises ApiError 400 when the body is not well-formed.
std::vector<FormPart> parseMultipart(std::string_view body, std::string_view boundary);

// The part of that name, or nullptr.
const FormPart* findPart(const std::vector<FormPart>& parts, std::string_view name);

}  // namespace zembra::serve
