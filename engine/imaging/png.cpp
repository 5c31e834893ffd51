// PNG: libspng for pictures from outside, and a hand-written path for the engine's
// internal storage format (no filtering, stored deflate blocks): written and read here
// in one cache-friendly pass per 64 KiB block, about three times faster to write than
// through libspng, and somewhat faster to read.
#include "codec.hpp"

#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

namespace zembra::imaging::detail {
namespace {

struct CtxDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Ctx = std::unique_ptr<spng_ctx, CtxDeleter>;

Ctx newContext(int flags, std::string_view name) {
    Ctx ctx(spng_ctx_new(flags));
    if (!ctx) fail(name, "PNG", "codec could not be created");
    return ctx;
}

// Ancillary chunks (text, ICC profiles) are not used; bound what they may cost.
constexpr size_t kChunkSizeLimit = 16u << 20;
constexpr size_t kChunkCacheLimit = 64u << 20;

[[noreturn]] void failSpng(std::string_view name, std::string_view what, int code) {
    fail(name, "PNG", std::string(what) + ": " + spng_strerror(code));
}

// spng calls this from C; nothing may escape it.
int appendToVector(spng_ctx*, void* user, void* src, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(user);
    try {
        const auto* p = static_cast<const uint8_t*>(src);
        out->insert(out->end(), p, p + length);
    } catch (...) {
        return SPNG_IO_ERROR;
    }
    return 0;
}

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// A stored deflate block holds at most this many bytes.
constexpr size_t kStoredBlockMax = 65535;
// The longest chunk the format allows.
constexpr uint32_t kMaxChunkLength = 0x7fffffff;

void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint32_t crcOf(const uint8_t* p, size_t n) { return uint32_t(crc32_z(0, p, n)); }

// The unfiltered scanline stream of a picture (a 0 filter byte, then the row's pixels
// as RGB or RGBA), produced or consumed in pieces of any length; pieces may end inside
// a pixel, since stored blocks cut the stream every 64 KiB.
class Scanlines {
  public:
    Scanlines(size_t width, size_t height, size_t bytesPerPixel)
        : width_(width), height_(height), bpp_(bytesPerPixel), rowBytes_(1 + width * bpp_) {}

    size_t size() const { return rowBytes_ * height_; }
    bool complete() const { return row_ == height_; }
    // After writing RGB: whether every pixel written so far had alpha 255.
    bool allOpaque() const { return alphas_ == 255; }

    // Writes the next n bytes of the stream of `rgba` to dst.
    void write(const uint8_t* rgba, uint8_t* dst, size_t n) {
        while (n > 0) {
            if (col_ == 0) {
                *dst++ = 0;
                --n;
                col_ = 1;
                continue;
            }
            const size_t take = std::min(n, rowBytes_ - col_);
            const uint8_t* row = rgba + row_ * width_ * 4;
            if (bpp_ == 4) {
                std::memcpy(dst, row + (col_ - 1), take);
            } else {
                pack(row, col_ - 1, dst, take);
            }
            dst += take;
            n -= take;
            advance(take);
        }
    }

    // Reads the next n bytes of the stream into `rgba`; false when a row is filtered or
    // the data runs past the last row.
    bool read(uint8_t* rgba, const uint8_t* src, size_t n) {
        while (n > 0) {
            if (row_ == height_) return false;
            if (col_ == 0) {
                if (*src != 0) return false;
                ++src;
                --n;
                col_ = 1;
                continue;
            }
            const size_t take = std::min(n, rowBytes_ - col_);
            uint8_t* row = rgba + row_ * width_ * 4;
            if (bpp_ == 4) {
                std::memcpy(row + (col_ - 1), src, take);
            } else {
                unpack(src, row, col_ - 1, take);
            }
            src += take;
            n -= take;
            advance(take);
        }
        return true;
    }

  private:
    void advance(size_t taken) {
        col_ += taken;
        if (col_ == rowBytes_) {
            col_ = 0;
            ++row_;
        }
    }

