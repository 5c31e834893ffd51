// Encoding and decoding each format, and the GIF palette's quality.
#include <gif_lib.h>

#include <cmath>
#include <cstdlib>
#include <set>

#include "codec.hpp"
#include "test_support.hpp"

namespace zembra::imaging::test {
namespace {

// Mean absolute difference per channel (RGB only).
double meanError(const Picture& a, const Picture& b) {
    double sum = 0;
    for (size_t i = 0; i < a.rgba.size(); ++i) {
        if (i % 4 != 3) sum += std::abs(int(a.rgba[i]) - int(b.rgba[i]));
    }
    return sum / double(a.rgba.size() / 4 * 3);
}

// A small "map": a few flat colours, a diagonal line and a marker-like blob; at most
// 256 colours, so GIF keeps it exactly.
Picture flatMap(int32_t width, int32_t height) {
    Picture p = solid(width, height, 200, 220, 240);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* px = p.rgba.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
            if (x < width / 3) px[0] = 90, px[1] = 160, px[2] = 70;
            if (x == y) px[0] = 0, px[1] = 0, px[2] = 0;
            if ((x - 20) * (x - 20) + (y - 10) * (y - 10) < 16) px[0] = 255, px[1] = 0, px[2] = 0;
        }
    }
    return p;
}

TEST(Codec, LosslessFormatsRoundTripPixelExact) {
    const Picture map = flatMap(37, 23);  // odd sizes exercise BMP row padding
    for (Format format : {Format::Png, Format::Bmp, Format::Gif}) {
        const Picture back = decode(encode(map, format), "round trip");
        EXPECT_EQ(back.width, map.width);
        EXPECT_EQ(back.height, map.height);
        EXPECT_EQ(back.rgba, map.rgba) << "format " << int(format);
    }
}

TEST(Codec, PngKeepsAlphaAndWritesOpaquePicturesAsRgb) {
    Picture translucent = gradient(16, 9);
    for (size_t i = 3; i < translucent.rgba.size(); i += 4) translucent.rgba[i] = uint8_t(i * 7);
    const auto bytes = encode(translucent, Format::Png);
    EXPECT_EQ(bytes[25], 6) << "colour type RGBA";
    EXPECT_EQ(decode(bytes, "png").rgba, translucent.rgba);
    const Picture opaque = gradient(16, 9);
    EXPECT_EQ(encode(opaque, Format::Png)[25], 2) << "colour type RGB";
    // Opaque but for the very last pixel: written as RGBA all the same.
    Picture lastTranslucent = gradient(1001, 70);
    lastTranslucent.rgba.back() = 254;
    const std::vector<uint8_t> png = encode(lastTranslucent, Format::Png);
    EXPECT_EQ(png[25], 6);
    EXPECT_EQ(decode(png, "last").rgba, lastTranslucent.rgba);
}

TEST(Codec, JpegRoundTripIsClose) {
    const Picture original = gradient(64, 48);
    const auto bytes = encode(original, Format::Jpeg);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0xff);
    EXPECT_EQ(bytes[1], 0xd8);
    const Picture back = decode(bytes, "jpeg");
    ASSERT_EQ(back.width, 64);
    ASSERT_EQ(back.height, 48);
    EXPECT_LT(meanError(original, back), 2.0);
    // A thin red line on white keeps its colour (no chroma smearing at quality 90).
    Picture line = solid(32, 32, 255, 255, 255);
    for (int32_t x = 0; x < 32; ++x) {
        uint8_t* px = line.rgba.data() + (size_t(16) * 32 + size_t(x)) * 4;
        px[1] = px[2] = 0;
    }
    const Picture lineBack = decode(encode(line, Format::Jpeg), "jpeg");
    const uint8_t* mid = pixel(lineBack, 16, 16);
    EXPECT_GT(mid[0], 200);
    EXPECT_LT(mid[1], 90);
    EXPECT_LT(mid[2], 90);
}

