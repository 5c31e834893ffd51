// A small component used by the late-binding tests: "Zembra.RuntimeTest".
//   Name            read / assign, text
//   Count           read-only, the number of assignments to Name
//   Add(a, b)       a + b as a double
//   Increment(n)    adds 1 to its by-reference argument, returns the new value
//   Raise(n, s, d)  raises Error(n, s, d)
//   ThrowOther      lets a std::runtime_error escape
//   LiveObjects     read-only, objects of this library alive now
#include <atomic>
#include <stdexcept>
#include <zembra/component.hpp>

namespace {

constexpr const char* kProgId = "Zembra.RuntimeTest";

std::atomic<int32_t>& liveObjects() {
    static std::atomic<int32_t> count{0};
    return count;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

enum Member : int32_t { kName, kCount, kAdd, kIncrement, kRaise, kThrowOther, kLiveObjects };
constexpr std::string_view kMembers[] = {"Name",  "Count",      "Add",        "Increment",
                                         "Raise", "ThrowOther", "LiveObjects"};

class TestObject final : public zembra::Dispatch {
  public:
    TestObject() { ++liveObjects(); }
    ~TestObject() override { --liveObjects(); }
    TestObject(const TestObject&) = delete;
    TestObject& operator=(const TestObject&) = delete;

    int32_t memberId(std::string_view name) const override {
        for (int32_t i = 0; i < static_cast<int32_t>(std::size(kMembers)); ++i)
            if (sameName(name, kMembers[i])) return i;
        return -1;
    }

    zembra::Variant invoke(int32_t id, zembra::InvokeKind kind,
                           std::span<zembra::Variant> args) override {
        using zembra::InvokeKind;
        const bool isGet = kind == InvokeKind::PropertyGet && args.empty();
        switch (id) {
            case kName:
                if (isGet) return name_;
                if (kind == InvokeKind::PropertyPut && args.size() == 1) {
                    name_ = args[0].toString();
                    ++count_;
                    return {};
                }
                break;
            case kCount:
                if (isGet) return count_;
                break;
            case kLiveObjects:
                if (isGet) return liveObjects().load();
                break;
            case kAdd:
                if (kind == InvokeKind::Method && args.size() == 2)
                    return args[0].toDouble() + args[1].toDouble();
                break;
            case kIncrement:
                if (kind == InvokeKind::Method && args.size() == 1) {
                    args[0] = args[0].toInt32() + 1;
                    return args[0];
                }
                break;
            case kRaise:
                if (kind == InvokeKind::Method && args.size() == 3)
                    throw zembra::Error(args[0].toInt32(), args[1].toString(), args[2].toString());
                break;
            case kThrowOther:
                if (kind != InvokeKind::PropertyPut && args.empty())
                    throw std::runtime_error("something else went wrong");
                break;
            default:
                break;
        }
        throw zembra::Error::standard(zembra::err::kWrongArguments, kProgId);
    }

  private:
    std::string name_;
    int32_t count_ = 0;
};

class Factory final : public zembra::ClassFactory {
  public:
    std::shared_ptr<zembra::Dispatch> createInstance() override {
        return std::make_shared<TestObject>();
    }
};

const void* self() { return reinterpret_cast<const void*>(&DllRegisterServer); }

}  // namespace

extern "C" {

int32_t DllGetClassObject(const char* progId, void** factory) {
    if (!factory) return zembra::hr::kPointer;
    *factory = nullptr;
    if (!progId || !sameName(progId, kProgId)) return zembra::hr::kClassNotAvailable;
    static Factory instance;
    *factory = static_cast<zembra::ClassFactory*>(&instance);
    return zembra::hr::kOk;
}

int32_t DllRegisterServer(void) {
    try {
        zembra::registerComponent(kProgId, zembra::libraryPathOf(self()));
        return zembra::hr::kOk;
    } catch (const zembra::Error&) {
        return zembra::hr::kSelfRegClass;
    }
}

int32_t DllUnregisterServer(void) {
    try {
        zembra::unregisterComponent(kProgId);
        return zembra::hr::kOk;
    } catch (const zembra::Error&) {
        return zembra::hr::kSelfRegClass;
    }
}

int32_t DllCanUnloadNow(void) {
    return liveObjects().load() == 0 ? zembra::hr::kOk : zembra::hr::kFalse;
}

}  // extern "C"
