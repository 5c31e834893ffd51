// Minimal definition of zembra::Error for programs that use the imaging adapter
// without the runtime library (only built while the runtime is not in the build).
#include <zembra/runtime.hpp>

namespace zembra {

Error::Error(int32_t number, std::string source, std::string description)
    : number_(number),
      source_(std::move(source)),
      description_(std::move(description)),
      what_("[" + std::to_string(number_) + "] " + description_) {}

Error::~Error() = default;

const char* Error::what() const noexcept { return what_.c_str(); }

std::string Error::standardDescription(int32_t) { return {}; }

Error Error::standard(int32_t number, std::string source, std::string_view detail) {
    return Error(number, std::move(source), std::string(detail));
}

}  // namespace zembra
