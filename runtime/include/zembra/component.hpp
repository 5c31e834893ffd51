// Zembra component libraries: the class factory, the four C entry points every
// component library exports, and the registration helpers its entry points use.
//
// A component library exports exactly DllGetClassObject, DllRegisterServer,
// DllUnregisterServer and DllCanUnloadNow (C linkage, see ZembraComponent.cmake).
// Registration writes "<registry dir>/<progId>.component", a small text file naming the
// library relative to the registry directory; createObject() reads it back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>
#include <zembra/runtime.hpp>

namespace zembra {

// Creates objects of one class; owned by the component library, which keeps it alive
// for as long as the library is loaded.
class ZEMBRA_RUNTIME_API ClassFactory {
  public:
    virtual ~ClassFactory();
    // Returns a new object. May raise Error; createObject() reports it as 429.
    virtual std::shared_ptr<Dispatch> createInstance() = 0;
};

// Result codes of the entry points (the classic HRESULT values, as int32_t).
namespace hr {
inline constexpr int32_t kOk = 0;                                       // S_OK
inline constexpr int32_t kFalse = 1;                                    // S_FALSE
inline constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);     // E_FAIL-like failure
inline constexpr int32_t kPointer = static_cast<int32_t>(0x80004003u);  // null out-pointer
inline constexpr int32_t kClassNotAvailable = static_cast<int32_t>(0x80040111u);
inline constexpr int32_t kSelfRegClass = static_cast<int32_t>(0x80040201u);  // registration failed
}  // namespace hr

// Where registrations are written: the first entry of the environment variable
// ZEMBRA_REGISTRY when it is set and not empty, otherwise the default directory
// "<directory of libzembra_runtime.so>/<lib-to-data>/registry". Never raises.
ZEMBRA_RUNTIME_API std::filesystem::path registryDirectory();

// The directories createObject() searches, in order: the entries of ZEMBRA_REGISTRY
// (colon-separated, empty entries skipped), then the default directory.
ZEMBRA_RUNTIME_API std::vector<std::filesystem::path> registrySearchPath();

// Writes the registration of `progId` for `library` into registryDirectory(), creating
// the directory if needed. Raises 5 for an identifier that cannot be a file name, and
// 70 / 75 (naming the file) when the registration cannot be written.
ZEMBRA_RUNTIME_API void registerComponent(std::string_view progId,
                                          const std::filesystem::path& library);

// Removes the registration of `progId` (compared case-insensitively) from
// registryDirectory(). Nothing registered is not an error. Raises 70 / 75 when an
// existing registration cannot be removed.
ZEMBRA_RUNTIME_API void unregisterComponent(std::string_view progId);

// The absolute path of the shared library or program containing `addressInLibrary`
// (for example the address of the component's own DllRegisterServer). Raises 5 when
// the address belongs to no loaded file.
ZEMBRA_RUNTIME_API std::filesystem::path libraryPathOf(const void* addressInLibrary);

}  // namespace zembra

// The entry points, as a component library defines them (visible even when the library
// is compiled with -fvisibility=hidden).
#define ZEMBRA_COMPONENT_EXPORT __attribute__((visibility("default")))
extern "C" {
// Stores the library's factory for `progId` in *factory (a zembra::ClassFactory*, owned
// by the library). Returns 0, or a negative code such as hr::kClassNotAvailable.
ZEMBRA_COMPONENT_EXPORT int32_t DllGetClassObject(const char* progId, void** factory);
// Registers (unregisters) the library's classes. Return 0 or a negative code.
ZEMBRA_COMPONENT_EXPORT int32_t DllRegisterServer(void);
ZEMBRA_COMPONENT_EXPORT int32_t DllUnregisterServer(void);
// 0 when no object of the library is alive, 1 otherwise.
ZEMBRA_COMPONENT_EXPORT int32_t DllCanUnloadNow(void);
}

namespace zembra {
using DllGetClassObjectFn = int32_t (*)(const char*, void**);
using DllRegisterServerFn = int32_t (*)();
using DllUnregisterServerFn = int32_t (*)();
using DllCanUnloadNowFn = int32_t (*)();
}  // namespace zembra
