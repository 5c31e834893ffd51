// Component registrations on disk and object creation by programmatic identifier.
//
// A registration is "<registry dir>/<progId>.component", a small text file:
//   progid=<identifier as registered>
//   library=<library path, relative to the registry directory>
// The relative path lets a build tree and an installed tree each find their own library.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <zembra/component.hpp>
#include <zembra/text.hpp>

#include "library.hpp"

#ifndef ZEMBRA_REL_LIB_TO_DATA
#error "ZEMBRA_REL_LIB_TO_DATA must name the data directory relative to the library directory"
#endif

namespace zembra {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kExtension = ".component";
constexpr const char* kEnvironment = "ZEMBRA_REGISTRY";

std::vector<fs::path> environmentEntries() {
    std::vector<fs::path> entries;
    const char* value = std::getenv(kEnvironment);
    if (!value) return entries;
    std::string_view rest(value);
    while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string_view entry = rest.substr(0, colon);
        if (!entry.empty()) entries.emplace_back(entry);
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return entries;
}

fs::path defaultDirectory() {
    try {
        const fs::path self = libraryPathOf(reinterpret_cast<const void*>(&registryDirectory));
        return (self.parent_path() / ZEMBRA_REL_LIB_TO_DATA / "registry").lexically_normal();
    } catch (const Error&) {
        return fs::path("registry");  // not reached: this function is in a loaded library
    }
}

Error registryFileError(int32_t fallback, const fs::path& path, const std::error_code& ec) {
    const int32_t number =
        ec.category() == std::generic_category() || ec.category() == std::system_category()
            ? fileErrorNumber(ec.value(), path.string(), fallback)
            : fallback;
    // Appended piece by piece: GCC 12 at -O3 takes "'" + string for an overlapping copy
    // (a false -Wrestrict).
    std::string description = "'";
    description.append(path.string()).append("': ").append(ec.message());
    return Error::standard(number, "Zembra", description);
}

void checkProgId(std::string_view progId) {
    const bool bad = progId.empty() || progId == "." || progId == ".." ||
                     progId.find_first_of(std::string_view("/\0\n\r", 4)) != std::string_view::npos;
    if (bad)
        throw Error::standard(err::kInvalidArgument, "Zembra",
                              "'" + std::string(progId) + "' is not a programmatic identifier");
}

// Registration files in `dir` whose identifier equals progId case-insensitively.
std::vector<fs::path> findRegistrations(const fs::path& dir, std::string_view progId) {
    std::vector<fs::path> found;
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path& file = it->path();
        const std::string name = file.filename().string();
        if (name.size() <= kExtension.size() || !name.ends_with(kExtension)) continue;
        if (equalsIgnoreCase(std::string_view(name).substr(0, name.size() - kExtension.size()),
                             progId))
            found.push_back(file);
    }
    return found;
}

struct Registration {
    std::string progId;
    fs::path library;
};

std::optional<Registration> readRegistration(const fs::path& file) {
    std::ifstream in(file);
    if (!in) return std::nullopt;
    Registration reg;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with("progid="))
            reg.progId = line.substr(7);
        else if (line.starts_with("library="))
            reg.library = line.substr(8);
    }
    if (reg.library.empty()) return std::nullopt;
    if (reg.library.is_relative())
        reg.library = (file.parent_path() / reg.library).lexically_normal();
    return reg;
}

[[noreturn]] void cannotCreate(std::string_view progId, const std::string& reason) {
    throw Error(err::kCantCreateObject, "Zembra",
                "Can't create object '" + std::string(progId) + "': " + reason);
}

std::string hex(int32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

}  // namespace

fs::path libraryPathOf(const void* addressInLibrary) {
    Dl_info info{};
    if (!addressInLibrary || dladdr(addressInLibrary, &info) == 0)
        throw Error::standard(err::kInvalidArgument, "Zembra", "address belongs to no loaded file");
    fs::path path = info.dli_fname ? fs::path(info.dli_fname) : fs::path();
    std::error_code ec;
    if (path.empty()) path = fs::read_symlink("/proc/self/exe", ec);  // the main program
    if (path.empty())
        throw Error::standard(err::kInvalidArgument, "Zembra", "address belongs to no loaded file");
    return fs::absolute(path, ec).lexically_normal();
}

