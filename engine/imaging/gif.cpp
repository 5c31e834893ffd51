// GIF through giflib. Decoding takes the first frame, composed onto the logical
// screen (pixels the frame does not cover are transparent); encoding writes one
// frame with a palette from quantize().
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "codec.hpp"

namespace zembra::imaging::detail {
namespace {

struct MemoryReader {
    std::span<const uint8_t> bytes;
    size_t position = 0;
};

// giflib calls these from C; nothing may escape them.
int readFromMemory(GifFileType* gif, GifByteType* dst, int length) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    if (length <= 0) return 0;
    const size_t n = std::min(size_t(length), reader->bytes.size() - reader->position);
    std::memcpy(dst, reader->bytes.data() + reader->position, n);
    reader->position += n;
    return static_cast<int>(n);
}

int appendToVector(GifFileType* gif, const GifByteType* src, int length) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    try {
        out->insert(out->end(), src, src + length);
    } catch (...) {
        return 0;
    }
    return length;
}

struct DecoderCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
struct EncoderCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};
struct MapFreer {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

std::string errorText(int code) {
    const char* text = GifErrorString(code);
    return text ? text : "unknown error";
}

[[noreturn]] void failGif(std::string_view name, std::string_view what, int code) {
    fail(name, "GIF", std::string(what) + ": " + errorText(code));
}

}  // namespace

Picture decodeGif(std::span<const uint8_t> bytes, std::string_view name, const Limits& limits) {
    MemoryReader reader{bytes, 0};
    int error = 0;
    std::unique_ptr<GifFileType, DecoderCloser> gif(DGifOpen(&reader, readFromMemory, &error));
    if (!gif) failGif(name, "header is invalid", error);

    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
            failGif(name, "data is corrupt or truncated", gif->Error);
        }
        if (type == TERMINATE_RECORD_TYPE) fail(name, "GIF", "data holds no picture");
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) {
                failGif(name, "data is corrupt or truncated", gif->Error);
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                GraphicsControlBlock gcb{};
                if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) {
                    transparent = gcb.TransparentColor;
                }
            }
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                    failGif(name, "data is corrupt or truncated", gif->Error);
                }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;

        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
            failGif(name, "frame header is invalid", gif->Error);
        }
        const GifImageDesc& frame = gif->Image;
        if (frame.Width <= 0 || frame.Height <= 0) fail(name, "GIF", "frame has no pixels");
        // A screen of 0 x 0 (seen in the wild) takes the frame's size.
        const uint64_t width = gif->SWidth > 0 ? uint64_t(gif->SWidth) : uint64_t(frame.Width);
        const uint64_t height = gif->SHeight > 0 ? uint64_t(gif->SHeight) : uint64_t(frame.Height);
        checkDimensions(width, height, name, "GIF", limits);
        checkDimensions(uint64_t(frame.Width), uint64_t(frame.Height), name, "GIF frame", limits);
        const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
        if (!map || map->ColorCount <= 0) fail(name, "GIF", "picture has no colour table");

        Picture picture;
        picture.width = static_cast<int32_t>(width);
        picture.height = static_cast<int32_t>(height);
        picture.rgba.assign(width * height * 4, 0);  // uncovered pixels are transparent

        std::vector<GifPixelType> line(size_t(frame.Width));
        // Interlaced frames store rows in four passes.
        static constexpr int kStart[] = {0, 4, 2, 1};
        static constexpr int kStep[] = {8, 8, 4, 2};
        const int passes = frame.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            const int start = frame.Interlace ? kStart[pass] : 0;
            const int step = frame.Interlace ? kStep[pass] : 1;
            for (int row = start; row < frame.Height; row += step) {
                if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
                    failGif(name, "data is corrupt or truncated", gif->Error);
                }
                const int64_t y = int64_t(frame.Top) + row;
                if (y < 0 || y >= int64_t(height)) continue;
                uint8_t* out = picture.rgba.data() + size_t(y) * width * 4;
                for (int col = 0; col < frame.Width; ++col) {
                    const int64_t x = int64_t(frame.Left) + col;
                    if (x < 0 || x >= int64_t(width)) continue;
                    const int index = line[size_t(col)];
                    if (index == transparent) continue;
                    uint8_t* px = out + size_t(x) * 4;
                    if (index < map->ColorCount) {
                        px[0] = map->Colors[index].Red;
                        px[1] = map->Colors[index].Green;
                        px[2] = map->Colors[index].Blue;
                    } else {
                        px[0] = px[1] = px[2] = 0;  // index past the table: black
                    }
                    px[3] = 255;
                }
            }
        }
        return picture;
    }
}

std::vector<uint8_t> encodeGif(const Picture& picture) {
    checkEncodable(picture, "GIF");
    if (picture.width > 65535 || picture.height > 65535) {
        failEncode("GIF", "GIF holds at most 65535 pixels in either direction");
    }
    const Indexed indexed = quantize(picture);

    const int colours = static_cast<int>(indexed.palette.size() / 3);
    int bits = 1;
    while ((1 << bits) < colours) ++bits;
    std::vector<GifColorType> table(size_t(1) << bits, GifColorType{0, 0, 0});
    for (int i = 0; i < colours; ++i) {
        table[size_t(i)] =
            GifColorType{indexed.palette[size_t(i) * 3], indexed.palette[size_t(i) * 3 + 1],
                         indexed.palette[size_t(i) * 3 + 2]};
    }
    std::unique_ptr<ColorMapObject, MapFreer> map(GifMakeMapObject(1 << bits, table.data()));
    if (!map) throw std::bad_alloc();

    std::vector<uint8_t> out;
    out.reserve(indexed.indices.size() / 2 + 1024);
    int error = 0;
    std::unique_ptr<GifFileType, EncoderCloser> gif(EGifOpen(&out, appendToVector, &error));
    if (!gif) failEncode("GIF", errorText(error));
    if (EGifPutScreenDesc(gif.get(), picture.width, picture.height, bits, 0, map.get()) ==
            GIF_ERROR ||
        EGifPutImageDesc(gif.get(), 0, 0, picture.width, picture.height, false, nullptr) ==
            GIF_ERROR) {
        failEncode("GIF", errorText(gif->Error));
    }
    // EGifPutLine takes a non-const row; it only reads it.
    auto* pixels = const_cast<GifPixelType*>(indexed.indices.data());
    for (int32_t y = 0; y < picture.height; ++y) {
        if (EGifPutLine(gif.get(), pixels + size_t(y) * size_t(picture.width), picture.width) ==
            GIF_ERROR) {
            failEncode("GIF", errorText(gif->Error));
        }
    }
    // Closing writes the trailer; it frees the handle whatever happens.
    if (EGifCloseFile(gif.release(), &error) == GIF_ERROR) {
        failEncode("GIF", errorText(error));
    }
    return out;
}

}  // namespace zembra::imaging::detail
