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

#include "picture_formats.hpp"
#include "raster.hpp"

namespace zembra::imaging {

// A decoded picture, 8-bit RGBA, rows top to bottom.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    Raster rgba;
};

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kWhite{255, 255, 255};

// Codec layer (one source file per format, all named in the format table).
// Recognises the format by content.
Picture decode(std::span<const uint8_t> bytes, std::string_view nameForErrors,
               const Limits& limits = {});
// Decodes bytes that must be of the given format; other bytes raise the engine error.
Picture decode(std::span<const uint8_t> bytes, Format format, std::string_view nameForErrors,
               const Limits& limits = {});
std::vector<uint8_t> encode(const Picture& picture, Format format);
// The header of an uncompressed, top-down 32-bit BMP file whose pixel rows start at
// `dataOffset` (at least the header's 122 bytes) as width * 4 bytes of red, green, blue and
// alpha each: the decoded raster's own layout. A picture drawn in that layout into a memory
// file sealed against writing, shrinking and growing is read in place (see readPicture).
std::vector<uint8_t> bmpHeaderRgba(int32_t width, int32_t height, uint32_t dataOffset = 122);
// Reads and decodes a picture file. The file's size is checked against a cap and its
// header against the limits before the whole file is read or anything is sized by it.
// Raises 53 for a missing file, 70 for one that cannot be read, the engine error for a
// bad or oversized picture.
Picture readPicture(const std::string& path, const Limits& limits = {});

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
    explicit Imaging(Limits limits = {}) : limits_(limits) {}
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
    Limits limits_;
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
