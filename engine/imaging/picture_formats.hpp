// The picture formats the system reads and writes, their names, extensions and MIME
// types, the size limit every decoder keeps, and a picture's size read from its header.
// Everything outside the imaging adapter that names a format or its extension reads it
// from the table here.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zembra::imaging {

struct Picture;

enum class Format { Png, Jpeg, Gif, Bmp };

// Decoded pictures are 8-bit RGBA.
inline constexpr uint64_t kBytesPerPixel = 4;

// Pictures whose decoded RGBA raster would exceed this many bytes are refused before
// memory is allocated for them: 128 MiB (33,554,432 pixels, such as 8000 x 4000), some
// fifteen times the largest shipped map (2000 x 1112). Every limit on a picture's size in
// the system starts from this one number.
inline constexpr uint64_t kDefaultMaxPictureBytes = uint64_t(128) << 20;
inline constexpr uint64_t kDefaultMaxPicturePixels = kDefaultMaxPictureBytes / kBytesPerPixel;
// The engine's override of the limit, read once when it loads.
inline constexpr const char* kMaxPictureBytesVariable = "ZEMBRA_MAX_PICTURE_BYTES";

// What a decode may allocate, passed in by each caller.
struct Limits {
    uint64_t maxBytes = kDefaultMaxPictureBytes;  // of the decoded RGBA raster

    // The limit of ZEMBRA_MAX_PICTURE_BYTES when it holds a positive whole number, else
    // the default.
    static Limits fromEnvironment();
    static Limits ofPixels(uint64_t pixels) noexcept;

    uint64_t maxPixels() const noexcept { return maxBytes / kBytesPerPixel; }
    // True when a picture of width x height pixels (any values) lies within the limit.
    bool allows(uint64_t width, uint64_t height) const noexcept;
};

namespace detail {
class HeaderBytes;
}

// One format: how it is recognised, read, measured and written, and how people and
// programs name it.
struct FormatInfo {
    Format format;
    // The engine's OutputImageType text and the extension written: "jpg".
    std::string_view name;
    // For messages: "JPEG".
    std::string_view label;
    // Extensions accepted, lower case without the dot, the name first: "jpg", "jpeg".
    std::span<const std::string_view> extensions;
    std::string_view mimeType;
    std::string_view description;
    // Leading bytes of a file of this format; any one of them recognises it.
    std::span<const std::string_view> signatures;
    // The width and height the header states; false when it is not there to read.
    bool (*headerSize)(const detail::HeaderBytes& bytes, uint64_t& width, uint64_t& height);
    Picture (*decode)(std::span<const uint8_t> bytes, std::string_view name, const Limits& limits);
    std::vector<uint8_t> (*encode)(const Picture& picture);
};

// Every format, in the order messages list them (JPEG, GIF, BMP, PNG).
std::span<const FormatInfo> formats() noexcept;
const FormatInfo& formatInfo(Format format) noexcept;
// The format of an extension or name, ignoring case, with or without the dot ("JPG",
// ".png", "jpeg"); nullptr for anything else.
const FormatInfo* formatForExtension(std::string_view extension) noexcept;
// The format of the format name exactly as written ("jpg", never "JPG" or "jpeg"), as the
// engine's OutputImageType takes it; nullptr for anything else.
const FormatInfo* formatForName(std::string_view name) noexcept;
// The format whose signature begins `bytes`; nullptr when none does.
const FormatInfo* sniffFormat(std::span<const uint8_t> bytes) noexcept;

// The format names joined for a message: "jpg, gif, bmp or png", with `prefix` before
// each (".jpg, .gif, .bmp or .png").
std::string formatNames(std::string_view prefix = {});

// A picture file's size as its header states it.
struct PictureSize {
    int32_t width = 0;
    int32_t height = 0;
    Format format = Format::Png;
    friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

// Reads the size from the header of the picture file, never its pixels: the first 64 KiB,
// and for a JPEG whose frame header lies further, the marker segments' headers only, so
// that reading it costs the same whatever the picture's size. Whether the picture may be
// decoded is the caller's question to its Limits. Raises 53 for a missing file, 70 for one
// that cannot be read, and the engine error (-2147220504, "Pixam.CMap") for a file of no
// known format, a header that states no size, or a size of no pixels or beyond 32 bits.
PictureSize readPictureSize(const std::string& path);

}  // namespace zembra::imaging
