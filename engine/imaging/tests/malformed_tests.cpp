// Bad input: missing and unreadable files, and truncated, corrupt, oversized or
// unknown pictures, each refused with the right error and never a crash.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

// jpeglib.h needs <cstdio> first.
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "test_support.hpp"

namespace fs = std::filesystem;

namespace zembra::imaging::test {
namespace {

void expectEngineError(const std::function<void()>& f, const std::string& mentions,
                       const std::string& context) {
    auto e = errorOf(f);
    ASSERT_TRUE(e) << context;
    EXPECT_EQ(e->number(), err::kEngine) << context << ": " << e->description();
    EXPECT_EQ(e->source(), "Pixam.CMap") << context;
    EXPECT_NE(e->description().find(mentions), std::string::npos)
        << context << ": " << e->description();
}

TEST(Malformed, EveryFileInTheFolderIsRefusedNamingIt) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(ZEMBRA_MALFORMED_DIR)) {
        const std::string path = entry.path().string();
        const std::string name = entry.path().filename().string();
        Imaging imaging;
        expectEngineError([&] { imaging.loadFromFile(path); }, path, name);
        if (name.starts_with("huge_")) {
            expectEngineError([&] { imaging.loadFromFile(path); }, "limit", name);
        }
        // The same bytes from memory name "bytes" instead of the file.
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        const std::string ext = entry.path().extension().string();
        const Format format = ext == ".jpg"   ? Format::Jpeg
                              : ext == ".gif" ? Format::Gif
                              : ext == ".bmp" ? Format::Bmp
                                              : Format::Png;
        expectEngineError([&] { imaging.loadFromBytes(format, bytes); }, "bytes", name);
        EXPECT_EQ(imaging.pictureWidth(), 0) << name << ": a failed load changes nothing";
        ++files;
    }
    EXPECT_GE(files, 15);
}

TEST(Malformed, EveryTruncationOfEachFormatIsRefused) {
    const Picture p = gradient(9, 7);
    for (Format format : {Format::Png, Format::Jpeg, Format::Gif, Format::Bmp}) {
        const auto whole = encode(p, format);
        // The last bytes (PNG's IDAT checksum and IEND, GIF's trailer, JPEG's end
        // marker) carry no pixels; a cut inside them may be accepted, but must then
        // give the whole picture.
        const size_t trailer = format == Format::Png ? 16 : 2;
        const Picture expected = decode(whole, "whole");
        for (size_t length = 0; length < whole.size(); ++length) {
            const std::span<const uint8_t> prefix(whole.data(), length);
            const std::string context =
                "format " + std::to_string(int(format)) + " cut at " + std::to_string(length);
            if (length + trailer < whole.size()) {
                expectEngineError([&] { (void)decode(prefix, "cut"); }, "cut", context);
            } else {
                try {
                    EXPECT_EQ(decode(prefix, "cut").rgba, expected.rgba) << context;
                } catch (const Error& e) {
                    EXPECT_EQ(e.number(), err::kEngine) << context;
                }
            }
        }
    }
}

TEST(Malformed, CorruptBytesNeverCrash) {
    // Flipping bytes anywhere may still give a picture (pixel data has no checks in
    // BMP or GIF) but must otherwise raise the engine error; the sanitizer build
    // turns any out-of-bounds access here into a failure.
    const Picture p = gradient(12, 10);
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (Format format : {Format::Png, Format::Jpeg, Format::Gif, Format::Bmp}) {
        const auto whole = encode(p, format);
        for (int trial = 0; trial < 300; ++trial) {
            auto bytes = whole;
            for (int flips = 1 + int(next() % 4); flips > 0; --flips) {
                bytes[next() % bytes.size()] ^= uint8_t(1 + next() % 255);
            }
            try {
                const Picture back = decode(bytes, "corrupt");
                EXPECT_EQ(back.rgba.size(), size_t(back.width) * size_t(back.height) * 4);
            } catch (const Error& e) {
                EXPECT_EQ(e.number(), err::kEngine) << e.description();
            }
        }
    }
}

using zembra::test::ScopedEnv;

std::string writeTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

// A flat grey progressive JPEG, written a row at a time: a few kilobytes of file whose
// decoding needs every coefficient of the picture at once.
std::string writeProgressiveJpeg(const std::string& name, int32_t width, int32_t height) {
    const std::string path = ::testing::TempDir() + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    for (int c = 0; c < cinfo.num_components; ++c) {
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    }
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(width) * 3, 128);
    JSAMPROW rows[] = {row.data()};
    while (cinfo.next_scanline < cinfo.image_height) jpeg_write_scanlines(&cinfo, rows, 1);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
    return path;
}

TEST(Malformed, CorruptJpegDataIsRefusedNotPaintedGrey) {
    // The first half of a picture with its end marker appended, and a picture whose
    // entropy-coded data has a run of bytes overwritten.
    const std::vector<uint8_t> whole = encode(gradient(64, 48), Format::Jpeg);
    std::vector<uint8_t> half(whole.begin(), whole.begin() + long(whole.size() / 2));
    half.insert(half.end(), {0xff, 0xd9});
    std::vector<uint8_t> damaged = whole;
    for (size_t i = whole.size() - 200; i < whole.size() - 150; ++i) damaged[i] = 0xff;
    for (const auto& [name, bytes] :
         {std::pair{"half.jpg", half}, std::pair{"damaged.jpg", damaged}}) {
        expectEngineError([&] { decode(bytes, name); }, "JPEG", name);
        expectEngineError([&] { readPicture(writeTemp(name, bytes)); }, name, name);
    }
}

