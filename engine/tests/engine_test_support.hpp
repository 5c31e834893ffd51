// Shared helpers of the engine tests: a private folder, small generated pictures, and
// late-bound access to "Zembra.CMap" the way a real caller reaches it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <zembra/runtime.hpp>
#include <zembra/test/support.hpp>

#include "imaging.hpp"

namespace zembra::engine::test {

namespace fs = std::filesystem;

using zembra::test::errorNumber;
using zembra::test::errorOf;
using zembra::test::readBytes;
using zembra::test::ScopedEnv;
using zembra::test::TempDir;
using zembra::test::writeBytes;

struct Rgb {
    uint8_t r, g, b;
};
inline constexpr Rgb kMapColour{40, 90, 160};
inline constexpr Rgb kMarkerColour{220, 20, 20};

inline imaging::Picture solid(int32_t width, int32_t height, Rgb c) {
    imaging::Picture p{width, height, {}};
    p.rgba.reserve(size_t(width) * size_t(height) * 4);
    for (int64_t i = 0; i < int64_t(width) * height; ++i)
        p.rgba.insert(p.rgba.end(), {c.r, c.g, c.b, 255});
    return p;
}

inline std::string writePicture(const TempDir& dir, const std::string& name,
                                const imaging::Picture& picture, imaging::Format format) {
    const std::string path = dir.file(name);
    writeBytes(path, imaging::encode(picture, format));
    return path;
}

inline imaging::Picture decodeVariant(const Variant& bytes) {
    const std::vector<uint8_t> raw = bytes.toBytes();
    return imaging::decode(raw, "output");
}

// The bounding box of the pixels close to the marker colour (lossless formats only).
struct Box {
    int32_t left = -1, top = -1, right = -1, bottom = -1;  // inclusive
    int64_t count = 0;
};
inline Box markerBox(const imaging::Picture& p, Rgb c = kMarkerColour) {
    Box box;
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            const uint8_t* px = p.rgba.data() + (size_t(y) * size_t(p.width) + size_t(x)) * 4;
            if (px[0] != c.r || px[1] != c.g || px[2] != c.b) continue;
            if (box.count++ == 0) box = {x, y, x, y, 1};
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x);
            box.top = std::min(box.top, y);
            box.bottom = std::max(box.bottom, y);
        }
    }
    return box;
}

// A fresh engine object with a map (and marker) of the given sizes in `dir`.
inline Object newMap(const TempDir& dir, int32_t width = 1000, int32_t height = 500,
                     int32_t markerSize = 15) {
    Object map = createObject("Zembra.CMap");
    map.put("InputMapFile",
            writePicture(dir, "map.png", solid(width, height, kMapColour), imaging::Format::Png));
    map.put("InputOverlayFile",
            writePicture(dir, "marker.png", solid(markerSize, markerSize, kMarkerColour),
                         imaging::Format::Png));
    return map;
}

inline Variant array(std::vector<Variant> elements, int32_t lowerBound = 0) {
    return Variant::array(std::move(elements), lowerBound);
}

// The current picture, read back as PNG and decoded.
inline imaging::Picture currentPicture(Object& map) {
    const Variant saved = map.get("OutputImageType");
    map.put("OutputImageType", "png");
    imaging::Picture p = decodeVariant(map.get("OutputMap"));
    map.put("OutputImageType", saved);
    return p;
}

}  // namespace zembra::engine::test
