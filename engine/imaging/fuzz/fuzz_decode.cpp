// libFuzzer entry: any bytes go through format detection and the decoders; what
// decodes is drawn onto a small canvas and encoded again, so the drawing and the
// encoders see every shape of picture the decoders can produce.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <zembra/runtime.hpp>

#include "imaging.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zembra::imaging;
    const std::span<const uint8_t> bytes(data, size);
    Picture picture;
    try {
        picture = decode(bytes, "fuzz");
    } catch (const zembra::Error& e) {
        if (e.number() != zembra::err::kEngine) __builtin_trap();
        return 0;
    }
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.rgba.size() != size_t(picture.width) * size_t(picture.height) * 4) {
        __builtin_trap();
    }
    if (uint64_t(picture.width) * uint64_t(picture.height) > 4096) return 0;

    // Position the picture from its own first bytes, often partly outside the canvas.
    int32_t x = 0, y = 0;
    if (size >= 16) {
        std::memcpy(&x, data + size - 8, 4);
        std::memcpy(&y, data + size - 4, 4);
        x %= 40;
        y %= 40;
    }
    Picture canvas{32, 24, std::vector<uint8_t>(32 * 24 * 4, 200)};
    Stamp(picture, kWhite).drawOnto(canvas, x, y);
    for (Format format : {Format::Gif, Format::Bmp}) {
        const Picture back = decode(encode(picture, format), "round trip");
        if (back.width != picture.width || back.height != picture.height) __builtin_trap();
    }
    return 0;
}
