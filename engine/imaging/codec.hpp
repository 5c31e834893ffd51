// Internal to the imaging adapter: what the codec files share.
#pragma once

#include "imaging.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zembra::imaging::detail {

inline constexpr const char* kSource = "Pixam.CMap";

// Raises the engine error (-2147220504, "Pixam.CMap") with the description
// "<name>: <format> <problem>", e.g. "map.png: PNG data is truncated".
[[noreturn]] void fail(std::string_view name, std::string_view format, std::string_view problem);

// Raises the engine error with "Cannot encode the picture as <format>: <problem>".
[[noreturn]] void failEncode(std::string_view format, std::string_view problem);

// Refuses dimensions that are zero, above kMaxPixels or whose RGBA buffer would not
// fit in memory; call before allocating anything sized by a header.
void checkDimensions(uint64_t width, uint64_t height, std::string_view name,
                     std::string_view format);

// Refuses a picture that cannot be encoded (empty, or a buffer of the wrong size).
void checkEncodable(const Picture& picture, std::string_view format);

// True when every pixel has alpha 255.
bool isOpaque(const Picture& picture);

// Reads the internal format (see encodePng) directly and anything else through
// decodePngWithLibrary, which handles every PNG.
Picture decodePng(std::span<const uint8_t> bytes, std::string_view name);
Picture decodePngWithLibrary(std::span<const uint8_t> bytes, std::string_view name);
// Reads the internal format directly: IHDR (8-bit RGB or RGBA, not interlaced), IDAT
// chunks holding stored deflate blocks of unfiltered rows, IEND; every chunk's CRC and
// the stream's Adler-32 are checked. Returns false, `picture` then unspecified, for
// anything else, damage included, leaving it to libspng to read or report. Raises the
// engine error for a header above the pixel limit.
bool decodeStoredPng(std::span<const uint8_t> bytes, std::string_view name, Picture& picture);
Picture decodeJpeg(std::span<const uint8_t> bytes, std::string_view name);
Picture decodeGif(std::span<const uint8_t> bytes, std::string_view name);
Picture decodeBmp(std::span<const uint8_t> bytes, std::string_view name);

// fast: the engine's internal storage, unfiltered rows in stored deflate blocks.
std::vector<uint8_t> encodePng(const Picture& picture, bool fast);
// The same through libspng; storedUnfiltered asks it for the internal format's settings.
std::vector<uint8_t> encodePngWithLibrary(const Picture& picture, bool storedUnfiltered);
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
