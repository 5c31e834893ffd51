// Pictures and checks shared by the imaging tests.
#pragma once

#include "imaging.hpp"

#include <zembra/runtime.hpp>
#include <zembra/test/support.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

}  // namespace zembra::imaging::test