TEST(Malformed, LimitCountsDecodedBytesAndIsConfigurable) {
    const Picture picture = gradient(40, 30);  // 4,800 bytes decoded
    for (Format format : {Format::Png, Format::Jpeg, Format::Gif, Format::Bmp}) {
        const std::vector<uint8_t> bytes = encode(picture, format);
        const std::string path = writeTemp("limit", bytes);
        {
            ScopedEnv limit(kMaxPictureBytesVariable, std::to_string(40 * 30 * 4));
            EXPECT_EQ(readPicture(path).width, 40) << int(format);
        }
        ScopedEnv limit(kMaxPictureBytesVariable, std::to_string(40 * 30 * 4 - 1));
        expectEngineError([&] { decode(bytes, "mem"); }, "ZEMBRA_MAX_PICTURE_BYTES", "decode");
        expectEngineError([&] { readPicture(path); }, "limit", "file");
    }
    for (const char* bad : {"", "0", "12x", "-5"}) {
        ScopedEnv unusable(kMaxPictureBytesVariable, std::string(bad));
        EXPECT_EQ(maxPictureBytes(), kDefaultMaxPictureBytes) << bad;
    }
    ScopedEnv unset(kMaxPictureBytesVariable, std::nullopt);
    EXPECT_EQ(maxPictureBytes(), kDefaultMaxPictureBytes);
}

TEST(Malformed, PaddedFilesAndFifosAreRefusedBeforeReading) {
    // A small picture padded far beyond what it could need, as a sparse file.
    std::vector<uint8_t> bytes = encode(gradient(40, 30), Format::Png);
    const std::string padded = writeTemp("padded.png", bytes);
    ASSERT_EQ(::truncate(padded.c_str(), off_t(1) << 30), 0);
    expectEngineError([&] { readPicture(padded); }, "bytes for it", "padded");
    std::remove(padded.c_str());
    // A FIFO never blocks the load.
    const std::string fifo = ::testing::TempDir() + "imaging_fifo.png";
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto e = errorOf([&] { readPicture(fifo); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), err::kPermissionDenied);
    std::remove(fifo.c_str());
}

TEST(Malformed, MemoryAtTheLimitStaysWithinTwoAndAHalfRasters) {
    if (!kAddressSpaceLimitWorks) GTEST_SKIP() << "no address-space limit under AddressSanitizer";
    // 2896 x 2896 RGBA is just under 32 MiB: the limit set here.
    constexpr uint64_t kLimit = uint64_t(32) << 20;
    ScopedEnv limit(kMaxPictureBytesVariable, std::to_string(kLimit));
    const std::string atLimit = writeProgressiveJpeg("imaging_at_limit.jpg", 2896, 2896);
    const std::string above = writeProgressiveJpeg("imaging_above_limit.jpg", 2897, 2896);
    // A 1-bit PNG header claiming 20000 x 20000 pixels behind a valid signature.
    const std::vector<uint8_t> oneBit{
        0x89, 'P',  'N',  'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I',  'H',  'D',  'R', 0,
        0,    0x4E, 0x20, 0,   0,    0x4E, 0x20, 1,    0, 0, 0, 0,  0x21, 0x0C, 0xD6, 0x3D};
    const std::string huge = writeTemp("imaging_one_bit.png", oneBit);
    // Two and a half rasters (the raster and libjpeg's coefficients), and room for the
    // libraries' tables and the allocator's own bookkeeping.
    const int result = runWithMemoryLimit(kLimit * 5 / 2 + (uint64_t(12) << 20), [&] {
        if (readPicture(atLimit).width != 2896) return 1;
        for (const std::string& path : {above, huge}) {
            try {
                readPicture(path);
                return 2;
            } catch (const Error& e) {
                if (e.number() != err::kEngine) return 3;
            }
        }
        return 0;
    });
    EXPECT_EQ(result, 0);
    for (const std::string& path : {atLimit, above, huge}) std::remove(path.c_str());
}

TEST(Malformed, MissingAndUnreadableFiles) {
    const std::string missing = ::testing::TempDir() + "imaging_no_such_picture.png";
    for (const std::string& path : {missing, std::string(), missing + "/below/a/file.png"}) {
        Imaging imaging;
        auto e = errorOf([&] { imaging.loadFromFile(path); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->number(), err::kFileNotFound) << path;
        EXPECT_EQ(e->description(), "File not found: " + path);
        EXPECT_EQ(e->source(), "Pixam.CMap");
    }
    Imaging imaging;
    auto e = errorOf([&] { imaging.loadFromFile(ZEMBRA_MALFORMED_DIR); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), err::kPermissionDenied) << "a folder is not a picture";
    EXPECT_NE(e->description().find(ZEMBRA_MALFORMED_DIR), std::string::npos);
}

}  // namespace
}  // namespace zembra::imaging::test
