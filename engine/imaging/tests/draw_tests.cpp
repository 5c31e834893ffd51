// Drawing one picture onto another: transparency, alpha, clipping at any position.
#include <limits>

#include "test_support.hpp"

namespace zembra::imaging::test {
namespace {

// A 3 x 3 marker: white border pixels, a red centre, one fully transparent pixel and
// one half-transparent green one.
Picture marker() {
    Picture m = solid(3, 3, 255, 255, 255);
    auto set = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
        uint8_t* p = m.rgba.data() + (size_t(y) * 3 + size_t(x)) * 4;
        p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    };
    set(1, 1, 255, 0, 0, 255);
    set(0, 1, 0, 0, 0, 0);
    set(2, 1, 0, 255, 0, 128);
    return m;
}

void loadCanvas(Imaging& imaging, const Picture& picture) {
    imaging.loadFromBytes(Format::Bmp, encode(picture, Format::Bmp));
}

TEST(Draw, WhiteKeyAlphaAndBlending) {
    const auto markerPng = encode(marker(), Format::Png);
    Imaging imaging;
    loadCanvas(imaging, solid(6, 5, 0, 0, 200));
    imaging.transparentColor(kWhite);
    imaging.useTransparency(true);
    imaging.drawFromBytes(markerPng, Format::Png, 2, 1);
    const Picture& p = imaging.picture();
    EXPECT_EQ(std::vector<uint8_t>(pixel(p, 3, 2), pixel(p, 3, 2) + 4),
              (std::vector<uint8_t>{255, 0, 0, 255}));
    EXPECT_EQ(pixel(p, 2, 1)[2], 200) << "white is the transparent colour";
    EXPECT_EQ(pixel(p, 2, 2)[2], 200) << "alpha 0 is not copied";
    const uint8_t* blended = pixel(p, 4, 2);
    EXPECT_NEAR(blended[1], 128, 1);
    EXPECT_NEAR(blended[2], 100, 1);
    EXPECT_EQ(blended[3], 255);

    // Without transparency the white pixels are copied.
    imaging.useTransparency(false);
    imaging.drawFromBytes(markerPng, Format::Png, 2, 1);
    EXPECT_EQ(pixel(imaging.picture(), 2, 1)[0], 255);
}

TEST(Draw, OtherTransparentColour) {
    Imaging imaging;
    loadCanvas(imaging, solid(3, 3, 1, 2, 3));
    imaging.transparentColor(Rgb{255, 0, 0});
    imaging.useTransparency(true);
    imaging.drawFromBytes(encode(marker(), Format::Png), Format::Png, 0, 0);
    EXPECT_EQ(pixel(imaging.picture(), 1, 1)[0], 1) << "red is now the key";
    EXPECT_EQ(pixel(imaging.picture(), 0, 0)[0], 255) << "white is copied";
}

TEST(Draw, ClipsAtEveryEdgeAndFarOutside) {
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    const Picture canvas = gradient(7, 5);
    Picture source = solid(3, 4, 0, 0, 0);
    for (size_t i = 0; i < source.rgba.size(); i += 4) source.rgba[i] = uint8_t(10 + i);
    const auto sourcePng = encode(source, Format::Png);

    const int32_t xs[] = {kMin, kMin + 1, -1000, -3, -2,   -1,       0,   1,
                          4,    5,        6,     7,  1000, kMax - 2, kMax};
    const int32_t ys[] = {kMin, -4, -3, -1, 0, 2, 3, 4, 5, kMax - 1, kMax};
    for (int32_t x : xs) {
        for (int32_t y : ys) {
            Imaging imaging;
            loadCanvas(imaging, canvas);
            imaging.drawFromBytes(sourcePng, Format::Png, x, y);
            const Picture& p = imaging.picture();
            ASSERT_EQ(p.rgba.size(), canvas.rgba.size());
            for (int32_t cy = 0; cy < canvas.height; ++cy) {
                for (int32_t cx = 0; cx < canvas.width; ++cx) {
                    const int64_t sx = int64_t(cx) - x, sy = int64_t(cy) - y;
                    const bool covered =
                        sx >= 0 && sx < source.width && sy >= 0 && sy < source.height;
                    const uint8_t* expected =
                        covered ? pixel(source, int32_t(sx), int32_t(sy)) : pixel(canvas, cx, cy);
                    ASSERT_EQ(pixel(p, cx, cy)[0], expected[0])
                        << "drawn at " << x << "," << y << " pixel " << cx << "," << cy;
                }
            }
        }
    }
}

// Per-pixel drawing rules, as a reference for the run-based drawing.
Picture drawnByRule(Picture canvas, const Picture& source, int32_t x, int32_t y, bool keyed,
                    uint32_t key) {
    for (int32_t sy = 0; sy < source.height; ++sy) {
        for (int32_t sx = 0; sx < source.width; ++sx) {
            const int64_t cx = int64_t(x) + sx, cy = int64_t(y) + sy;
            if (cx < 0 || cy < 0 || cx >= canvas.width || cy >= canvas.height) continue;
            const uint8_t* s = pixel(source, sx, sy);
            uint8_t* d = const_cast<uint8_t*>(pixel(canvas, int32_t(cx), int32_t(cy)));
            const uint32_t rgb = uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2];
            if (s[3] == 0 || (keyed && rgb == key)) continue;
            const unsigned a = s[3], inverse = 255 - a;
            for (int k = 0; k < 3; ++k) d[k] = uint8_t((s[k] * a + d[k] * inverse + 127) / 255);
            d[3] = uint8_t(a + (d[3] * inverse + 127) / 255);
        }
    }
    return canvas;
}

