// Format detection and the helpers shared by the codecs.
#include "codec.hpp"

#include <zembra/runtime.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace zembra::imaging {
namespace detail {

void fail(std::string_view name, std::string_view format, std::string_view problem) {
    std::string description;
    description.reserve(name.size() + format.size() + problem.size() + 4);
    description.append(name).append(": ").append(format).append(" ").append(problem);
    throw Error(err::kEngine, kSource, std::move(description));
}

void failEncode(std::string_view format, std::string_view problem) {
    std::string description("Cannot encode the picture as ");
    description.append(format).append(": ").append(problem);
    throw Error(err::kEngine, kSource, std::move(description));
}

void checkDimensions(uint64_t width, uint64_t height, std::string_view name,
                     std::string_view format) {
    if (width == 0 || height == 0) {
        fail(name, format, "picture has no pixels (" + std::to_string(width) + " x " +
                               std::to_string(height) + ")");
    }
    // Both factors fit in 32 bits (callers pass header fields), so the product cannot
    // overflow 64 bits; still compare by division to stay safe for any input.
    if (width > kMaxPixels || height > kMaxPixels / width) {
        fail(name, format,
             "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels is above the limit of " + std::to_string(kMaxPixels) + " pixels");
    }
}

void checkEncodable(const Picture& picture, std::string_view format) {
    if (picture.width <= 0 || picture.height <= 0) {
        failEncode(format, "there is no picture");
    }
    const uint64_t expected =
        uint64_t(picture.width) * uint64_t(picture.height) * 4;
    if (picture.rgba.size() != expected) {
        failEncode(format, "its pixel buffer does not match its size");
    }
}

bool isOpaque(const Picture& picture) {
    const uint8_t* p = picture.rgba.data();
    const size_t n = picture.rgba.size();
    for (size_t i = 3; i < n; i += 4) {
        if (p[i] != 255) return false;
    }
    return true;
}

}  // namespace detail

namespace {

struct Codec {
    std::string_view magic;
    Picture (*decode)(std::span<const uint8_t>, std::string_view);
};

constexpr std::array<Codec, 5> kCodecs{{
    {std::string_view("\x89PNG\r\n\x1a\n", 8), detail::decodePng},
    {std::string_view("\xff\xd8\xff", 3), detail::decodeJpeg},
    {"GIF87a", detail::decodeGif},
    {"GIF89a", detail::decodeGif},
    {"BM", detail::decodeBmp},
}};

}  // namespace

Picture decode(std::span<const uint8_t> bytes, std::string_view nameForErrors) {
    for (const Codec& codec : kCodecs) {
        if (bytes.size() >= codec.magic.size() &&
            std::memcmp(bytes.data(), codec.magic.data(), codec.magic.size()) == 0) {
            return codec.decode(bytes, nameForErrors);
        }
    }
    if (bytes.empty()) detail::fail(nameForErrors, "picture", "data is empty");
    detail::fail(nameForErrors, "picture",
                 "format is unknown (not PNG, JPEG, GIF or BMP)");
}

std::vector<uint8_t> encode(const Picture& picture, Format format) {
    switch (format) {
        case Format::Png: return detail::encodePng(picture, false);
        case Format::Jpeg: return detail::encodeJpeg(picture, 90);
        case Format::Gif: return detail::encodeGif(picture);
        case Format::Bmp: return detail::encodeBmp(picture);
    }
    detail::failEncode("?", "the format is unknown");
}

std::vector<uint8_t> encodeFastPng(const Picture& picture) {
    return detail::encodePng(picture, true);
}

}  // namespace zembra::imaging
