// Internal to the imaging adapter: what the codec files share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imaging.hpp"

namespace zembra::imaging::detail {

inline constexpr const char* kSource = "Pixam.CMap";

// Raises the engine error (-2147220504, "Pixam.CMap") with the description
// "<name>: <format> <problem>", e.g. "map.png: PNG data is truncated".
[[noreturn]] void fail(std::string_view name, std::string_view format, std::string_view problem);

// Raises the engine error with "Cannot encode the picture as <format>: <problem>".
[[noreturn]] void failEncode(std::string_view format, std::string_view problem);

// Refuses dimensions that are zero or whose RGBA raster would exceed maxPictureBytes();
// call before allocating anything sized by a header.
void checkDimensions(uint64_t width, uint64_t height, std::string_view name,
                     std::string_view format);

// Refuses a picture that cannot be encoded (empty, or a buffer of the wrong size).
void checkEncodable(const Picture& picture, std::string_view format);

// True when every pixel has alpha 255.
bool isOpaque(const Picture& picture);

// The width and height a picture's header states, read from the first bytes of the
// file; nothing when they are not among those bytes (or the format is not known), which
// leaves the check to the decoder.
struct Size {
    uint64_t width;
    uint64_t height;
    const char* format;  // "PNG", "JPEG", "GIF" or "BMP", for messages
};
std::optional<Size> peekSize(std::span<const uint8_t> head);

Picture decodePng(std::span<const uint8_t> bytes, std::string_view name);
Picture decodeJpeg(std::span<const uint8_t> bytes, std::string_view name);
Picture decodeGif(std::span<const uint8_t> bytes, std::string_view name);
Picture decodeBmp(std::span<const uint8_t> bytes, std::string_view name);

std::vector<uint8_t> encodePng(const Picture& picture);
std::vector<uint8_t> encodeJpeg(const Picture& picture, int quality);
std::vector<uint8_t> encodeGif(const Picture& picture);
std::vector<uint8_t> encodeBmp(const Picture& picture);

// Colour reduction for GIF output. `indices` gets one palette index per pixel;
// the palette holds at most 256 RGB triples. Exact when the picture has at most
// 256 distinct colours (alpha is ignored), otherwise median cut refined on the
// colour histogram, with Floyd-Steinberg error diffusion.
struct Indexed {
    std::vector<uint8_t> palette;  // r, g, b triples
    std::vector<uint8_t> indices;
};
Indexed quantize(const Picture& picture);

}  // namespace zembra::imaging::detail