fs::path registryDirectory() {
    auto entries = environmentEntries();
    return entries.empty() ? defaultDirectory() : entries.front();
}

std::vector<fs::path> registrySearchPath() {
    auto entries = environmentEntries();
    entries.push_back(defaultDirectory());
    return entries;
}

void registerComponent(std::string_view progId, const fs::path& library) {
    checkProgId(progId);
    const fs::path dir = registryDirectory();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw registryFileError(err::kPathNotFound, dir, ec);

    const fs::path absoluteDir = fs::absolute(dir, ec).lexically_normal();
    const fs::path target = fs::absolute(library, ec).lexically_normal();
    fs::path relative = target.lexically_relative(absoluteDir);
    if (relative.empty()) relative = target;

    // One registration per identifier: drop spellings that differ only in case.
    const fs::path file = dir / (std::string(progId) + std::string(kExtension));
    for (const auto& old : findRegistrations(dir, progId))
        if (old.filename() != file.filename()) fs::remove(old, ec);

    // Written beside and renamed over, so a reader never sees half a file.
    const fs::path temporary = file.string() + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "# Zembra component registration\n"
            << "progid=" << progId << "\n"
            << "library=" << relative.string() << "\n";
        out.close();
        if (!out) {
            fs::remove(temporary, ec);
            throw Error::standard(err::kPathFileAccess, "Zembra",
                                  "'" + file.string() + "': cannot be written");
        }
    }
    fs::rename(temporary, file, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw registryFileError(err::kPathFileAccess, file, ec);
    }
}

void unregisterComponent(std::string_view progId) {
    checkProgId(progId);
    for (const auto& file : findRegistrations(registryDirectory(), progId)) {
        std::error_code ec;
        fs::remove(file, ec);
        if (ec) throw registryFileError(err::kPathFileAccess, file, ec);
    }
}

Object createObject(std::string_view progId) {
    if (progId.empty() || progId.find('\0') != std::string_view::npos)
        cannotCreate(progId, "not a programmatic identifier");

    const auto searched = registrySearchPath();
    std::optional<Registration> registration;
    fs::path registrationFile;
    for (const auto& dir : searched) {
        const auto files = findRegistrations(dir, progId);
        if (files.empty()) continue;
        registrationFile = files.front();
        registration = readRegistration(registrationFile);
        if (!registration)
            cannotCreate(progId, "registration '" + registrationFile.string() +
                                     "' cannot be read or names no library");
        break;
    }
    if (!registration) {
        std::string list;
        for (const auto& dir : searched) list += (list.empty() ? "" : ", ") + dir.string();
        cannotCreate(progId, "not registered (searched " + list + ")");
    }
    if (registration->progId.empty()) registration->progId = std::string(progId);

    std::shared_ptr<Library> library;
    DllGetClassObjectFn getClassObject = nullptr;
    try {
        library = std::make_shared<Library>(registration->library);
        getClassObject = library->function<DllGetClassObjectFn>("DllGetClassObject");
    } catch (const Error& e) {
        cannotCreate(progId, e.description());
    }

    void* factory = nullptr;
    const int32_t result = getClassObject(registration->progId.c_str(), &factory);
    if (result < 0 || !factory)
        cannotCreate(progId, "'" + library->path().string() +
                                 "' does not provide the class (DllGetClassObject returned " +
                                 hex(result) + ")");

    std::shared_ptr<Dispatch> object;
    try {
        object = static_cast<ClassFactory*>(factory)->createInstance();
    } catch (const Error& e) {
        cannotCreate(progId, e.description());
    } catch (const std::exception& e) {
        cannotCreate(progId, e.what());
    }
    if (!object) cannotCreate(progId, "the class factory returned no object");
    return Object(std::move(object), std::move(library));
}

}  // namespace zembra
