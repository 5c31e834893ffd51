// zembra-regsvr: registers or unregisters the components of a library by calling its
// DllRegisterServer or DllUnregisterServer entry point.
//
//   zembra-regsvr [-u] [-s] <library.so>
//     -u  unregister instead of register
//     -s  silent: no message on success
#include <cstdio>
#include <string_view>
#include <zembra/component.hpp>

#include "library.hpp"

namespace {

int usage() {
    std::fprintf(stderr, "usage: zembra-regsvr [-u] [-s] <library.so>\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    bool silent = false;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-u")
            unregister = true;
        else if (arg == "-s")
            silent = true;
        else if (arg == "-h" || arg == "--help")
            return usage(), 0;
        else if (!arg.empty() && arg[0] == '-')
            return usage();
        else if (file)
            return usage();
        else
            file = argv[i];
    }
    if (!file) return usage();

    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    try {
        const zembra::Library library(file);
        const auto function = library.function<zembra::DllRegisterServerFn>(entry);
        const int32_t result = function();
        if (result < 0) {
            std::fprintf(stderr, "zembra-regsvr: %s in '%s' failed with 0x%08X\n", entry, file,
                         static_cast<unsigned>(result));
            return 1;
        }
    } catch (const zembra::Error& e) {
        std::fprintf(stderr, "zembra-regsvr: [%d] %s\n", e.number(), e.description().c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zembra-regsvr: %s failed: %s\n", entry, e.what());
        return 1;
    }
    if (!silent)
        std::printf("zembra-regsvr: %s in '%s' succeeded (registry %s)\n", entry, file,
                    zembra::registryDirectory().c_str());
    return 0;
}
