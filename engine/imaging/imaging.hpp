// The engine's imaging component: loads pictures (PNG, JPEG, GIF, BMP), draws one
// picture onto another with an optional transparent colour, and encodes the
// current picture as GIF, JPEG, BMP or PNG. One instance serves one engine
// operation; no picture lives in it between operations.
//
// Failures raise zembra::Error: a missing file 53 and an unreadable one 70 (the
// description names the file); a truncated, corrupt or unknown-format picture, or one
// above the pixel limit, raises number -2147220504 with source "Pixam.CMap" and a
// description naming the file or format and what is wrong.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zembra::imaging {

// Pictures above this many pixels are refused before memory is allocated for them.
inline constexpr uint64_t kMaxPixels = 100'000'000;

// A decoded picture, 8-bit RGBA, rows top to bottom.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgba;
};

enum class Format { Png, Jpeg, Gif, Bmp };

// Codec layer (one source file per format).
Picture decode(std::span<const uint8_t> bytes, std::string_view nameForErrors);
std::vector<uint8_t> encode(const Picture& picture, Format format);
// The engine's internal storage format: PNG with fast settings.
std::vector<uint8_t> encodeFastPng(const Picture& picture);

class Imaging {
public:
    Imaging();
    ~Imaging();
    Imaging(const Imaging&) = delete;
    Imaging& operator=(const Imaging&) = delete;

    // The current picture becomes the picture in the file (PNG, JPEG, GIF or BMP,
    // recognised by content). Raises 53 for a missing file, 70 for one that cannot
    // be read, the engine error for a bad picture; the current picture then stays.
    void loadFromFile(const std::string& path);
    int32_t pictureWidth() const;
    int32_t pictureHeight() const;
    void transparentColor(std::string_view rrggbb);  // six hex digits, else raises 5
    void useTransparency(bool use);
    // format: "png", "jpg", "jpeg", "gif" or "bmp" (any case; the bytes are recognised
    // by content), else raises 5. Bad bytes raise the engine error.
    void loadFromBytes(std::string_view format, std::span<const uint8_t> bytes);
    // Draws the decoded bytes with the top-left corner at (x, y); any position is
    // safe, the parts outside the current picture are clipped. The last decoded
    // source is kept, so drawing the same bytes again does not decode them again.
    void drawFromBytes(std::span<const uint8_t> bytes, std::string_view format, int32_t x,
                       int32_t y);
    // The current picture encoded; alpha is dropped (transparent pixels keep their
    // colour). Raise the engine error when there is no picture.
    std::vector<uint8_t> gifBytes() const;
    std::vector<uint8_t> jpegBytes() const;
    std::vector<uint8_t> bmpBytes() const;
    std::vector<uint8_t> pngBytes() const;  // fast internal settings
    // The current picture as a compressed PNG file, for pictures handed out or saved:
    // the internal form above is uncompressed and would make files several times larger.
    std::vector<uint8_t> pngFileBytes() const;

    const Picture& picture() const { return picture_; }

private:
    // The last drawn source, decoded once, as runs of pixels per row: runs to copy
    // as they are and runs to blend; keyed and fully transparent pixels are in none.
    struct Run {
        int32_t begin;
        int32_t end;
        bool blend;
    };
    struct Source {
        std::vector<uint8_t> bytes;  // as passed, to recognise them on the next draw
        Picture picture;
        // The settings the runs were built for.
        bool keyed = false;
        uint32_t key = 0;
        std::vector<Run> runs;
        std::vector<size_t> rowStart;  // runs of row r: [rowStart[r], rowStart[r + 1])
    };
    const Source& sourceFor(std::span<const uint8_t> bytes);

    Picture picture_;
    bool useTransparency_ = false;
    uint32_t transparent_ = 0xffffff;
    Source source_;
};

}  // namespace zembra::imaging