    // RGBA row -> `count` RGB bytes starting at RGB byte `byte` of the row; the alpha
    // of every pixel completed is folded into alphas_.
    void pack(const uint8_t* row, size_t byte, uint8_t* dst, size_t count) {
        size_t component = byte % 3;
        const uint8_t* s = row + byte / 3 * 4 + component;
        unsigned alphas = alphas_;
        for (; count > 0 && component != 0; --count) {
            *dst++ = *s++;
            if (++component == 3) component = 0, alphas &= *s++;
        }
        // Whole pixels, four bytes at a time while the piece has room for the fourth,
        // which the next pixel overwrites.
        for (; count >= 4; count -= 3, s += 4, dst += 3) {
            std::memcpy(dst, s, 4);
            alphas &= s[3];
        }
        for (; count >= 3; count -= 3, s += 4, dst += 3) {
            dst[0] = s[0];
            dst[1] = s[1];
            dst[2] = s[2];
            alphas &= s[3];
        }
        for (size_t k = 0; k < count; ++k) dst[k] = s[k];
        alphas_ = alphas;
    }

    // `count` RGB bytes, the first being RGB byte `byte` of the row -> RGBA row, alpha
    // set as each pixel completes.
    static void unpack(const uint8_t* src, uint8_t* row, size_t byte, size_t count) {
        size_t component = byte % 3;
        uint8_t* d = row + byte / 3 * 4 + component;
        for (; count > 0 && component != 0; --count) {
            *d++ = *src++;
            if (++component == 3) component = 0, *d++ = 255;
        }
        // Whole pixels, four bytes at a time while the piece holds a fourth to read;
        // its place takes the alpha.
        if constexpr (std::endian::native == std::endian::little) {
            for (; count >= 4; count -= 3, src += 3, d += 4) {
                uint32_t word;
                std::memcpy(&word, src, 4);
                word |= 0xff000000u;
                std::memcpy(d, &word, 4);
            }
        }
        for (; count >= 3; count -= 3, src += 3, d += 4) {
            d[0] = src[0];
            d[1] = src[1];
            d[2] = src[2];
            d[3] = 255;
        }
        for (size_t k = 0; k < count; ++k) d[k] = src[k];
    }

    size_t width_, height_, bpp_, rowBytes_;
    size_t row_ = 0;
    size_t col_ = 0;
    unsigned alphas_ = 255;
};

// A zlib stream made only of stored blocks, fed in pieces as the IDAT chunks come.
// feed() returns false for anything else (compressed blocks, a preset dictionary, a
// wrong length or checksum, data after the end), leaving the picture to libspng.
class StoredInflater {
  public:
    StoredInflater(Scanlines& lines, uint8_t* rgba) : lines_(lines), rgba_(rgba) {}

    bool done() const { return state_ == State::Done; }

    bool feed(const uint8_t* p, size_t n) {
        while (n > 0) {
            if (state_ == State::Data) {
                const size_t take = std::min(n, remaining_);
                if (!lines_.read(rgba_, p, take)) return false;
                adler_ = uint32_t(adler32_z(adler_, p, take));
                p += take;
                n -= take;
                remaining_ -= take;
                if (remaining_ == 0) state_ = final_ ? State::Adler : State::Block;
                continue;
            }
            if (state_ == State::Done) return false;
            const size_t need = state_ == State::Header ? 2 : state_ == State::Block ? 5 : 4;
            const size_t take = std::min(n, need - have_);
            std::memcpy(pending_ + have_, p, take);
            have_ += take;
            p += take;
            n -= take;
            if (have_ < need) continue;
            have_ = 0;
            if (!headerComplete()) return false;
        }
        return true;
    }

  private:
    enum class State { Header, Block, Data, Adler, Done };

    bool headerComplete() {
        const uint8_t* h = pending_;
        switch (state_) {
            case State::Header:
                // Deflate, window within 32 KiB, a valid check value, no dictionary.
                if ((h[0] & 0x0f) != 8 || (h[0] >> 4) > 7 || (h[0] << 8 | h[1]) % 31 != 0 ||
                    (h[1] & 0x20) != 0) {
                    return false;
                }
                state_ = State::Block;
                return true;
            case State::Block: {
                if ((h[0] & 0x06) != 0) return false;  // not a stored block
                final_ = (h[0] & 1) != 0;
                const unsigned length = h[1] | h[2] << 8;
                const unsigned complement = h[3] | h[4] << 8;
                if ((length ^ 0xffff) != complement) return false;
                remaining_ = length;
                state_ = length > 0 ? State::Data : final_ ? State::Adler : State::Block;
                return true;
            }
            case State::Adler:
                if (get32(h) != adler_) return false;
                state_ = State::Done;
                return true;
            default:
                return false;
        }
    }

