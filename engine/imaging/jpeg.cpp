// JPEG through libjpeg-turbo.
//
// libjpeg reports fatal errors through error_exit, which must not return. Ours
// longjmps back into the one function that called setjmp (runDecode / runEncode);
// those functions keep no C++ objects with destructors in their own frame, and
// everything they fill lives in the caller, so the jump skips no destructor.
#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

// libjpeg's headers need <cstdio> first, and jerror.h needs jpeglib.h.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "codec.hpp"

namespace zembra::imaging::detail {
namespace {

// Progressive files with thousands of tiny scans are decoded slowly without being
// useful pictures; libjpeg's own tools refuse them similarly.
constexpr int kMaxScans = 1000;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto* mgr = reinterpret_cast<ErrorManager*>(cinfo->err);
    mgr->base.format_message(cinfo, mgr->message);
    std::longjmp(mgr->jump, 1);
}

// Warnings that mean the picture is incomplete or damaged are fatal: libjpeg would
// otherwise fill what it could not decode with grey and carry on without complaint.
bool isCorruptData(int code) {
    switch (code) {
        case JWRN_ARITH_BAD_CODE:
        case JWRN_BOGUS_PROGRESSION:
        case JWRN_EXTRANEOUS_DATA:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_JPEG_EOF:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
            return true;
        default:
            return false;
    }
}

void onMessage(j_common_ptr cinfo, int level) {
    auto* mgr = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0) {
        if (isCorruptData(mgr->base.msg_code)) onError(cinfo);
        mgr->base.num_warnings++;
    }
}

void onProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        auto* mgr = reinterpret_cast<ErrorManager*>(cinfo->err);
        std::snprintf(mgr->message, sizeof mgr->message, "has more than %d scans", kMaxScans);
        std::longjmp(mgr->jump, 1);
    }
}

void initErrors(ErrorManager& mgr) {
    jpeg_std_error(&mgr.base);
    mgr.base.error_exit = onError;
    mgr.base.emit_message = onMessage;
    mgr.message[0] = '\0';
}

