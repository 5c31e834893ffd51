#include "serve/public_errors.hpp"

#include <regex>

namespace zembra::serve {

std::string publicDescription(const Error& e) {
    switch (e.number()) {
        case err::kDatabase:
            return "The zip-code database could not be reached or read; the server's log says why.";
        case err::kFileNotFound:
        case err::kPathNotFound:
        case err::kPermissionDenied:
        case err::kPathFileAccess:
        case err::kDiskFull:
            return "A file the server needs could not be read or written; the server's log says "
                   "why.";
        default:
            break;
    }
    // Other errors (the engine's own, a bad value in the zip table) keep their words, with
    // anything shaped like a connection-string setting or an absolute path taken out.
    static const std::regex setting(R"((\b[A-Za-z ]+)=([^;'"]*)(;|$))");
    static const std::regex path(R"((^|[\s'"(=])/[^\s'"),;]+)");
    std::string text = std::regex_replace(e.description(), setting, "$1=...$3");
    text = std::regex_replace(text, path, "$1(a server file)");
    return text;
}

}  // namespace zembra::serve