TEST(Codec, EncodedOutputHasNoAlpha) {
    // Transparent pixels are written as their colour; every format reads back opaque.
    Picture p = solid(4, 4, 10, 120, 230, 0);
    for (Format format : {Format::Bmp, Format::Gif, Format::Jpeg}) {
        const Picture back = decode(encode(p, format), "opaque");
        EXPECT_EQ(back.rgba[3], 255);
        EXPECT_NEAR(back.rgba[2], 230, 4) << int(format);
    }
}

TEST(Codec, GifOfPhotoHasSmallErrorAndNoBanding) {
    const Picture photo = gradient(320, 200);
    const auto bytes = encode(photo, Format::Gif);
    const Picture back = decode(bytes, "gif");
    ASSERT_EQ(back.width, photo.width);
    ASSERT_EQ(back.height, photo.height);
    // 64,000 colours into 256: dithering noise costs a few levels per pixel.
    EXPECT_LT(meanError(photo, back), 6.0);

    // Dithering keeps each neighbourhood's mean colour; banding would show as blocks
    // whose average is off by the distance between palette colours. At the picture's
    // border the gradient reaches 0 and 255, beyond the outermost palette colours
    // (box means), so the border blocks are allowed a little more.
    double worstInside = 0, worstBorder = 0;
    for (int32_t by = 0; by + 8 <= photo.height; by += 8) {
        for (int32_t bx = 0; bx + 8 <= photo.width; bx += 8) {
            const bool border =
                bx == 0 || by == 0 || bx + 8 == photo.width || by + 8 == photo.height;
            for (int c = 0; c < 3; ++c) {
                double a = 0, b = 0;
                for (int32_t y = by; y < by + 8; ++y) {
                    for (int32_t x = bx; x < bx + 8; ++x) {
                        a += pixel(photo, x, y)[c];
                        b += pixel(back, x, y)[c];
                    }
                }
                double& worst = border ? worstBorder : worstInside;
                worst = std::max(worst, std::abs(a - b) / 64);
            }
        }
    }
    EXPECT_LT(worstInside, 2.5);
    EXPECT_LT(worstBorder, 6.0);

    // Along a row the red channel still rises: averaged over 8 columns, no step back.
    for (int32_t y : {0, 100, 199}) {
        double previous = -1;
        for (int32_t bx = 0; bx + 8 <= photo.width; bx += 8) {
            double sum = 0;
            for (int32_t x = bx; x < bx + 8; ++x) sum += pixel(back, x, y)[0];
            EXPECT_GE(sum / 8, previous - 2.0) << "row " << y << " column " << bx;
            previous = sum / 8;
        }
    }
}

TEST(Codec, GifKeepsFlatAreasFlat) {
    // A flat area in a picture with too many colours must come out as one palette
    // colour close to the original, not a dithered mix.
    Picture p = gradient(128, 64);
    for (int32_t y = 0; y < 32; ++y) {
        for (int32_t x = 0; x < 64; ++x) {
            uint8_t* px = p.rgba.data() + (size_t(y) * 128 + size_t(x)) * 4;
            px[0] = 181, px[1] = 207, px[2] = 223;
        }
    }
    const Picture back = decode(encode(p, Format::Gif), "gif");
    std::set<uint32_t> colours;
    for (int32_t y = 4; y < 28; ++y) {
        for (int32_t x = 4; x < 60; ++x) {
            const uint8_t* px = pixel(back, x, y);
            colours.insert(uint32_t(px[0]) << 16 | px[1] << 8 | px[2]);
            EXPECT_LE(std::abs(px[0] - 181) + std::abs(px[1] - 207) + std::abs(px[2] - 223), 12);
        }
    }
    EXPECT_LE(colours.size(), 2u);
}

