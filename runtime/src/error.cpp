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
        case 3:
            return "Return without GoSub";
        case 5:
            return "Invalid procedure call or argument";
        case 6:
            return "Overflow";
        case 7:
            return "Out of memory";
        case 9:
            return "Subscript out of range";
        case 10:
            return "This array is fixed or temporarily locked";
        case 11:
            return "Division by zero";
        case 13:
            return "Type mismatch";
        case 28:
            return "Out of stack space";
        case 48:
            return "Error in loading DLL";
        case 51:
            return "Internal error";
        case 52:
            return "Bad file name or number";
        case 53:
            return "File not found";
        case 54:
            return "Bad file mode";
        case 55:
            return "File already open";
        case 57:
            return "Device I/O error";
        case 58:
            return "File already exists";
        case 61:
            return "Disk full";
        case 62:
            return "Input past end of file";
        case 67:
            return "Too many files";
        case 68:
            return "Device unavailable";
        case 70:
            return "Permission denied";
        case 71:
            return "Disk not ready";
        case 75:
            return "Path/File access error";
        case 76:
            return "Path not found";
        case 91:
            return "Object variable or With block variable not set";
        case 94:
            return "Invalid use of Null";
        case 380:
            return "Invalid property value";
        case 424:
            return "Object required";
        case 429:
            return "Can't create object";
        case 438:
            return "Object doesn't support this property or method";
        case 450:
            return "Wrong number of arguments or invalid property assignment";
        case 453:
            return "Specified DLL function not found";
        case 481:
            return "Invalid picture";
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
