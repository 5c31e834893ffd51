// Error values and the classic descriptions of run-time error numbers.
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>
#include <zembra/runtime.hpp>

namespace zembra {

Error::Error(int32_t number, std::string source, std::string description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {
    what_ = description_.empty() ? "Error " + std::to_string(number_) : description_;
}

// Defined here, out of line, so that the vtable and typeinfo of Error exist only in
// this library: an Error thrown inside a dlopen'ed component is then caught by type
// in the caller.
Error::~Error() = default;

const char* Error::what() const noexcept { return what_.c_str(); }

std::string Error::standardDescription(int32_t number) {
    switch (number) {
#define ZEMBRA_ERROR_CASE(name, value, description) \
    case value:                                     \
        return description;
        ZEMBRA_RUNTIME_ERRORS(ZEMBRA_ERROR_CASE)
#undef ZEMBRA_ERROR_CASE
        default:
            return {};
    }
}

Error Error::standard(int32_t number, std::string source, std::string_view detail) {
    std::string description = standardDescription(number);
    if (description.empty()) description = "Application-defined or object-defined error";
    if (!detail.empty()) {
        description += ": ";
        description += detail;
    }
    return Error(number, std::move(source), std::move(description));
}

Error Error::withContext(std::string_view context) const {
    if (context.empty()) return *this;
    std::string description(context);
    if (!description_.empty()) description.append(": ").append(description_);
    return Error(number_, source_, std::move(description));
}

int32_t fileErrorNumber(int errnoValue, std::string_view path, int32_t fallback) {
    switch (errnoValue) {
        case ENOENT:
        case ENOTDIR: {
            // A missing or blocked folder on the way reads differently from a missing file.
            if (path.empty()) return err::kFileNotFound;
            const auto parent = std::filesystem::path(path).parent_path();
            std::error_code ec;
            if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
                return err::kPathNotFound;
            }
            return errnoValue == ENOTDIR ? err::kPathNotFound : err::kFileNotFound;
        }
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            return err::kPermissionDenied;
        case ENOSPC:
        case EDQUOT:
            return err::kDiskFull;
        default:
            return fallback;
    }
}

Error fileError(int errnoValue, std::string source, std::string_view path, std::string_view detail,
                int32_t fallback) {
    return Error::standard(fileErrorNumber(errnoValue, path, fallback), std::move(source), detail);
}

}  // namespace zembra
