// Format detection and the helpers shared by the codecs.
#include <sys/mman.h>

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

void failUnknownFormat(std::string_view name, bool empty) {
    if (empty) fail(name, "picture", "data is empty");
    fail(name, "picture", "format is unknown (not PNG, JPEG, GIF or BMP)");
}

void failEncode(std::string_view format, std::string_view problem) {
    std::string description("Cannot encode the picture as ");
    description.append(format).append(": ").append(problem);
    throw Error(err::kEngine, kSource, std::move(description));
}

void checkDimensions(uint64_t width, uint64_t height, std::string_view name,
                     std::string_view format, const Limits& limits) {
    if (width == 0 || height == 0) {
        fail(name, format,
             "picture has no pixels (" + std::to_string(width) + " x " + std::to_string(height) +
                 ")");
    }
    // Compared by division: width and height may come from any header.
    const uint64_t limit = limits.maxBytes;
    if (!limits.allows(width, height)) {
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

void allocateRaster(Picture& picture, size_t bytes) {
    constexpr size_t kHugePage = size_t(2) << 20;
    picture.rgba.clear();
    picture.rgba.reserve(bytes);
    if (bytes >= 2 * kHugePage) {
        // The whole huge pages inside the allocation. Advice only: refused, it costs nothing.
        const auto start = reinterpret_cast<uintptr_t>(picture.rgba.data());
        const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
        const uintptr_t last = (start + bytes) & ~(kHugePage - 1);
        if (last > first)
            (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
    picture.rgba.resize(bytes);
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

Picture decode(std::span<const uint8_t> bytes, std::string_view nameForErrors,
               const Limits& limits) {
    if (const FormatInfo* format = sniffFormat(bytes)) {
        return format->decode(bytes, nameForErrors, limits);
    }
    detail::failUnknownFormat(nameForErrors, bytes.empty());
}

Picture decode(std::span<const uint8_t> bytes, Format format, std::string_view nameForErrors,
               const Limits& limits) {
    return formatInfo(format).decode(bytes, nameForErrors, limits);
}

std::vector<uint8_t> encode(const Picture& picture, Format format) {
    return formatInfo(format).encode(picture);
}

}  // namespace zembra::imaging
