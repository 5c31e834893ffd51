// Format detection and the helpers shared by the codecs.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <zembra/runtime.hpp>

#include "codec.hpp"

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
        fail(name, format,
             "picture has no pixels (" + std::to_string(width) + " x " + std::to_string(height) +
                 ")");
    }
    // Compared by division: width and height may come from any header.
    const uint64_t limit = maxPictureBytes();
    if (width > limit / 4 || height > limit / 4 / width) {
        fail(name, format,
             "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels is above the limit of " + std::to_string(limit) + " bytes decoded (" +
                 kMaxPictureBytesVariable + ")");
    }
}

void checkEncodable(const Picture& picture, std::string_view format) {
    if (picture.width <= 0 || picture.height <= 0) {
        failEncode(format, "there is no picture");
    }
    const uint64_t expected = uint64_t(picture.width) * uint64_t(picture.height) * 4;
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

namespace {

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// The frame header of a JPEG, found by walking the marker segments in `head`.
std::optional<Size> peekJpeg(std::span<const uint8_t> head) {
    size_t pos = 2;
    while (pos + 4 <= head.size()) {
        if (head[pos] != 0xff) return std::nullopt;
        const uint8_t marker = head[pos + 1];
        if (marker == 0xff) {  // fill byte
            ++pos;
            continue;
        }
        const size_t length = size_t(head[pos + 2]) << 8 | head[pos + 3];
        // Start of frame: every SOFn but DHT (C4), JPG (C8) and DAC (CC).
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 &&
            marker != 0xcc) {
            if (pos + 9 > head.size()) return std::nullopt;
            return Size{uint64_t(head[pos + 7]) << 8 | head[pos + 8],
                        uint64_t(head[pos + 5]) << 8 | head[pos + 6], "JPEG"};
        }
        if (length < 2) return std::nullopt;
        pos += 2 + length;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Size> peekSize(std::span<const uint8_t> head) {
    const uint8_t* p = head.data();
    const size_t n = head.size();
    if (n >= 24 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0 &&
        std::memcmp(p + 12, "IHDR", 4) == 0) {
        return Size{be32(p + 16), be32(p + 20), "PNG"};
    }
    if (n >= 10 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0)) {
        return Size{uint64_t(p[6] | p[7] << 8), uint64_t(p[8] | p[9] << 8), "GIF"};
    }
    if (n >= 26 && p[0] == 'B' && p[1] == 'M' && le32(p + 14) >= 40) {
        // Height is signed: negative for top-down rows.
        const auto height = int32_t(le32(p + 22));
        return Size{le32(p + 18), uint64_t(height < 0 ? -int64_t(height) : int64_t(height)), "BMP"};
    }
    if (n >= 3 && p[0] == 0xff && p[1] == 0xd8 && p[2] == 0xff) return peekJpeg(head);
    return std::nullopt;
}

}  // namespace detail

uint64_t maxPictureBytes() {
    const char* text = std::getenv(kMaxPictureBytesVariable);
    if (text == nullptr || *text == '\0') return kDefaultMaxPictureBytes;
    uint64_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc() || stop != end || value == 0) return kDefaultMaxPictureBytes;
    return value;
}

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
    detail::fail(nameForErrors, "picture", "format is unknown (not PNG, JPEG, GIF or BMP)");
}

Picture decode(std::span<const uint8_t> bytes, Format format, std::string_view nameForErrors) {
    switch (format) {
        case Format::Png:
            return detail::decodePng(bytes, nameForErrors);
        case Format::Jpeg:
            return detail::decodeJpeg(bytes, nameForErrors);
        case Format::Gif:
            return detail::decodeGif(bytes, nameForErrors);
        case Format::Bmp:
            return detail::decodeBmp(bytes, nameForErrors);
    }
    detail::fail(nameForErrors, "picture", "format is unknown");
}

std::vector<uint8_t> encode(const Picture& picture, Format format) {
    switch (format) {
        case Format::Png:
            return detail::encodePng(picture);
        case Format::Jpeg:
            return detail::encodeJpeg(picture, 90);
        case Format::Gif:
            return detail::encodeGif(picture);
        case Format::Bmp:
            return detail::encodeBmp(picture);
    }
    detail::failEncode("?", "the format is unknown");
}

}  // namespace zembra::imaging