TEST(Draw, MixedRowsMatchThePixelRulesForEveryKeyAndPosition) {
    // Rows mixing every kind of pixel: keyed white, opaque, translucent, transparent,
    // and a colour that is the key only in the second pass.
    Picture source = solid(9, 3, 255, 255, 255);
    const uint8_t kinds[][4] = {{255, 255, 255, 255}, {10, 20, 30, 255}, {200, 0, 0, 255},
                                {0, 90, 0, 100},      {5, 5, 5, 0},      {200, 0, 0, 255},
                                {10, 20, 30, 255},    {0, 0, 250, 30},   {255, 255, 255, 255}};
    for (int32_t y = 0; y < source.height; ++y) {
        for (int32_t x = 0; x < source.width; ++x) {
            const uint8_t* k = kinds[(x + y * 2) % 9];
            std::copy(k, k + 4, const_cast<uint8_t*>(pixel(source, x, y)));
        }
    }
    const auto sourcePng = encode(source, Format::Png);
    const Picture canvas = gradient(12, 4);
    struct Pass {
        bool keyed;
        Rgb colour;
        uint32_t key;
    };
    // One instance for all passes: the cached source must follow each setting change.
    Imaging imaging;
    for (const Pass pass : {Pass{true, kWhite, 0xffffff}, Pass{false, kWhite, 0xffffff},
                            Pass{true, Rgb{0xc8, 0, 0}, 0xc80000}, Pass{true, kWhite, 0xffffff}}) {
        imaging.transparentColor(pass.colour);
        imaging.useTransparency(pass.keyed);
        for (int32_t x = -9; x <= 12; ++x) {
            for (int32_t y : {-2, 0, 2}) {
                loadCanvas(imaging, canvas);
                imaging.drawFromBytes(sourcePng, Format::Png, x, y);
                ASSERT_EQ(imaging.picture().rgba,
                          drawnByRule(canvas, source, x, y, pass.keyed, pass.key).rgba)
                    << "at " << x << "," << y << " key " << pass.key << " on " << pass.keyed;
            }
        }
    }
}