    Scanlines& lines_;
    uint8_t* rgba_;
    State state_ = State::Header;
    uint8_t pending_[5] = {};
    size_t have_ = 0;
    size_t remaining_ = 0;
    bool final_ = false;
    uint32_t adler_ = 1;
};

// Writes the internal format: one IDAT chunk per stored block, so each chunk's CRC
// is taken while its bytes are still in cache. When `opaque` is asked for and a pixel
// turns out not to be, returns an empty vector.
std::vector<uint8_t> encodeStoredPng(const Picture& picture, bool opaque) {
    const size_t width = size_t(picture.width);
    const size_t height = size_t(picture.height);
    Scanlines lines(width, height, opaque ? 3 : 4);
    const size_t raw = lines.size();
    const size_t blocks = (raw + kStoredBlockMax - 1) / kStoredBlockMax;
    // Signature, IHDR, per block a chunk frame and a block header, the zlib header and
    // Adler-32, IEND.
    std::vector<uint8_t> out(8 + 25 + blocks * (12 + 5) + raw + 2 + 4 + 12);
    uint8_t* p = out.data();
    std::memcpy(p, kSignature, 8);
    p += 8;
    put32(p, 13);
    std::memcpy(p + 4, "IHDR", 4);
    put32(p + 8, uint32_t(width));
    put32(p + 12, uint32_t(height));
    p[16] = 8;
    p[17] = opaque ? 2 : 6;
    p[18] = p[19] = p[20] = 0;
    put32(p + 21, crcOf(p + 4, 17));
    p += 25;

    uint32_t adler = 1;
    size_t left = raw;
    for (size_t block = 0; block < blocks; ++block) {
        const bool first = block == 0;
        const bool last = block + 1 == blocks;
        const size_t length = std::min(left, kStoredBlockMax);
        const size_t payload = (first ? 2 : 0) + 5 + length + (last ? 4 : 0);
        uint8_t* chunk = p;
        put32(p, uint32_t(payload));
        std::memcpy(p + 4, "IDAT", 4);
        p += 8;
        if (first) {
            *p++ = 0x78;  // deflate, 32 KiB window
            *p++ = 0x01;  // no dictionary, fastest; makes the header a multiple of 31
        }
        *p++ = last ? 1 : 0;
        p[0] = uint8_t(length);
        p[1] = uint8_t(length >> 8);
        p[2] = uint8_t(~length);
        p[3] = uint8_t(~length >> 8);
        p += 4;
        lines.write(picture.rgba.data(), p, length);
        if (opaque && !lines.allOpaque()) return {};
        adler = uint32_t(adler32_z(adler, p, length));
        p += length;
        if (last) {
            put32(p, adler);
            p += 4;
        }
        put32(p, crcOf(chunk + 4, 4 + payload));
        p += 4;
        left -= length;
    }
    put32(p, 0);
    std::memcpy(p + 4, "IEND", 4);
    put32(p + 8, crcOf(p + 4, 4));
    return out;
}

}  // namespace

bool decodeStoredPng(std::span<const uint8_t> bytes, std::string_view name, Picture& picture) {
    const uint8_t* data = bytes.data();
    const size_t size = bytes.size();
    if (size < 8 + 25 || std::memcmp(data, kSignature, 8) != 0) return false;
    const uint8_t* ihdr = data + 8;
    if (get32(ihdr) != 13 || std::memcmp(ihdr + 4, "IHDR", 4) != 0 ||
        get32(ihdr + 21) != crcOf(ihdr + 4, 17)) {
        return false;
    }
    const uint32_t width = get32(ihdr + 8);
    const uint32_t height = get32(ihdr + 12);
    const uint8_t colourType = ihdr[17];
    if (width == 0 || height == 0 || width > kMaxChunkLength || height > kMaxChunkLength ||
        ihdr[16] != 8 || (colourType != 2 && colourType != 6) || ihdr[18] != 0 ||
        ihdr[19] != 0 || ihdr[20] != 0) {
        return false;
    }
    checkDimensions(width, height, name, "PNG");

    picture.width = int32_t(width);
    picture.height = int32_t(height);
    picture.rgba.resize(size_t(width) * height * 4);
    Scanlines lines(width, height, colourType == 2 ? 3 : 4);
    StoredInflater inflater(lines, picture.rgba.data());
    for (size_t pos = 8 + 25;;) {
        if (size - pos < 12) return false;
        const uint32_t length = get32(data + pos);
        if (length > kMaxChunkLength || size - pos - 12 < length) return false;
        const uint8_t* type = data + pos + 4;
        if (get32(type + 4 + length) != crcOf(type, 4 + size_t(length))) return false;
        if (std::memcmp(type, "IDAT", 4) == 0) {
            if (!inflater.feed(type + 4, length)) return false;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            return inflater.done() && lines.complete();
        } else {
            return false;
        }
        pos += 12 + size_t(length);
    }
}

Picture decodePngWithLibrary(std::span<const uint8_t> bytes, std::string_view name) {
    Ctx ctx = newContext(0, name);
    spng_set_chunk_limits(ctx.get(), kChunkSizeLimit, kChunkCacheLimit);
    if (int rc = spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size())) {
        failSpng(name, "data cannot be read", rc);
    }
    spng_ihdr ihdr{};
    if (int rc = spng_get_ihdr(ctx.get(), &ihdr)) failSpng(name, "header is invalid", rc);
    checkDimensions(ihdr.width, ihdr.height, name, "PNG");

