// The engine's imaging component: loads pictures (PNG, JPEG, GIF, BMP), draws one
// picture onto another with an optional transparent colour, and encodes a picture as
// GIF, JPEG, BMP or PNG.
//
// Failures raise zembra::Error: a missing file 53 and an unreadable one 70 (the
// description names the file); a truncated, corrupt or unknown-format picture, or one
// above the size limits, raises number -2147220504 with source "Pixam.CMap" and a
// description naming the file or format and what is wrong.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zembra::imaging {

// Pictures whose decoded RGBA raster would exceed this many bytes are refused before
// memory is allocated for them: 128 MiB (32 million pixels, such as 8000 x 4000), some
// fifteen times the largest shipped map (2000 x 1112). ZEMBRA_MAX_PICTURE_BYTES
// overrides it for the process.
inline constexpr uint64_t kDefaultMaxPictureBytes = uint64_t(128) << 20;
inline constexpr const char* kMaxPictureBytesVariable = "ZEMBRA_MAX_PICTURE_BYTES";
// The limit in force: the environment variable when it holds a positive whole number,
// else the default. Read at every call, so a test or a host program may change it.
uint64_t maxPictureBytes();

// A decoded picture, 8-bit RGBA, rows top to bottom.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;
};

enum class Format { Png, Jpeg, Gif, Bmp };

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kWhite{255, 255, 255};

// Codec layer (one source file per format).
// Recognises the format by content.
Picture decode(std::span<const uint8_t> bytes, std::string_view nameForErrors);
// Decodes bytes that must be of the given format; other bytes raise the engine error.
Picture decode(std::span<const uint8_t> bytes, Format format, std::string_view nameForErrors);
std::vector<uint8_t> encode(const Picture& picture, Format format);
// The header of an uncompressed, top-down 32-bit BMP file whose pixel rows start at
// `dataOffset` (at least the header's 54 bytes) as width * 4 bytes of blue, green, red and
// an unused byte each: the layout 2D drawing libraries keep in memory, so a picture can be
// drawn straight into the file.
std::vector<uint8_t> bmpHeaderBgrx(int32_t width, int32_t height, uint32_t dataOffset = 54);
// Reads and decodes a picture file. The file's size is checked against a cap and its
// header against the pixel limit before the whole file is read or anything is sized by
// it. Raises 53 for a missing file, 70 for one that cannot be read, the engine error
// for a bad or oversized picture.
Picture readPicture(const std::string& path);

// A picture prepared for drawing many times: each row split into runs of pixels to
// copy as they are and runs to blend; transparent and keyed pixels are in none.
class Stamp {
  public:
    Stamp() = default;
    // `transparent`: pixels of this colour are not drawn.
    Stamp(const Picture& source, std::optional<Rgb> transparent);
    // Draws with the top-left corner at (x, y); any position is safe, the parts outside
    // the target are clipped. Allocates nothing, so it cannot fail.
    void drawOnto(Picture& target, int32_t x, int32_t y) const noexcept;
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

  private:
    struct Run {
        int32_t begin;
        int32_t end;
        bool blend;
    };
    int32_t width_ = 0;
    int32_t height_ = 0;
    std::vector<uint8_t> rgba_;
    std::vector<Run> runs_;
    std::vector<size_t> rowStart_;  // runs of row r: [rowStart_[r], rowStart_[r + 1])
};

// The operations in the shape the engine's imaging contract describes: one current
// picture, a transparent colour, drawing encoded pictures onto it, and encoding it.
class Imaging {
  public:
    // The current picture becomes the picture in the file (recognised by content); on
    // failure it stays as it was.
    void loadFromFile(const std::string& path);
    int32_t pictureWidth() const;
    int32_t pictureHeight() const;
    void transparentColor(Rgb colour);
    void useTransparency(bool use);
    // The current picture becomes the decoded bytes, which must be of `format`.
    void loadFromBytes(Format format, std::span<const uint8_t> bytes);
    // Draws the decoded bytes with the top-left corner at (x, y), clipped. The last
    // source is kept, so drawing the same bytes again does not decode them again.
    void drawFromBytes(std::span<const uint8_t> bytes, Format format, int32_t x, int32_t y);
    // The current picture encoded; alpha is dropped except in PNG. Raises the engine
    // error when there is no picture.
    std::vector<uint8_t> bytes(Format format) const;

    const Picture& picture() const { return picture_; }

  private:
    Picture picture_;
    bool useTransparency_ = false;
    Rgb transparent_ = kWhite;
    // The last drawn source: its bytes, to recognise them, and the stamp made of them
    // for the transparency settings it was made with.
    std::vector<uint8_t> sourceBytes_;
    Format sourceFormat_ = Format::Png;
    Picture source_;
    std::optional<std::optional<Rgb>> stampKey_;
    Stamp stamp_;
};

}  // namespace zembra::imaging
