// Pictures and checks shared by the imaging tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <zembra/runtime.hpp>
#include <zembra/test/support.hpp>

#include "imaging.hpp"

namespace zembra::imaging::test {

inline Picture solid(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b,
                     uint8_t a = 255) {
    Picture p{width, height, {}};
    for (int64_t i = 0; i < int64_t(width) * height; ++i) p.rgba.insert(p.rgba.end(), {r, g, b, a});
    return p;
}

// A smooth, photo-like picture: red rises left to right, green top to bottom, blue
// along the diagonal; thousands of distinct colours and no edges.
inline Picture gradient(int32_t width, int32_t height) {
    Picture p{width, height, {}};
    p.rgba.reserve(size_t(width) * size_t(height) * 4);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            p.rgba.push_back(uint8_t(x * 255 / std::max(1, width - 1)));
            p.rgba.push_back(uint8_t(y * 255 / std::max(1, height - 1)));
            p.rgba.push_back(uint8_t((x + y) * 255 / std::max(1, width + height - 2)));
            p.rgba.push_back(255);
        }
    }
    return p;
}

inline const uint8_t* pixel(const Picture& p, int32_t x, int32_t y) {
    return p.rgba.data() + (size_t(y) * size_t(p.width) + size_t(x)) * 4;
}

using zembra::test::errorOf;

// AddressSanitizer reserves terabytes of address space: it cannot run under an
// address-space limit, so the tests that set one are skipped in that build.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSpaceLimitWorks = false;
#else
inline constexpr bool kAddressSpaceLimitWorks = true;
#endif

// Runs f in a forked child after `prepare` (which returns false when it cannot set the
// child up) and returns what f returned (0..254), or -1 when the child could not be
// prepared or died otherwise (an exception escaping f counts as dying).
inline int runInChild(const std::function<bool()>& prepare, const std::function<int()>& f) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int result = 255;
        try {
            if (prepare()) result = f();
        } catch (...) {
        }
        ::_exit(result);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

// Runs f in a child process whose address space may grow by at most `bytes` beyond
// what it holds when f starts (an allocation beyond that ends it with std::bad_alloc).
inline int runWithMemoryLimit(uint64_t bytes, const std::function<int()>& f) {
    return runInChild(
        [bytes] {
            uint64_t current = 0;
            std::ifstream status("/proc/self/status");
            for (std::string line; std::getline(status, line);) {
                if (line.rfind("VmSize:", 0) == 0) current = std::stoull(line.substr(7)) * 1024;
            }
            const rlimit limit{current + bytes, current + bytes};
            return current != 0 && ::setrlimit(RLIMIT_AS, &limit) == 0;
        },
        f);
}

}  // namespace zembra::imaging::test