    size_t size = 0;
    if (int rc = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size)) {
        failSpng(name, "header is invalid", rc);
    }
    Picture picture;
    picture.width = static_cast<int32_t>(ihdr.width);
    picture.height = static_cast<int32_t>(ihdr.height);
    picture.rgba.resize(size);
    if (int rc = spng_decode_image(ctx.get(), picture.rgba.data(), size, SPNG_FMT_RGBA8,
                                   SPNG_DECODE_TRNS)) {
        failSpng(name, "data is corrupt or truncated", rc);
    }
    return picture;
}

Picture decodePng(std::span<const uint8_t> bytes, std::string_view name) {
    Picture picture;
    if (decodeStoredPng(bytes, name, picture)) return picture;
    return decodePngWithLibrary(bytes, name);
}

std::vector<uint8_t> encodePng(const Picture& picture, bool fast) {
    if (!fast) return encodePngWithLibrary(picture, false);
    checkEncodable(picture, "PNG");
    // Opaque pictures, the usual case, are written as RGB in one pass that also checks
    // the alpha; the others are written again as RGBA.
    std::vector<uint8_t> rgb = encodeStoredPng(picture, true);
    if (rgb.empty()) return encodeStoredPng(picture, false);
    return rgb;
}

std::vector<uint8_t> encodePngWithLibrary(const Picture& picture, bool storedUnfiltered) {
    checkEncodable(picture, "PNG");
    const bool opaque = isOpaque(picture);
    const bool fast = storedUnfiltered;
    const size_t pixels = size_t(picture.width) * size_t(picture.height);

    // An opaque picture is written as RGB: a quarter less to compress and store.
    std::vector<uint8_t> rgb;
    const uint8_t* image = picture.rgba.data();
    size_t imageSize = picture.rgba.size();
    if (opaque) {
        rgb.resize(pixels * 3);
        const uint8_t* s = picture.rgba.data();
        uint8_t* d = rgb.data();
        for (size_t i = 0; i < pixels; ++i, s += 4, d += 3) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
        image = rgb.data();
        imageSize = rgb.size();
    }

    Ctx ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) throw std::bad_alloc();
    std::vector<uint8_t> out;
    out.reserve(fast ? imageSize + imageSize / 1000 + 1024 : imageSize / 3 + 1024);
    spng_set_png_stream(ctx.get(), appendToVector, &out);

    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(picture.width);
    ihdr.height = static_cast<uint32_t>(picture.height);
    ihdr.bit_depth = 8;
    ihdr.color_type = opaque ? SPNG_COLOR_TYPE_TRUECOLOR : SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    if (int rc = spng_set_ihdr(ctx.get(), &ihdr)) failEncode("PNG", spng_strerror(rc));
    if (fast) {
        // Stored deflate blocks and no filtering: the internal copy is decoded again
        // within the same engine call, so speed matters more than size.
        spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_DISABLE_FILTERING);
        spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 0);
    }
    if (int rc = spng_encode_image(ctx.get(), image, imageSize, SPNG_FMT_PNG,
                                   SPNG_ENCODE_FINALIZE)) {
        if (rc == SPNG_IO_ERROR) throw std::bad_alloc();
        failEncode("PNG", spng_strerror(rc));
    }
    return out;
}

}  // namespace zembra::imaging::detail
