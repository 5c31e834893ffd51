// Internal to the imaging adapter: what the codec files share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// Raises 53 for a missing picture file (or an empty path) and the number of `error`
// otherwise (70 for a refusal), naming the file.
[[noreturn]] void failFile(int error, const std::string& path);

// An open file descriptor, closed on every path.
class FileHandle {
  public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Reads up to `count` bytes at the current position; fewer only at the end of the file.
// Raises as failFile does.
size_t readUpTo(int fd, uint8_t* dst, size_t count, const std::string& path);

// The headers of every format lie within this many first bytes, except a JPEG's behind
// large metadata.
inline constexpr size_t kHeadBytes = 64 * 1024;

// Raises the engine error for bytes of no known format ("data is empty" when there are none).
[[noreturn]] void failUnknownFormat(std::string_view name, bool empty);

// Raises the engine error with "Cannot encode the picture as <format>: <problem>".
[[noreturn]] void failEncode(std::string_view format, std::string_view problem);

// Refuses dimensions that are zero or whose RGBA raster would exceed the limits; call
// before allocating anything sized by a header.
void checkDimensions(uint64_t width, uint64_t height, std::string_view name,
                     std::string_view format, const Limits& limits);

// Refuses a picture that cannot be encoded (empty, or a buffer of the wrong size).
void checkEncodable(const Picture& picture, std::string_view format);

// Sizes the picture's raster to `bytes`, every byte zero. A large raster is first asked
// to be backed by huge pages where the system grants them on request: a map picture of
// tens of megabytes then costs a few dozen page faults instead of thousands.
void allocateRaster(Picture& picture, size_t bytes);

// True when every pixel has alpha 255.
bool isOpaque(const Picture& picture);

// The first bytes of a picture, and for a file the rest of it on demand, for reading the
// size its header states.
class HeaderBytes {
  public:
    // `head`: the first bytes; `fd`: the open file they came from (-1 for bytes in memory).
    explicit HeaderBytes(std::span<const uint8_t> head, int fd = -1) : head_(head), fd_(fd) {}
    // Copies up to `count` bytes from `offset` into `out`; fewer at the end of the data or
    // when the file cannot be read there.
    size_t read(uint64_t offset, uint8_t* out, size_t count) const;
    std::span<const uint8_t> head() const { return head_; }

  private:
    std::span<const uint8_t> head_;
    int fd_;
};

// The width and height a picture's header states, with the format's label for messages;
// nothing when the format is unknown or the header is not there to read, which leaves the
// check to the decoder.
struct Size {
    uint64_t width;
    uint64_t height;
    const char* format;  // the format's label
};
std::optional<Size> peekSize(const HeaderBytes& bytes);

bool pngHeaderSize(const HeaderBytes& bytes, uint64_t& width, uint64_t& height);
bool jpegHeaderSize(const HeaderBytes& bytes, uint64_t& width, uint64_t& height);
bool gifHeaderSize(const HeaderBytes& bytes, uint64_t& width, uint64_t& height);
bool bmpHeaderSize(const HeaderBytes& bytes, uint64_t& width, uint64_t& height);

Picture decodePng(std::span<const uint8_t> bytes, std::string_view name, const Limits& limits);
Picture decodeJpeg(std::span<const uint8_t> bytes, std::string_view name, const Limits& limits);
Picture decodeGif(std::span<const uint8_t> bytes, std::string_view name, const Limits& limits);
Picture decodeBmp(std::span<const uint8_t> bytes, std::string_view name, const Limits& limits);
// `bytes` lie in a private writable mapping that nothing else may change: a picture whose
// pixels are already the raster (32-bit red, green, blue, alpha, top-down, rows unpadded)
// keeps them where they are, and the raster holds `mapping`.
struct InPlace {
    std::shared_ptr<void> mapping;
    uint8_t* writable;  // bytes.data(), writable
};
Picture decodeBmp(std::span<const uint8_t> bytes, std::string_view name, const Limits& limits,
                  const InPlace* inPlace);

// The quality of every JPEG the system writes.
inline constexpr int kJpegQuality = 90;

std::vector<uint8_t> encodePng(const Picture& picture);
std::vector<uint8_t> encodeJpeg(const Picture& picture, int quality);
// The same encoded as `strips` horizontal strips, one per thread, joined into the same bytes.
std::vector<uint8_t> encodeJpegInStrips(const Picture& picture, int quality, int strips);
// The strips' file alone; nullopt where the picture is too small to split (under two blocks
// across, or fewer rows of blocks than strips and one) or a strip cannot be read back.
std::optional<std::vector<uint8_t>> encodeJpegStrips(const Picture& picture, int quality,
                                                     int strips);

// A JPEG file of one horizontal strip of a picture, as encodeJpeg writes it (baseline,
// full-resolution colour, no restart markers): its headers, its entropy-coded bits without
// the stuffed zero bytes, and where in them the codes of the strip's own rows lie.
struct JpegStrip {
    static constexpr size_t kSlack = 8;  // zero bytes after the bits, for word reads
    std::vector<uint8_t> header;         // up to the entropy-coded data
    size_t heightAt = 0;                 // where the header holds the picture's height
    std::vector<uint8_t> bits;
    uint64_t bitCount = 0;        // of `bits`, with the padding, without the slack
    uint64_t firstMcuEnd = 0;     // where the codes of the second MCU begin
    uint64_t begin = 0;           // where the strip's own rows begin
    std::optional<uint64_t> end;  // where they end, when the strip was read to its end
};
// Reads a strip whose first `skippedMcuRows` rows of 8 pixels repeat the strip above it,
// to its end if asked; nullopt for a file not of that kind.
std::optional<JpegStrip> readJpegStrip(std::span<const uint8_t> file, uint32_t skippedMcuRows,
                                       bool toEnd);
// The file of the whole picture, `height` rows, from its strips top to bottom, each but the
// first repeating one MCU row above it and the last read to its end; nullopt where a
// strip's end cannot be told.
std::optional<std::vector<uint8_t>> joinJpegStrips(std::span<const JpegStrip> strips,
                                                   uint32_t height);
std::vector<uint8_t> encodeJpegAtQuality(const Picture& picture);
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
