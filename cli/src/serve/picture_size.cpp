#include "serve/picture_size.hpp"

#include <algorithm>
#include <array>
#include <fstream>

namespace zembra::serve {

namespace {

uint32_t big16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t big32(const uint8_t* p) { return big16(p) << 16 | big16(p + 2); }
uint32_t little16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }
uint32_t little32(const uint8_t* p) { return little16(p + 2) << 16 | little16(p); }

std::optional<PictureSize> sized(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return std::nullopt;
    return PictureSize{static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

// Walks the JPEG marker segments up to the first start-of-frame, reading only segment
// headers and skipping their bodies.
std::optional<PictureSize> jpegSize(std::istream& in) {
    in.seekg(2);
    std::array<uint8_t, 9> seg{};
    for (int segments = 0; segments < 1000; ++segments) {
        if (!in.read(reinterpret_cast<char*>(seg.data()), 4)) return std::nullopt;
        if (seg[0] != 0xFF) return std::nullopt;
        const uint8_t marker = seg[1];
        const uint32_t length = big16(&seg[2]);
        if (length < 2) return std::nullopt;
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 7 || !in.read(reinterpret_cast<char*>(seg.data()), 5)) return std::nullopt;
            return sized(big16(&seg[3]), big16(&seg[1]));
        }
        if (marker == 0xD9 || marker == 0xDA) return std::nullopt;
        in.seekg(length - 2, std::ios::cur);
    }
    return std::nullopt;
}

}  // namespace

std::optional<PictureSize> readPictureSize(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::array<uint8_t, 26> head{};
    if (!in.read(reinterpret_cast<char*>(head.data()), head.size())) return std::nullopt;
    static constexpr std::array<uint8_t, 8> kPng{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (std::equal(kPng.begin(), kPng.end(), head.begin())) {
        return sized(big32(&head[16]), big32(&head[20]));
    }
    if (head[0] == 'G' && head[1] == 'I' && head[2] == 'F') {
        return sized(little16(&head[6]), little16(&head[8]));
    }
    if (head[0] == 'B' && head[1] == 'M') {
        // The height is negative for a top-down picture.
        const auto height = static_cast<int32_t>(little32(&head[22]));
        return sized(static_cast<int32_t>(little32(&head[18])),
                     height < 0 ? -int64_t(height) : height);
    }
    if (head[0] == 0xFF && head[1] == 0xD8) {
        in.clear();
        return jpegSize(in);
    }
    return std::nullopt;
}

}  // namespace zembra::serve
