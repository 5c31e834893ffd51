// A loaded shared library: an RAII handle over dlopen/dlclose.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>
#include <zembra/runtime.hpp>

namespace zembra {

class ZEMBRA_RUNTIME_API Library {
  public:
    // Loads `path` (RTLD_NOW | RTLD_LOCAL). Raises 48 "Error in loading DLL" naming the
    // file and the loader's reason.
    explicit Library(const std::filesystem::path& path);

    const std::filesystem::path& path() const noexcept { return path_; }

    // The address of an exported symbol. Raises 453 naming the symbol and the file.
    void* symbol(const char* name) const;

    // Same as symbol(), with the function type the caller expects.
    template <typename Fn>
    Fn function(const char* name) const {
        return reinterpret_cast<Fn>(symbol(name));
    }

  private:
    struct Closer {
        void operator()(void* handle) const noexcept;
    };
    std::filesystem::path path_;
    std::unique_ptr<void, Closer> handle_;
};

}  // namespace zembra
