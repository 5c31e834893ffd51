// What every test folder needs: a private temporary folder, environment overrides for
// one scope, the Error a call raises, whole-file reads and writes, and the committed
// fixture files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <zembra/runtime.hpp>

namespace zembra::test {

// A fresh folder of its own for one test, removed (read-only parts included) at destruction.
class TempDir {
  public:
    // `tag` names the folder, to tell test leftovers apart when one is kept for inspection.
    explicit TempDir(const std::string& tag = "test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string operator/(const std::string& name) const { return file(name); }

  private:
    std::filesystem::path path_;
};

// Sets (or, with nullopt, removes) an environment variable for one scope and restores
// what was there before.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// Runs `f` and returns the zembra::Error it raised; records a test failure and returns
// nothing when it raised none.
std::optional<Error> errorOf(const std::function<void()>& f);

// The number of the Error `f` raises (0, with a recorded failure, when none).
int32_t errorNumber(const std::function<void()>& f);

std::vector<uint8_t> readBytes(const std::filesystem::path& path);
std::string readText(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void writeText(const std::filesystem::path& path, const std::string& text);

// A committed fixture file (zips.mdb, zips.xls: see testsupport/fixtures/README.md).
std::filesystem::path fixture(const std::string& name);

}  // namespace zembra::test
