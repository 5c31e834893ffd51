// Object creation by identifier and late-bound calls, through a real component library.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <zembra/component.hpp>
#include <zembra/runtime.hpp>

namespace fs = std::filesystem;
using zembra::Error;
using zembra::Variant;

namespace {

constexpr const char* kComponent = ZEMBRA_TEST_COMPONENT;
constexpr const char* kRegsvr = ZEMBRA_REGSVR;
constexpr const char* kProgId = "Zembra.RuntimeTest";

template <typename F>
Error caught(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "no Error was raised";
    return Error(0, "", "");
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool isLoaded(const char* library) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Each test gets its own empty registry directory through ZEMBRA_REGISTRY.
class LateBinding : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* previous = std::getenv("ZEMBRA_REGISTRY");
        if (previous) previous_ = previous;
        std::string pattern = (fs::temp_directory_path() / "zembra-registry-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        registry_ = pattern;
        setenv("ZEMBRA_REGISTRY", registry_.c_str(), 1);
    }
    void TearDown() override {
        if (previous_)
            setenv("ZEMBRA_REGISTRY", previous_->c_str(), 1);
        else
            unsetenv("ZEMBRA_REGISTRY");
        std::error_code ec;
        fs::remove_all(registry_, ec);
    }
    void registerTestComponent() { zembra::registerComponent(kProgId, kComponent); }
    void writeRegistration(const std::string& progId, const std::string& text) {
        std::ofstream(registry_ / (progId + ".component")) << text;
    }

    fs::path registry_;
    std::optional<std::string> previous_;
};

TEST_F(LateBinding, CreatesObjectAndReachesMembersByNameInAnyCase) {
    registerTestComponent();
    zembra::Object object = zembra::createObject("ZEMBRA.runtimetest");
    ASSERT_TRUE(object);
    object.put("name", Variant("Denver"));
    EXPECT_EQ(object.get("NAME"), Variant("Denver"));
    EXPECT_EQ(object.get("Count"), Variant(int32_t{1}));
    EXPECT_EQ(object.callWith("aDD", 1, "2.5"), Variant(3.5));

    // Copies share the object; separate creations do not share state.
    zembra::Object copy = object;
    copy.put("Name", Variant("Boise"));
    EXPECT_EQ(object.get("Name"), Variant("Boise"));
    zembra::Object other = zembra::createObject(kProgId);
    EXPECT_EQ(other.get("Name"), Variant(""));
}

TEST_F(LateBinding, MemberErrors) {
    registerTestComponent();
    zembra::Object object = zembra::createObject(kProgId);

    for (const Error& e :
         {caught([&] { object.get("Nmae"); }), caught([&] { object.put("Nmae", Variant(1)); }),
          caught([&] { object.callWith("Nmae", 1); })}) {
        EXPECT_EQ(e.number(), zembra::err::kNoSuchMember);
        EXPECT_EQ(e.description(), "Object doesn't support this property or method: 'Nmae'");
    }
    // The component answers a wrong argument count or access kind with 450.
    EXPECT_EQ(caught([&] { object.callWith("Add", 1); }).number(), zembra::err::kWrongArguments);
    EXPECT_EQ(caught([&] { object.put("Count", Variant(3)); }).number(),
              zembra::err::kWrongArguments);
    EXPECT_EQ(caught([&] { object.get("Add"); }).number(), zembra::err::kWrongArguments);

    zembra::Object nothing;
    EXPECT_FALSE(nothing);
    EXPECT_EQ(caught([&] { nothing.get("Name"); }).number(), 91);
}

TEST_F(LateBinding, ArgumentsArePassedByReference) {
    registerTestComponent();
    zembra::Object object = zembra::createObject(kProgId);
    std::vector<Variant> args{Variant("41")};
    EXPECT_EQ(object.call("Increment", args), Variant(int32_t{42}));
    EXPECT_EQ(args[0], Variant(int32_t{42}));
    // put() hands over a copy: the caller's value is not the component's to change.
    const Variant value("x");
    object.put("Name", value);
    EXPECT_EQ(value, Variant("x"));
}

TEST_F(LateBinding, ErrorsRaisedInsideTheComponentArriveIntact) {
    registerTestComponent();
    zembra::Object object = zembra::createObject(kProgId);
    const Error e = caught([&] {
        object.callWith("Raise", zembra::err::kEngine, "Pixam.CMap", "No input map supplied");
    });
    EXPECT_EQ(e.number(), -2147220504);
    EXPECT_EQ(e.source(), "Pixam.CMap");
    EXPECT_EQ(e.description(), "No input map supplied");

    // Conversion errors inside the component keep their classic numbers.
    EXPECT_EQ(caught([&] { object.callWith("Add", "x", 1); }).number(), zembra::err::kTypeMismatch);

    const Error other = caught([&] { object.call("ThrowOther"); });
    EXPECT_EQ(other.number(), 51);
    EXPECT_NE(other.description().find("something else went wrong"), std::string::npos);
}

TEST_F(LateBinding, LibraryStaysLoadedWhileAnyObjectLives) {
    registerTestComponent();
    ASSERT_FALSE(isLoaded(kComponent));
    {
        std::optional<zembra::Object> first = zembra::createObject(kProgId);
        zembra::Object second = *first;
        ASSERT_TRUE(isLoaded(kComponent));
        void* handle = dlopen(kComponent, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(handle, nullptr);
        auto canUnload =
            reinterpret_cast<zembra::DllCanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
        EXPECT_EQ(canUnload(), 1);
        dlclose(handle);

        first.reset();
        EXPECT_TRUE(isLoaded(kComponent));
        EXPECT_EQ(second.get("LiveObjects"), Variant(int32_t{1}));
    }
    EXPECT_FALSE(isLoaded(kComponent));
}

TEST_F(LateBinding, UnknownIdentifierCannotBeCreated) {
    const Error e = caught([] { zembra::createObject("Foo.Bar"); });
    EXPECT_EQ(e.number(), zembra::err::kCantCreateObject);
    EXPECT_EQ(e.source(), "Zembra");
    EXPECT_EQ(
        e.description().rfind(
            "Can't create object 'Foo.Bar': not registered (searched " + registry_.string(), 0),
        0u)
        << e.description();
    EXPECT_EQ(caught([] { zembra::createObject(""); }).number(), zembra::err::kCantCreateObject);
}

TEST_F(LateBinding, BrokenRegistrationsCannotBeCreated) {
    writeRegistration("Broken.Missing", "library=no-such-library.so\n");
    Error e = caught([] { zembra::createObject("Broken.Missing"); });
    EXPECT_EQ(e.number(), zembra::err::kCantCreateObject);
    EXPECT_NE(e.description().find("'Broken.Missing'"), std::string::npos);
    EXPECT_NE(e.description().find("no-such-library.so"), std::string::npos) << e.description();

    writeRegistration("Broken.Empty", "# nothing here\n");
    e = caught([] { zembra::createObject("Broken.Empty"); });
    EXPECT_EQ(e.number(), zembra::err::kCantCreateObject);

    // A file that is not a shared library at all.
    std::ofstream(registry_ / "garbage.so") << "not a library";
    writeRegistration("Broken.Garbage", "library=garbage.so\n");
    EXPECT_EQ(caught([] { zembra::createObject("Broken.Garbage"); }).number(),
              zembra::err::kCantCreateObject);

    // A real library without the entry points.
    const fs::path runtime =
        zembra::libraryPathOf(reinterpret_cast<const void*>(&zembra::createObject));
    writeRegistration("Broken.NoEntry", "library=" + runtime.string() + "\n");
    e = caught([] { zembra::createObject("Broken.NoEntry"); });
    EXPECT_EQ(e.number(), zembra::err::kCantCreateObject);
    EXPECT_NE(e.description().find("DllGetClassObject"), std::string::npos) << e.description();

    // A component that does not provide the requested class.
    zembra::registerComponent("Zembra.Other", kComponent);
    e = caught([] { zembra::createObject("Zembra.Other"); });
    EXPECT_EQ(e.number(), zembra::err::kCantCreateObject);
    EXPECT_NE(e.description().find("0x80040111"), std::string::npos) << e.description();
}

TEST_F(LateBinding, RegistrationFileNamesTheLibraryRelatively) {
    registerTestComponent();
    const std::string text = readFile(registry_ / "Zembra.RuntimeTest.component");
    EXPECT_NE(text.find("progid=Zembra.RuntimeTest\n"), std::string::npos);
    const auto at = text.find("library=");
    ASSERT_NE(at, std::string::npos);
    const fs::path library = text.substr(at + 8, text.find('\n', at) - at - 8);
    EXPECT_TRUE(library.is_relative()) << library;
    EXPECT_TRUE(fs::equivalent(registry_ / library, kComponent));

    // Registering again under another spelling leaves one registration.
    zembra::registerComponent("zembra.runtimetest", kComponent);
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(registry_)) ++files;
    EXPECT_EQ(files, 1);
    zembra::unregisterComponent("ZEMBRA.RUNTIMETEST");
    EXPECT_TRUE(fs::is_empty(registry_));
    zembra::unregisterComponent(kProgId);  // nothing left: not an error

    for (const char* bad : {"", "a/b", "..", "."})
        EXPECT_EQ(caught([&] { zembra::registerComponent(bad, kComponent); }).number(),
                  zembra::err::kInvalidArgument)
            << bad;
}

TEST_F(LateBinding, SearchesEveryRegistryDirectoryInOrder) {
    const fs::path second = registry_ / "second";
    fs::create_directory(second);
    setenv("ZEMBRA_REGISTRY",
           (":" + (registry_ / "missing").string() + "::" + second.string()).c_str(), 1);
    EXPECT_EQ(zembra::registryDirectory(), registry_ / "missing");
    EXPECT_EQ(zembra::registrySearchPath().size(), 3u);

    setenv("ZEMBRA_REGISTRY", second.c_str(), 1);
    registerTestComponent();
    setenv("ZEMBRA_REGISTRY", (registry_.string() + ":" + second.string()).c_str(), 1);
    EXPECT_TRUE(zembra::createObject(kProgId));

    // The first directory wins.
    writeRegistration(kProgId, "library=no-such-library.so\n");
    EXPECT_EQ(caught([] { zembra::createObject(kProgId); }).number(),
              zembra::err::kCantCreateObject);
}

TEST_F(LateBinding, RegsvrRegistersAndUnregisters) {
    const std::string regsvr = kRegsvr;
    ASSERT_EQ(run(regsvr + " -s " + kComponent), 0);
    EXPECT_TRUE(fs::exists(registry_ / "Zembra.RuntimeTest.component"));
    EXPECT_TRUE(zembra::createObject(kProgId));

    ASSERT_EQ(run(regsvr + " -u -s " + kComponent), 0);
    EXPECT_FALSE(fs::exists(registry_ / "Zembra.RuntimeTest.component"));

    EXPECT_NE(run(regsvr + " -s " + (registry_ / "missing.so").string() + " 2>/dev/null"), 0);
    EXPECT_NE(run(regsvr + " 2>/dev/null"), 0);
    const fs::path runtime =
        zembra::libraryPathOf(reinterpret_cast<const void*>(&zembra::createObject));
    EXPECT_NE(run(regsvr + " -s " + runtime.string() + " 2>/dev/null"), 0);
}

// Without ZEMBRA_REGISTRY the build tree's own registry is used, where the build
// registered the test component.
TEST(DefaultRegistry, BuildTreeRegistrationIsFoundWithoutEnvironment) {
    const char* previous = std::getenv("ZEMBRA_REGISTRY");
    const std::optional<std::string> saved =
        previous ? std::optional<std::string>(previous) : std::nullopt;
    unsetenv("ZEMBRA_REGISTRY");
    EXPECT_TRUE(
        fs::equivalent(zembra::registryDirectory(), fs::path(ZEMBRA_DATA_DIR) / "registry"));
    EXPECT_EQ(zembra::registrySearchPath().size(), 1u);
    EXPECT_EQ(zembra::createObject(kProgId).callWith("Add", 2, 3), Variant(5.0));
    if (saved) setenv("ZEMBRA_REGISTRY", saved->c_str(), 1);
}

}  // namespace