struct Decoder {
    ErrorManager errors;
    jpeg_progress_mgr progress;
    jpeg_decompress_struct cinfo;
    bool created = false;
    ~Decoder() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

// Outcome of the setjmp-guarded part: the caller turns it into an Error.
enum class Step { Ok, Failed, TooLarge };

// Reads the header, checks the size, then decodes into picture. No objects with
// destructors live in this frame.
Step runDecode(Decoder& dec, std::span<const uint8_t> bytes, Picture& picture, uint64_t limit) {
    initErrors(dec.errors);
    dec.cinfo.err = &dec.errors.base;
    if (setjmp(dec.errors.jump)) return Step::Failed;
    jpeg_create_decompress(&dec.cinfo);
    dec.created = true;
    // A progressive or multi-scan file keeps every DCT coefficient until its last scan:
    // 1.5 times the RGBA raster for three full-resolution components. Bounding libjpeg's
    // own memory by 1.5 times the picture limit (and a little for its tables) keeps a
    // picture at the limit within about 2.5 times its raster; beyond that the decoder
    // fails, since it has no backing store to spill to.
    dec.cinfo.mem->max_memory_to_use =
        long(std::min<uint64_t>(limit / 2 * 3 + (uint64_t(16) << 20), LONG_MAX));
    dec.progress.progress_monitor = onProgress;
    dec.cinfo.progress = &dec.progress;
    jpeg_mem_src(&dec.cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&dec.cinfo, TRUE);
    if (dec.cinfo.image_width == 0 || dec.cinfo.image_height == 0 ||
        uint64_t(dec.cinfo.image_width) * dec.cinfo.image_height > limit / 4) {
        return Step::TooLarge;
    }
    const bool cmyk =
        dec.cinfo.jpeg_color_space == JCS_CMYK || dec.cinfo.jpeg_color_space == JCS_YCCK;
    dec.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&dec.cinfo);
    picture.width = static_cast<int32_t>(dec.cinfo.output_width);
    picture.height = static_cast<int32_t>(dec.cinfo.output_height);
    const size_t stride = size_t(picture.width) * 4;
    allocateRaster(picture, stride * size_t(picture.height));
    while (dec.cinfo.output_scanline < dec.cinfo.output_height) {
        JSAMPROW row = picture.rgba.data() + stride * dec.cinfo.output_scanline;
        jpeg_read_scanlines(&dec.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&dec.cinfo);
    if (cmyk) {
        // Adobe writes CMYK inverted; that is what nearly every CMYK JPEG is.
        uint8_t* p = picture.rgba.data();
        for (size_t i = 0, n = picture.rgba.size(); i < n; i += 4) {
            const unsigned k = p[i + 3];
            p[i] = static_cast<uint8_t>(p[i] * k / 255);
            p[i + 1] = static_cast<uint8_t>(p[i + 1] * k / 255);
            p[i + 2] = static_cast<uint8_t>(p[i + 2] * k / 255);
            p[i + 3] = 255;
        }
    }
    return Step::Ok;
}

struct Encoder {
    ErrorManager errors;
    jpeg_compress_struct cinfo;
    bool created = false;
    unsigned char* buffer = nullptr;  // malloc'd by jpeg_mem_dest
    unsigned long size = 0;
    ~Encoder() {
        if (created) jpeg_destroy_compress(&cinfo);
        std::free(buffer);
    }
};

// `height` rows of `width` pixels, 32-bit red, green, blue, alpha, unpadded.
struct Rows {
    const uint8_t* rgba;
    int32_t width;
    int32_t height;
};

bool runEncode(Encoder& enc, Rows rows, int quality) {
    initErrors(enc.errors);
    enc.cinfo.err = &enc.errors.base;
    if (setjmp(enc.errors.jump)) return false;
    jpeg_create_compress(&enc.cinfo);
    enc.created = true;
    jpeg_mem_dest(&enc.cinfo, &enc.buffer, &enc.size);
    enc.cinfo.image_width = static_cast<JDIMENSION>(rows.width);
    enc.cinfo.image_height = static_cast<JDIMENSION>(rows.height);
    enc.cinfo.input_components = 4;
    enc.cinfo.in_color_space = JCS_EXT_RGBA;  // alpha is ignored
    jpeg_set_defaults(&enc.cinfo);
    jpeg_set_quality(&enc.cinfo, quality, TRUE);
    // Full-resolution colour: maps have thin coloured lines and small markers that
    // 4:2:0 subsampling smears.
    for (int c = 0; c < enc.cinfo.num_components; ++c) {
        enc.cinfo.comp_info[c].h_samp_factor = 1;
        enc.cinfo.comp_info[c].v_samp_factor = 1;
    }
    enc.cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&enc.cinfo, TRUE);
    const size_t stride = size_t(rows.width) * 4;
    while (enc.cinfo.next_scanline < enc.cinfo.image_height) {
        // libjpeg's API takes non-const rows; it only reads them.
        JSAMPROW row = const_cast<JSAMPROW>(rows.rgba + stride * enc.cinfo.next_scanline);
        jpeg_write_scanlines(&enc.cinfo, &row, 1);
    }
    jpeg_finish_compress(&enc.cinfo);
    return true;
}

std::vector<uint8_t> encodeRows(Rows rows, int quality) {
    auto enc = std::make_unique<Encoder>();
    if (!runEncode(*enc, rows, quality)) {
        failEncode("JPEG", enc->errors.message);
    }
    return std::vector<uint8_t>(enc->buffer, enc->buffer + enc->size);
}

// Pictures below this many pixels (about a millisecond of encoding) are encoded on the
// calling thread alone: too little work to share out.
constexpr uint64_t kStripMinPixels = 1u << 18;
constexpr unsigned kMaxStrips = 4;

int stripsFor(const Picture& picture) {
    if (uint64_t(picture.width) * uint64_t(picture.height) < kStripMinPixels) return 1;
    return int(std::clamp(std::thread::hardware_concurrency(), 1u, kMaxStrips));
}

