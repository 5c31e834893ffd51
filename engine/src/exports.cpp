// The library's four entry points: the class factory for "Zembra.CMap", registration
// and the unload test. No C++ exception crosses these C functions.
#include <atomic>
#include <string_view>
#include <zembra/component.hpp>

#include "cmap.hpp"

namespace zembra::engine {

namespace {

constexpr std::string_view kProgId = "Zembra.CMap";

// The one piece of library-wide state: how many CMap objects are alive, so that
// DllCanUnloadNow can tell whether unloading the library would pull code from under them.
std::atomic<int32_t> liveObjects{0};

class CMapFactory final : public ClassFactory {
  public:
    std::shared_ptr<Dispatch> createInstance() override { return std::make_shared<CMap>(); }
};

}  // namespace

void objectCreated() noexcept { liveObjects.fetch_add(1, std::memory_order_relaxed); }
void objectDestroyed() noexcept { liveObjects.fetch_sub(1, std::memory_order_relaxed); }

}  // namespace zembra::engine

extern "C" {

int32_t DllGetClassObject(const char* progId, void** factory) {
    using namespace zembra;
    if (factory == nullptr) return hr::kPointer;
    *factory = nullptr;
    if (progId == nullptr || !equalsIgnoreCase(progId, engine::kProgId)) {
        return hr::kClassNotAvailable;
    }
    // Stateless and never destroyed before the library is unloaded.
    static engine::CMapFactory instance;
    *factory = static_cast<ClassFactory*>(&instance);
    return hr::kOk;
}

int32_t DllRegisterServer(void) {
    try {
        zembra::registerComponent(
            zembra::engine::kProgId,
            zembra::libraryPathOf(reinterpret_cast<const void*>(&DllRegisterServer)));
        return zembra::hr::kOk;
    } catch (...) {
        return zembra::hr::kSelfRegClass;
    }
}

int32_t DllUnregisterServer(void) {
    try {
        zembra::unregisterComponent(zembra::engine::kProgId);
        return zembra::hr::kOk;
    } catch (...) {
        return zembra::hr::kSelfRegClass;
    }
}

int32_t DllCanUnloadNow(void) {
    return zembra::engine::liveObjects.load(std::memory_order_relaxed) == 0 ? zembra::hr::kOk
                                                                            : zembra::hr::kFalse;
}

}  // extern "C"
