// BMP, read and written directly. Reading takes uncompressed 24- and 32-bit pictures
// (plain or with byte-aligned bit fields) and 1/4/8-bit palette pictures, bottom-up
// or top-down; compressed and other depths are refused. Writing makes 24-bit
// bottom-up files, the form every reader accepts.
#include <bit>
#include <cstring>

#include "codec.hpp"

namespace zembra::imaging::detail {
namespace {

constexpr size_t kFileHeader = 14;
constexpr uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// Byte position of a channel mask within a 32-bit pixel; -1 for no mask, -2 for one
// that is not a whole aligned byte.
int maskShift(uint32_t mask) {
    if (mask == 0) return -1;
    for (int shift = 0; shift < 32; shift += 8) {
        if (mask == 0xffu << shift) return shift;
    }
    return -2;
}

}  // namespace

Picture decodeBmp(std::span<const uint8_t> bytes, std::string_view name, const Limits& limits) {
    return decodeBmp(bytes, name, limits, nullptr);
}

Picture decodeBmp(std::span<const uint8_t> bytes, std::string_view name, const Limits& limits,
                  const InPlace* inPlace) {
    if (bytes.size() < kFileHeader + 12) fail(name, "BMP", "data is truncated in the header");
    const uint8_t* d = bytes.data();
    const uint32_t dataOffset = u32(d + 10);
    const uint32_t infoSize = u32(d + 14);

    int64_t width = 0, height = 0;
    uint32_t bits = 0, compression = kRgb, paletteCount = 0;
    uint32_t masks[4] = {0, 0, 0, 0};
    size_t paletteEntry = 4;
    if (infoSize == 12) {  // OS/2 core header: 16-bit sizes, 3-byte palette entries
        width = u16(d + 18);
        height = static_cast<int16_t>(u16(d + 20));
        bits = u16(d + 24);
        paletteEntry = 3;
    } else if (infoSize >= 40 && infoSize <= 1024) {
        if (bytes.size() < kFileHeader + infoSize)
            fail(name, "BMP", "data is truncated in the header");
        width = static_cast<int32_t>(u32(d + 18));
        height = static_cast<int32_t>(u32(d + 22));
        bits = u16(d + 28);
        compression = u32(d + 30);
        paletteCount = u32(d + 46);
        if (compression == kBitFields || compression == kAlphaBitFields) {
            // Masks follow a 40-byte header, or sit inside a larger one.
            const size_t at = kFileHeader + 40;
            const size_t count = compression == kAlphaBitFields ? 4 : 3;
            if (bytes.size() < at + count * 4) fail(name, "BMP", "data is truncated in the header");
            for (size_t i = 0; i < count; ++i) masks[i] = u32(d + at + i * 4);
            if (infoSize >= 56) masks[3] = u32(d + at + 12);
        }
    } else {
        fail(name, "BMP", "header of " + std::to_string(infoSize) + " bytes is not supported");
    }

    const bool topDown = height < 0;
    if (topDown) height = -height;  // int64: safe for INT32_MIN
    if (width <= 0) fail(name, "BMP", "width " + std::to_string(width) + " is invalid");
    checkDimensions(uint64_t(width), uint64_t(height), name, "BMP", limits);

    if (compression != kRgb &&
        !(bits == 32 && (compression == kBitFields || compression == kAlphaBitFields))) {
        fail(name, "BMP",
             "compression " + std::to_string(compression) + " at " + std::to_string(bits) +
                 " bits per pixel is not supported");
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
        fail(name, "BMP", std::to_string(bits) + " bits per pixel is not supported");
    }

    int shifts[4] = {16, 8, 0, -1};  // plain 32-bit: BGRx, the fourth byte unused
    if (bits == 32 && compression != kRgb) {
        for (int i = 0; i < 4; ++i) {
            shifts[i] = maskShift(masks[i]);
            if (shifts[i] == -2 || (i < 3 && shifts[i] < 0)) {
                fail(name, "BMP", "bit fields other than whole bytes are not supported");
            }
        }
    }

    // Palette for 1/4/8-bit pictures.
    std::vector<uint8_t> palette;
    if (bits <= 8) {
        const uint32_t maxEntries = 1u << bits;
        const uint32_t entries =
            paletteCount == 0 || paletteCount > maxEntries ? maxEntries : paletteCount;
        const size_t at = kFileHeader + infoSize;
        const size_t available = at <= bytes.size() ? (bytes.size() - at) / paletteEntry : 0;
        if (available < entries && paletteCount != 0)
            fail(name, "BMP", "data is truncated in the palette");
        palette.assign(size_t(maxEntries) * 3, 0);
        for (size_t i = 0; i < std::min<size_t>(entries, available); ++i) {
            const uint8_t* e = d + at + i * paletteEntry;
            palette[i * 3] = e[2];
            palette[i * 3 + 1] = e[1];
            palette[i * 3 + 2] = e[0];
        }
    }

    const uint64_t stride = ((uint64_t(width) * bits + 31) / 32) * 4;
    if (dataOffset > bytes.size() || (bytes.size() - dataOffset) / stride < uint64_t(height)) {
        fail(name, "BMP", "data is truncated in the pixels");
    }

    Picture picture;
    picture.width = static_cast<int32_t>(width);
    picture.height = static_cast<int32_t>(height);
    const size_t rasterBytes = size_t(width) * size_t(height) * 4;
    if (inPlace && bits == 32 && compression != kRgb && shifts[0] == 0 && shifts[1] == 8 &&
        shifts[2] == 16 && shifts[3] == 24 && topDown) {
        // Each pixel's bytes are red, green, blue and alpha already, rows top-down with no
        // padding (32-bit rows never have any): the file is the raster.
        picture.rgba =
            Raster::mapped(inPlace->mapping, inPlace->writable + dataOffset, rasterBytes);
        return picture;
    }
    allocateRaster(picture, rasterBytes);
    for (int64_t row = 0; row < height; ++row) {
        const uint8_t* src = d + dataOffset + size_t(row) * stride;
        const int64_t y = topDown ? row : height - 1 - row;
        uint8_t* out = picture.rgba.data() + size_t(y) * size_t(width) * 4;
        if (bits == 32 && compression == kRgb) {
            // Blue, green, red, unused: the layout drawing libraries keep, so the common
            // case of a large picture gets a loop the compiler can vectorise.
            for (int64_t x = 0; x < width; ++x) {
                const uint32_t v = u32(src + x * 4);
                const uint32_t rgba =
                    0xFF000000u | (v & 0xFF) << 16 | (v & 0xFF00) | ((v >> 16) & 0xFF);
                static_assert(std::endian::native == std::endian::little);
                std::memcpy(out + x * 4, &rgba, 4);  // bytes red, green, blue, 255
            }
            continue;
        }
        for (int64_t x = 0; x < width; ++x, out += 4) {
            switch (bits) {
                case 24: {
                    const uint8_t* p = src + x * 3;
                    out[0] = p[2], out[1] = p[1], out[2] = p[0], out[3] = 255;
                    break;
                }
                case 32: {
                    const uint32_t v = u32(src + x * 4);
                    for (int k = 0; k < 3; ++k) out[k] = uint8_t(v >> shifts[k]);
                    out[3] = shifts[3] < 0 ? 255 : uint8_t(v >> shifts[3]);
                    break;
                }
                default: {  // palette: pixels packed from the high bits down
                    const uint64_t bit = uint64_t(x) * bits;
                    const unsigned shift = 8 - bits - unsigned(bit % 8);
                    const unsigned index = (src[bit / 8] >> shift) & ((1u << bits) - 1);
                    std::memcpy(out, &palette[index * 3], 3);
                    out[3] = 255;
                }
            }
        }
    }
    return picture;
}

std::vector<uint8_t> encodeBmp(const Picture& picture) {
    checkEncodable(picture, "BMP");
    const uint64_t stride = ((uint64_t(picture.width) * 3) + 3) & ~uint64_t(3);
    const uint64_t pixelBytes = stride * uint64_t(picture.height);
    const uint64_t fileSize = kFileHeader + 40 + pixelBytes;
    if (fileSize > 0xffffffffu) failEncode("BMP", "it is too large for a BMP file");

    std::vector<uint8_t> out;
    out.reserve(size_t(fileSize));
    out.push_back('B');
    out.push_back('M');
    put32(out, uint32_t(fileSize));
    put32(out, 0);                 // reserved
    put32(out, kFileHeader + 40);  // pixel data offset
    put32(out, 40);                // info header size
    put32(out, uint32_t(picture.width));
    put32(out, uint32_t(picture.height));  // positive: bottom-up
    put16(out, 1);                         // planes
    put16(out, 24);                        // bits per pixel
    put32(out, kRgb);
    put32(out, uint32_t(pixelBytes));
    put32(out, 2835);  // 72 dots per inch, in pixels per metre
    put32(out, 2835);
    put32(out, 0);  // palette entries
    put32(out, 0);  // important colours
    const size_t width = size_t(picture.width);
    const size_t padding = size_t(stride) - width * 3;
    for (int64_t y = picture.height - 1; y >= 0; --y) {
        const uint8_t* p = picture.rgba.data() + size_t(y) * width * 4;
        for (size_t x = 0; x < width; ++x, p += 4) {
            out.push_back(p[2]);
            out.push_back(p[1]);
            out.push_back(p[0]);
        }
        out.insert(out.end(), padding, 0);
    }
    return out;
}

std::vector<uint8_t> bmpHeaderRgba(int32_t width, int32_t height, uint32_t dataOffset) {
    constexpr uint32_t kInfoV4 = 108;
    if (width <= 0 || height <= 0) failEncode("BMP", "it has no pixels");
    if (dataOffset < kFileHeader + kInfoV4)
        failEncode("BMP", "its pixels would overlap its header");
    const uint64_t pixelBytes = uint64_t(width) * 4 * uint64_t(height);
    const uint64_t fileSize = dataOffset + pixelBytes;
    if (fileSize > 0xffffffffu) failEncode("BMP", "it is too large for a BMP file");
    std::vector<uint8_t> out;
    out.reserve(kFileHeader + kInfoV4);
    out.push_back('B');
    out.push_back('M');
    put32(out, uint32_t(fileSize));
    put32(out, 0);
    put32(out, dataOffset);
    put32(out, kInfoV4);
    put32(out, uint32_t(width));
    put32(out, uint32_t(-height));  // negative: top-down
    put16(out, 1);
    put16(out, 32);
    put32(out, kBitFields);
    put32(out, uint32_t(pixelBytes));
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    // Red, green, blue and alpha masks: the bytes in that order.
    for (const uint32_t mask : {0x000000ffu, 0x0000ff00u, 0x00ff0000u, 0xff000000u})
        put32(out, mask);
    put32(out, 0x73524742);  // colour space "sRGB"; its end points and gammas unused
    out.resize(kFileHeader + kInfoV4, 0);
    return out;
}

}  // namespace zembra::imaging::detail

namespace zembra::imaging {

std::vector<uint8_t> bmpHeaderRgba(int32_t width, int32_t height, uint32_t dataOffset) {
    return detail::bmpHeaderRgba(width, height, dataOffset);
}

}  // namespace zembra::imaging