// Rows of whole MCUs (8 pixel rows) of `whole` from MCU row `first` to `last`, the one
// above `first` repeated at the top for its DC predictors unless `first` is the top.
std::optional<JpegStrip> encodeStrip(Rows whole, int quality, int32_t first, int32_t last,
                                     bool toEnd) {
    const int32_t top = (first > 0 ? first - 1 : 0) * 8;
    const int32_t bottom = std::min(whole.height, last * 8);
    const Rows rows{whole.rgba + size_t(top) * size_t(whole.width) * 4, whole.width, bottom - top};
    try {
        return readJpegStrip(encodeRows(rows, quality), first > 0 ? 1 : 0, toEnd);
    } catch (const std::exception&) {
        return std::nullopt;  // the caller encodes the whole picture, which reports it
    }
}

// The picture in `count` strips on as many threads, and its last MCU row as a strip of its
// own, read to its end to find where the codes stop before the padding.
std::optional<std::vector<uint8_t>> encodeStrips(Rows whole, int quality, int count) {
    const int32_t mcuRows = (whole.height + 7) / 8;
    if ((whole.width + 7) / 8 < 2 || mcuRows < count + 1) return std::nullopt;
    const auto boundary = [&](int i) { return int32_t(int64_t(mcuRows - 1) * i / count); };
    std::vector<std::optional<JpegStrip>> strips(static_cast<size_t>(count + 1));
    try {
        std::vector<std::jthread> workers;
        workers.reserve(size_t(count));
        for (int i = 1; i < count; ++i) {
            workers.emplace_back([&strips, &boundary, whole, quality, i] {
                strips[size_t(i)] =
                    encodeStrip(whole, quality, boundary(i), boundary(i + 1), false);
            });
        }
        strips[0] = encodeStrip(whole, quality, 0, boundary(1), false);
        strips[size_t(count)] = encodeStrip(whole, quality, mcuRows - 1, mcuRows, true);
    } catch (const std::system_error&) {
        return std::nullopt;  // no thread to be had: one encoder does it all
    }
    std::vector<JpegStrip> read;
    read.reserve(strips.size());
    for (auto& strip : strips) {
        if (!strip) return std::nullopt;
        read.push_back(std::move(*strip));
    }
    return joinJpegStrips(read, uint32_t(whole.height));
}

}  // namespace

Picture decodeJpeg(std::span<const uint8_t> bytes, std::string_view name, const Limits& limits) {
    auto dec = std::make_unique<Decoder>();
    Picture picture;
    switch (runDecode(*dec, bytes, picture, limits.maxBytes)) {
        case Step::Ok:
            return picture;
        case Step::TooLarge:
            checkDimensions(dec->cinfo.image_width, dec->cinfo.image_height, name, "JPEG", limits);
            fail(name, "JPEG", "header is invalid");
        case Step::Failed:
            break;
    }
    fail(name, "JPEG", std::string("data is corrupt or truncated: ") + dec->errors.message);
}

std::vector<uint8_t> encodeJpeg(const Picture& picture, int quality) {
    checkEncodable(picture, "JPEG");
    if (picture.width > JPEG_MAX_DIMENSION || picture.height > JPEG_MAX_DIMENSION) {
        failEncode("JPEG", "JPEG holds at most " + std::to_string(JPEG_MAX_DIMENSION) +
                               " pixels in either direction");
    }
    return encodeJpegInStrips(picture, quality, stripsFor(picture));
}

std::vector<uint8_t> encodeJpegInStrips(const Picture& picture, int quality, int strips) {
    if (strips > 1) {
        if (auto joined = encodeJpegStrips(picture, quality, strips)) return std::move(*joined);
    }
    // One encoder; also where strips failed, so that a real failure is reported as such.
    return encodeRows({picture.rgba.data(), picture.width, picture.height}, quality);
}

std::optional<std::vector<uint8_t>> encodeJpegStrips(const Picture& picture, int quality,
                                                     int strips) {
    return encodeStrips({picture.rgba.data(), picture.width, picture.height}, quality, strips);
}

std::vector<uint8_t> encodeJpegAtQuality(const Picture& picture) {
    return encodeJpeg(picture, kJpegQuality);
}

}  // namespace zembra::imaging::detail
