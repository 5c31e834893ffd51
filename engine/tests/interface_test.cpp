// CMap as a late-bound caller sees it: properties and their defaults, member lookup,
// the engine's own errors, and the library's entry points.
#include <dlfcn.h>

#include <zembra/component.hpp>

#include "engine_test_support.hpp"

namespace zembra::engine::test {
namespace {

TEST(CMapInterface, FreshObjectHasDefaultsAndTextDefaultsApplyOnEveryRead) {
    Object map = createObject("Zembra.CMap");
    EXPECT_EQ(map.get("InputMapFile"), Variant(""));
    EXPECT_EQ(map.get("InputOverlayFile"), Variant(""));
    EXPECT_EQ(map.get("OutputImageType"), Variant("gif"));
    EXPECT_EQ(map.get("MinLat"), Variant(24.0));
    EXPECT_EQ(map.get("MinLon"), Variant(-125.0));
    EXPECT_EQ(map.get("MaxLat"), Variant(50.0));
    EXPECT_EQ(map.get("MaxLon"), Variant(-66.4));

    const std::pair<const char*, const char*> defaults[] = {{"ConnectionString", "zipcodes"},
                                                            {"ZipTable", "zips"},
                                                            {"ZipField", "zipcode"},
                                                            {"LatField", "latitude"},
                                                            {"LonField", "Longitude"}};
    for (const auto& [name, fallback] : defaults) {
        EXPECT_EQ(map.get(name), Variant(fallback)) << name;
        map.put(name, "other");
        EXPECT_EQ(map.get(name), Variant("other")) << name;
        map.put(name, "");
        EXPECT_EQ(map.get(name), Variant(fallback)) << name;
    }
    // The output type has no default on read: empty stays empty.
    map.put("OutputImageType", "");
    EXPECT_EQ(map.get("OutputImageType"), Variant(""));
}

TEST(CMapInterface, AssignmentsConvertLikeTypedParameters) {
    Object map = createObject("Zembra.CMap");
    map.put("MinLat", "12.5");
    EXPECT_EQ(map.get("MinLat"), Variant(12.5));
    map.put("MaxLon", int32_t{-70});
    EXPECT_EQ(map.get("MaxLon"), Variant(-70.0));
    map.put("ZipTable", 42.0);
    EXPECT_EQ(map.get("ZipTable"), Variant("42"));
    EXPECT_EQ(errorNumber([&] { map.put("MinLat", "north"); }), err::kTypeMismatch);
    EXPECT_EQ(errorNumber([&] { map.put("ZipField", Variant::null()); }), err::kInvalidUseOfNull);
    EXPECT_EQ(map.get("MinLat"), Variant(12.5));
}

TEST(CMapInterface, LateBindingResolvesNamesAnyCaseAndChecksArguments) {
    Object map = createObject("Zembra.CMap");
    map.put("maxlat", 45.0);
    EXPECT_EQ(map.get("MAXLAT"), Variant(45.0));
    EXPECT_EQ(map.get("unmatchedzips").upperBound(), -1);

    EXPECT_EQ(errorNumber([&] { map.get("NoSuchMember"); }), err::kNoSuchMember);
    EXPECT_EQ(errorNumber([&] { map.callWith("MapZipCode", "08873"); }), err::kNoSuchMember);
    EXPECT_EQ(errorNumber([&] { map.call("MapZip"); }), err::kWrongArguments);
    EXPECT_EQ(errorNumber([&] { map.callWith("MapCoordinate", 1.0, 2.0, 3.0); }),
              err::kWrongArguments);
    EXPECT_EQ(errorNumber([&] { map.callWith("GetLatLonFromMapPoint", 1, 2); }),
              err::kWrongArguments);
    // Read-only members and methods cannot be assigned.
    EXPECT_EQ(errorNumber([&] { map.put("OutputMap", Variant(std::vector<uint8_t>{1})); }),
              err::kWrongArguments);
    EXPECT_EQ(errorNumber([&] { map.put("UnmatchedZips", array({})); }), err::kWrongArguments);
    EXPECT_EQ(errorNumber([&] { map.put("Clear", true); }), err::kWrongArguments);
}

void expectEngineError(const std::function<void()>& f, const std::string& description) {
    const std::optional<Error> e = errorOf(f);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), -2147220504);
    EXPECT_EQ(e->source(), "Pixam.CMap");
    EXPECT_EQ(e->description(), description);
}

TEST(CMapInterface, EngineErrorsCarryTheirNumberSourceAndText) {
    TempDir dir;
    Object map = createObject("Zembra.CMap");
    expectEngineError([&] { map.call("Clear"); }, "No input map supplied");
    expectEngineError([&] { map.get("OutputMap"); }, "No input map supplied");
    expectEngineError([&] { map.callWith("MapCoordinate", 40.0, -74.0); }, "No input map supplied");
    // The map is needed before the type is looked at.
    map.put("OutputImageType", "jpeg");
    expectEngineError([&] { map.get("OutputMap"); }, "No input map supplied");
    // Unequal arrays are refused before anything is loaded.
    expectEngineError(
        [&] {
            map.callWith("MapCoordinates", array({1.0, 2.0}), array({1.0}));
        },
        "Latitude and Longitude arrays must be equal size");

    map = newMap(dir);
    for (const char* type : {"jpeg", "GIF", "Png", " png", ""}) {
        map.put("OutputImageType", type);
        expectEngineError([&] { map.get("OutputMap"); },
                          std::string("Invalid File Type: \"") + type + "\"");
    }
}

// The entry points, called the way createObject does, with a live-object count.
TEST(CMapLibrary, EntryPointsCreateObjectsAndCountThem) {
    using Handle = std::unique_ptr<void, int (*)(void*)>;
    Handle library(::dlopen(ZEMBRA_ENGINE_LIBRARY, RTLD_NOW | RTLD_LOCAL), &::dlclose);
    ASSERT_TRUE(library) << ::dlerror();
    auto getClassObject =
        reinterpret_cast<DllGetClassObjectFn>(::dlsym(library.get(), "DllGetClassObject"));
    auto canUnloadNow =
        reinterpret_cast<DllCanUnloadNowFn>(::dlsym(library.get(), "DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject && canUnloadNow);

    void* raw = nullptr;
    EXPECT_EQ(getClassObject("Zembra.Other", &raw), hr::kClassNotAvailable);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(getClassObject("Zembra.CMap", nullptr), hr::kPointer);
    ASSERT_EQ(getClassObject("zembra.cmap", &raw), hr::kOk);
    ASSERT_NE(raw, nullptr);

    auto* factory = static_cast<ClassFactory*>(raw);
    EXPECT_EQ(canUnloadNow(), hr::kOk);
    {
        std::shared_ptr<Dispatch> first = factory->createInstance();
        std::shared_ptr<Dispatch> second = factory->createInstance();
        EXPECT_EQ(canUnloadNow(), hr::kFalse);
        first.reset();
        EXPECT_EQ(canUnloadNow(), hr::kFalse);
        EXPECT_GT(second->memberId("SaveMap"), 0);
    }
    EXPECT_EQ(canUnloadNow(), hr::kOk);
}

}  // namespace
}  // namespace zembra::engine::test
