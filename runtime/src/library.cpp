#include "library.hpp"

#include <dlfcn.h>

namespace zembra {

void Library::Closer::operator()(void* handle) const noexcept { dlclose(handle); }

Library::Library(const std::filesystem::path& path) : path_(path) {
    // A bare file name would make dlopen search the library path instead of the file.
    std::string name = path.string();
    if (name.find('/') == std::string::npos) name = "./" + name;
    dlerror();
    handle_.reset(dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!handle_) {
        const char* reason = dlerror();
        throw Error::standard(
            err::kLibraryLoad, "Zembra",
            "cannot load '" + path_.string() + "': " + (reason ? reason : "unknown reason"));
    }
}

void* Library::symbol(const char* name) const {
    dlerror();
    void* address = dlsym(handle_.get(), name);
    const char* reason = dlerror();
    if (reason || !address)
        throw Error::standard(err::kEntryPointNotFound, "Zembra",
                              std::string("'") + name + "' in '" + path_.string() + "'");
    return address;
}

}  // namespace zembra
