// PNG through libspng.
#include <spng.h>

#include <memory>
#include <new>

#include "codec.hpp"

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

// Compression of every PNG written, chosen by measurement against zlib level 6 with
// adaptive filtering (the usual writer default): level 5 with the Sub filter on every
// row writes 1.03, 1.02 and 0.97 times its bytes for the USA map, the Alaska map and
// bench/speed.sh's map with 33,000 markers, in a third to a half of its time. Level 3,
// or the Paeth or Up filter alone, is faster but misses 5% on one of the three.
constexpr int kPngLevel = 5;
constexpr int kPngFilters = SPNG_FILTER_CHOICE_SUB;

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

// The settings for every PNG written: see kPngLevel.
void setCompression(spng_ctx* ctx) {
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, kPngLevel);
    spng_set_option(ctx, SPNG_FILTER_CHOICE, kPngFilters);
}

}  // namespace

Picture decodePng(std::span<const uint8_t> bytes, std::string_view name, const Limits& limits) {
    Ctx ctx = newContext(0, name);
    spng_set_chunk_limits(ctx.get(), kChunkSizeLimit, kChunkCacheLimit);
    if (int rc = spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size())) {
        failSpng(name, "data cannot be read", rc);
    }
    spng_ihdr ihdr{};
    if (int rc = spng_get_ihdr(ctx.get(), &ihdr)) failSpng(name, "header is invalid", rc);
    checkDimensions(ihdr.width, ihdr.height, name, "PNG", limits);

    size_t size = 0;
    if (int rc = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size)) {
        failSpng(name, "header is invalid", rc);
    }
    Picture picture;
    picture.width = static_cast<int32_t>(ihdr.width);
    picture.height = static_cast<int32_t>(ihdr.height);
    allocateRaster(picture, size);
    if (int rc = spng_decode_image(ctx.get(), picture.rgba.data(), size, SPNG_FMT_RGBA8,
                                   SPNG_DECODE_TRNS)) {
        failSpng(name, "data is corrupt or truncated", rc);
    }
    return picture;
}

std::vector<uint8_t> encodePng(const Picture& picture) {
    checkEncodable(picture, "PNG");
    const bool opaque = isOpaque(picture);
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
    out.reserve(imageSize / 3 + 1024);
    spng_set_png_stream(ctx.get(), appendToVector, &out);

    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(picture.width);
    ihdr.height = static_cast<uint32_t>(picture.height);
    ihdr.bit_depth = 8;
    ihdr.color_type = opaque ? SPNG_COLOR_TYPE_TRUECOLOR : SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    if (int rc = spng_set_ihdr(ctx.get(), &ihdr)) failEncode("PNG", spng_strerror(rc));
    setCompression(ctx.get());
    if (int rc =
            spng_encode_image(ctx.get(), image, imageSize, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE)) {
        if (rc == SPNG_IO_ERROR) throw std::bad_alloc();
        failEncode("PNG", spng_strerror(rc));
    }
    return out;
}

}  // namespace zembra::imaging::detail
