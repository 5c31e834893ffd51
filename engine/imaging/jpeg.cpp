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

bool runEncode(Encoder& enc, const Picture& picture, int quality) {
    initErrors(enc.errors);
    enc.cinfo.err = &enc.errors.base;
    if (setjmp(enc.errors.jump)) return false;
    jpeg_create_compress(&enc.cinfo);
    enc.created = true;
    jpeg_mem_dest(&enc.cinfo, &enc.buffer, &enc.size);
    enc.cinfo.image_width = static_cast<JDIMENSION>(picture.width);
    enc.cinfo.image_height = static_cast<JDIMENSION>(picture.height);
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
    const size_t stride = size_t(picture.width) * 4;
    while (enc.cinfo.next_scanline < enc.cinfo.image_height) {
        // libjpeg's API takes non-const rows; it only reads them.
        JSAMPROW row = const_cast<JSAMPROW>(picture.rgba.data() + stride * enc.cinfo.next_scanline);
        jpeg_write_scanlines(&enc.cinfo, &row, 1);
    }
    jpeg_finish_compress(&enc.cinfo);
    return true;
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
    auto enc = std::make_unique<Encoder>();
    if (!runEncode(*enc, picture, quality)) {
        failEncode("JPEG", enc->errors.message);
    }
    return std::vector<uint8_t>(enc->buffer, enc->buffer + enc->size);
}

std::vector<uint8_t> encodeJpegAtQuality(const Picture& picture) {
    return encodeJpeg(picture, kJpegQuality);
}

}  // namespace zembra::imaging::detail