TEST(Draw, RedrawsWhenTheBytesChangeAndAfterAFailure) {
    const auto red = encode(solid(2, 2, 255, 0, 0), Format::Png);
    const auto green = encode(solid(2, 2, 0, 255, 0), Format::Png);
    Imaging imaging;
    loadCanvas(imaging, solid(4, 2, 0, 0, 0));
    imaging.drawFromBytes(red, Format::Png, 0, 0);
    imaging.drawFromBytes(green, Format::Png, 2, 0);
    imaging.drawFromBytes(red, Format::Png, 1, 0);
    EXPECT_EQ(pixel(imaging.picture(), 0, 0)[0], 255);
    EXPECT_EQ(pixel(imaging.picture(), 2, 0)[0], 255);
    EXPECT_EQ(pixel(imaging.picture(), 3, 0)[1], 255);

    // A failed decode must not leave the previous source to be drawn for bad bytes.
    const std::vector<uint8_t> garbage{'n', 'o', 't', 'a', 'p', 'n', 'g'};
    EXPECT_TRUE(errorOf([&] { imaging.drawFromBytes(garbage, Format::Png, 0, 0); }));
    EXPECT_TRUE(errorOf([&] { imaging.drawFromBytes({}, Format::Png, 0, 0); }));
    imaging.drawFromBytes(green, Format::Png, 0, 0);
    EXPECT_EQ(pixel(imaging.picture(), 0, 0)[1], 255);
}

TEST(Draw, DeclaredFormatAndEmptyCanvas) {
    const auto png = encode(solid(2, 2, 9, 9, 9), Format::Png);
    Imaging imaging;
    imaging.drawFromBytes(png, Format::Png, 0, 0);  // nothing loaded: nothing to draw on
    EXPECT_EQ(imaging.pictureWidth(), 0);
    imaging.loadFromBytes(Format::Png, png);
    EXPECT_EQ(imaging.pictureWidth(), 2);
    // Bytes of another format than declared are refused, and the picture stays.
    for (Format other : {Format::Jpeg, Format::Gif, Format::Bmp}) {
        auto e = errorOf([&] { imaging.loadFromBytes(other, png); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->number(), err::kEngine);
        EXPECT_TRUE(errorOf([&] { imaging.drawFromBytes(png, other, 0, 0); }));
        EXPECT_EQ(imaging.pictureWidth(), 2);
    }
}

TEST(Draw, OperationsOfTheEngineSequences) {
    // Load a file, stamp markers, and read each output format back.
    const Picture map = gradient(40, 30);
    const std::string path = ::testing::TempDir() + "imaging_sequence_map.bmp";
    {
        const auto bytes = encode(map, Format::Bmp);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    Imaging loader;
    loader.loadFromFile(path);
    EXPECT_EQ(loader.pictureWidth(), 40);
    EXPECT_EQ(loader.pictureHeight(), 30);
    const auto stored = loader.bytes(Format::Png);
    std::remove(path.c_str());

    Imaging stamper;
    stamper.loadFromBytes(Format::Png, stored);
    stamper.transparentColor(kWhite);
    stamper.useTransparency(true);
    const auto markerPng = encode(marker(), Format::Png);
    for (int i = 0; i < 50; ++i)
        stamper.drawFromBytes(markerPng, Format::Png, i % 40 - 1, i % 30 - 1);
    const auto plotted = stamper.bytes(Format::Png);

    Imaging output;
    output.loadFromBytes(Format::Png, plotted);
    EXPECT_EQ(output.picture().rgba, stamper.picture().rgba);
    for (const auto& bytes :
         {output.bytes(Format::Gif), output.bytes(Format::Jpeg), output.bytes(Format::Bmp)}) {
        const Picture back = decode(bytes, "output");
        EXPECT_EQ(back.width, 40);
        EXPECT_EQ(back.height, 30);
    }
}

}  // namespace
}  // namespace zembra::imaging::test
