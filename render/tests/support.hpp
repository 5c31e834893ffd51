// Helpers of the render library's tests, over the shared test support.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <zembra/test/support.hpp>

namespace zembra::render::test {

namespace fs = std::filesystem;
using zembra::test::errorOf;
using zembra::test::readText;
using zembra::test::ScopedEnv;
using zembra::test::TempDir;

// Writes `bytes` to `name` in the folder and returns its path.
inline fs::path write(const TempDir& dir, const std::string& name, const std::string& bytes) {
    zembra::test::writeText(dir.path() / name, bytes);
    return dir.path() / name;
}

}  // namespace zembra::render::test