TEST(Codec, EncodersRefuseEmptyPictures) {
    const Picture empty;
    for (Format format : {Format::Png, Format::Jpeg, Format::Gif, Format::Bmp}) {
        auto e = errorOf([&] { (void)encode(empty, format); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->number(), err::kEngine);
        EXPECT_EQ(e->source(), "Pixam.CMap");
    }
}

// BMP variants other writers produce.
std::vector<uint8_t> bmpHeader(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                               uint32_t paletteEntries, size_t pixelBytes) {
    std::vector<uint8_t> b;
    auto put = [&](uint64_t v, int n) {
        for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
    };
    const uint32_t offset = 14 + 40 + paletteEntries * 4;
    b.push_back('B'), b.push_back('M');
    put(offset + pixelBytes, 4), put(0, 4), put(offset, 4);
    put(40, 4), put(uint32_t(width), 4), put(uint32_t(height), 4), put(1, 2), put(bits, 2);
    put(compression, 4), put(pixelBytes, 4), put(0, 4), put(0, 4), put(paletteEntries, 4),
        put(0, 4);
    return b;
}

TEST(Codec, BmpReadsTopDown32BitAndPalettePictures) {
    // 2 x 2, 32-bit, top-down: rows are stored first row first.
    auto top = bmpHeader(2, -2, 32, 0, 0, 16);
    const uint8_t pixels32[] = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 1, 2, 3, 0};
    top.insert(top.end(), std::begin(pixels32), std::end(pixels32));
    const Picture p = decode(top, "top-down");
    ASSERT_EQ(p.height, 2);
    EXPECT_EQ(std::vector<uint8_t>(p.rgba.begin(), p.rgba.begin() + 8),
              (std::vector<uint8_t>{255, 0, 0, 255, 0, 255, 0, 255}));
    EXPECT_EQ(std::vector<uint8_t>(p.rgba.begin() + 12, p.rgba.end()),
              (std::vector<uint8_t>{3, 2, 1, 255}));

    // 3 x 2, 4-bit palette, bottom-up, rows padded to 4 bytes.
    auto pal = bmpHeader(3, 2, 4, 0, 2, 8);
    const uint8_t palette[] = {0, 0, 0, 0, 255, 255, 255, 0};
    pal.insert(pal.end(), std::begin(palette), std::end(palette));
    const uint8_t rows[] = {0x10, 0x10, 0, 0, 0x01, 0x00, 0, 0};  // bottom row first
    pal.insert(pal.end(), std::begin(rows), std::end(rows));
    const Picture q = decode(pal, "palette");
    ASSERT_EQ(q.width, 3);
    auto white = [&](int x, int y) { return pixel(q, x, y)[0] == 255; };
    EXPECT_FALSE(white(0, 0));
    EXPECT_TRUE(white(1, 0));
    EXPECT_FALSE(white(2, 0));
    EXPECT_TRUE(white(0, 1));
    EXPECT_FALSE(white(1, 1));
    EXPECT_TRUE(white(2, 1));

    // Run-length compression is refused by name.
    auto rle = bmpHeader(2, 2, 8, 1, 0, 4);
    rle.resize(rle.size() + 1024 + 4);
    auto e = errorOf([&] { (void)decode(rle, "rle.bmp"); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), err::kEngine);
    EXPECT_NE(e->description().find("compression"), std::string::npos) << e->description();
}

// Writes a GIF the way animation tools do: interlaced first frame smaller than the
// screen, with a transparent index from a graphics control block.
std::vector<uint8_t> interlacedGif() {
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(
        &out,
        [](GifFileType* g, const GifByteType* b, int n) {
            auto* v = static_cast<std::vector<uint8_t>*>(g->UserData);
            v->insert(v->end(), b, b + n);
            return n;
        },
        &error);
    EGifSetGifVersion(gif, true);
    GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifPutScreenDesc(gif, 6, 12, 2, 0, map);
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = 0;
    GifByteType ext[4];
    const size_t n = EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(n), ext);
    EGifPutImageDesc(gif, 1, 0, 4, 10, true, nullptr);
    // Row r holds colour 1 + r % 3, except its first pixel, which is transparent.
    for (int r : {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}) {
        GifPixelType line[4] = {0, GifPixelType(1 + r % 3), GifPixelType(1 + r % 3),
                                GifPixelType(1 + r % 3)};
        EGifPutLine(gif, line, 4);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

TEST(Codec, GifReadsInterlacedFrameWithTransparency) {
    const Picture p = decode(interlacedGif(), "interlaced");
    ASSERT_EQ(p.width, 6);
    ASSERT_EQ(p.height, 12);
    for (int32_t y = 0; y < 12; ++y) {
        EXPECT_EQ(pixel(p, 0, y)[3], 0) << "outside the frame";
        EXPECT_EQ(pixel(p, 1, y)[3], 0) << "transparent index";
        EXPECT_EQ(pixel(p, 5, y)[3], 0) << "outside the frame";
        if (y < 10) {
            const uint8_t* px = pixel(p, 3, y);
            EXPECT_EQ(px[3], 255);
            EXPECT_EQ(px[(y % 3)], 255) << "row " << y;
        } else {
            EXPECT_EQ(pixel(p, 3, y)[3], 0);
        }
    }
}

}  // namespace
}  // namespace zembra::imaging::test

namespace zembra::imaging::test {
namespace {

// Pictures from another writer in the fuzzing seed corpus: 10 x 8 vertical
// gradients (top colour to bottom colour) in progressive and grey JPEG, palette,
// 16-bit and interlaced PNG, 4-bit and 32-bit bit-field BMP, and interlaced GIF.
TEST(Codec, DecodesVariantsOtherWritersProduce) {
    struct Case {
        const char* file;
        uint8_t top[3];
        uint8_t bottom[3];
    };
    const Case cases[] = {
        {"progressive.jpg", {255, 255, 0}, {0, 0, 128}},
        {"gray.jpg", {255, 255, 255}, {0, 0, 0}},
        {"palette.png", {255, 0, 0}, {0, 128, 0}},
        {"deep.png", {255, 0, 0}, {0, 128, 0}},
        {"interlaced.png", {255, 0, 0}, {0, 128, 0}},
        {"palette8.bmp", {255, 0, 0}, {0, 128, 0}},
        {"argb.bmp", {255, 0, 0}, {0, 128, 0}},
        {"interlaced.gif", {255, 0, 0}, {0, 128, 0}},
    };
    for (const Case& c : cases) {
        const std::string path = std::string(ZEMBRA_CORPUS_DIR) + "/" + c.file;
        Imaging imaging;
        imaging.loadFromFile(path);
        const Picture& p = imaging.picture();
        ASSERT_EQ(p.width, 10) << c.file;
        ASSERT_EQ(p.height, 8) << c.file;
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(pixel(p, 5, 0)[k], c.top[k], 40) << c.file << " top, channel " << k;
            EXPECT_NEAR(pixel(p, 5, 7)[k], c.bottom[k], 40) << c.file << " bottom, channel " << k;
        }
        EXPECT_EQ(pixel(p, 5, 4)[3], 255) << c.file;
    }
}

// Noise on a map: every byte value appears in the entropy-coded data, 0xFF (stuffed)
// included, and high qualities give codes longer than a quick look-up holds.
Picture noisyMap(int32_t width, int32_t height, uint32_t seed) {
    Picture p = flatMap(width, height);
    for (size_t i = 0; i < p.rgba.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        if (i % 4 != 3 && (seed >> 28) < 5) p.rgba[i] = uint8_t(seed >> 20);
    }
    return p;
}

// A picture encoded in strips on threads is the same file as from one encoder, whatever
// the content, size (rows and columns not whole blocks, two blocks across), quality and
// number of strips.
TEST(JpegStrips, SameBytesAsOneEncoder) {
    struct Case {
        const char* what;
        Picture picture;
    };
    const Case cases[] = {
        {"noise 257 x 203", noisyMap(257, 203, 7)},
        {"noise 16 x 400", noisyMap(16, 400, 11)},
        {"flat 640 x 97", flatMap(640, 97)},
        {"solid 300 x 64", solid(300, 64, 255, 255, 255)},
        {"gradient 123 x 457", gradient(123, 457)},
    };
    for (const Case& c : cases) {
        for (int quality : {10, detail::kJpegQuality, 100}) {
            const std::vector<uint8_t> one = detail::encodeJpegInStrips(c.picture, quality, 1);
            for (int strips : {2, 3, 4, 7}) {
                SCOPED_TRACE(std::string(c.what) + ", quality " + std::to_string(quality) + ", " +
                             std::to_string(strips) + " strips");
                const auto joined = detail::encodeJpegStrips(c.picture, quality, strips);
                ASSERT_TRUE(joined);
                EXPECT_EQ(*joined, one);
            }
        }
    }
    // The encoder every caller reaches, on a picture large enough to be split.
    const Picture large = noisyMap(700, 640, 3);
    EXPECT_EQ(encode(large, Format::Jpeg),
              detail::encodeJpegInStrips(large, detail::kJpegQuality, 1));
}

// Pictures too small to split, one block high or wide, are encoded whole.
TEST(JpegStrips, SmallPicturesAreEncodedWhole) {
    for (const Picture& p :
         {noisyMap(8, 300, 5), noisyMap(300, 8, 5), noisyMap(1, 1, 5), noisyMap(40, 32, 5)}) {
        SCOPED_TRACE(std::to_string(p.width) + " x " + std::to_string(p.height));
        const std::vector<uint8_t> one = detail::encodeJpegInStrips(p, detail::kJpegQuality, 1);
        EXPECT_FALSE(detail::encodeJpegStrips(p, detail::kJpegQuality, 4));
        EXPECT_EQ(detail::encodeJpegInStrips(p, detail::kJpegQuality, 4), one);
        EXPECT_EQ(decode(one, "strip").width, p.width);
    }
}

// The strip reader takes only files of the kind the encoder writes and reads damaged ones
// without reading past them; the joiner refuses what it cannot place.
TEST(JpegStrips, ReaderRefusesOtherFiles) {
    const std::vector<uint8_t> file =
        detail::encodeJpegInStrips(noisyMap(64, 48, 9), detail::kJpegQuality, 1);
    const auto strip = detail::readJpegStrip(file, 1, true);
    ASSERT_TRUE(strip);
    EXPECT_EQ(*strip->end + 8 > strip->bitCount, true);  // only padding after the last block
    EXPECT_GT(strip->begin, strip->firstMcuEnd);

    const auto find = [&](uint8_t marker) {
        for (size_t i = 0; i + 1 < file.size(); ++i)
            if (file[i] == 0xFF && file[i + 1] == marker) return i;
        return file.size();
    };
    const size_t sof = find(0xC0), sos = find(0xDA);
    ASSERT_LT(sos, file.size());

    std::vector<uint8_t> subsampled = file;
    subsampled[sof + 11] = 0x22;  // the first component's sampling factors
    EXPECT_FALSE(detail::readJpegStrip(subsampled, 0, true));

    std::vector<uint8_t> noEnd(file.begin(), file.end() - 2);
    EXPECT_FALSE(detail::readJpegStrip(noEnd, 0, false));

    std::vector<uint8_t> restart = file;
    const size_t data = sos + 2 + (size_t(file[sos + 2]) << 8 | file[sos + 3]);
    restart.insert(restart.begin() + ptrdiff_t(data + 20), {0xFF, 0xD0});
    EXPECT_FALSE(detail::readJpegStrip(restart, 0, false));

    // Data cut short inside the blocks, ended properly: the scan runs out and says so.
    std::vector<uint8_t> cut(file.begin(), file.begin() + ptrdiff_t(data + 30));
    cut.insert(cut.end(), {0xFF, 0xD9});
    EXPECT_FALSE(detail::readJpegStrip(cut, 0, true));
    EXPECT_FALSE(detail::readJpegStrip(std::span<const uint8_t>(file.data(), 3), 0, false));

    // Two strips of one block column: the repeated row has no codes after its first MCU,
    // so where the upper strip ends cannot be told.
    const std::vector<uint8_t> narrow =
        detail::encodeJpegInStrips(noisyMap(8, 64, 2), detail::kJpegQuality, 1);
    std::vector<detail::JpegStrip> strips{*detail::readJpegStrip(narrow, 0, false),
                                          *detail::readJpegStrip(narrow, 1, true)};
    EXPECT_FALSE(detail::joinJpegStrips(strips, 128));
}

}  // namespace
}  // namespace zembra::imaging::test
