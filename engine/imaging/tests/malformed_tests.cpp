// Bad input: missing and unreadable files, and truncated, corrupt, oversized or
// unknown pictures, each refused with the right error and never a crash.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

// jpeglib.h needs <cstdio> first.
// clang-format off
#include <jpeglib.h>
// clang-format on

#include <zembra/text.hpp>

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
    const Limits exact{40 * 30 * 4};
    const Limits below{40 * 30 * 4 - 1};
    for (Format format : {Format::Png, Format::Jpeg, Format::Gif, Format::Bmp}) {
        const std::vector<uint8_t> bytes = encode(picture, format);
        const std::string path = writeTemp("limit", bytes);
        EXPECT_EQ(readPicture(path, exact).width, 40) << int(format);
        expectEngineError([&] { decode(bytes, "mem", below); }, "ZEMBRA_MAX_PICTURE_BYTES",
                          "decode");
        expectEngineError([&] { readPicture(path, below); }, "limit", "file");
        // The header alone tells the size, whatever the limit.
        EXPECT_EQ(readPictureSize(path), (PictureSize{40, 30, format}));
    }
    {
        ScopedEnv limit(kMaxPictureBytesVariable, "4800");
        EXPECT_EQ(Limits::fromEnvironment().maxBytes, 4800u);
    }
    for (const char* bad : {"", "0", "12x", "-5"}) {
        ScopedEnv unusable(kMaxPictureBytesVariable, std::string(bad));
        EXPECT_EQ(Limits::fromEnvironment().maxBytes, kDefaultMaxPictureBytes) << bad;
    }
    ScopedEnv unset(kMaxPictureBytesVariable, std::nullopt);
    EXPECT_EQ(Limits::fromEnvironment().maxBytes, kDefaultMaxPictureBytes);
    // One pixel above the default is refused, the default itself is not.
    const Limits byDefault;
    EXPECT_TRUE(byDefault.allows(kDefaultMaxPicturePixels, 1));
    EXPECT_FALSE(byDefault.allows(kDefaultMaxPicturePixels + 1, 1));
    EXPECT_FALSE(byDefault.allows(8193, 4096));
    EXPECT_FALSE(byDefault.allows(UINT64_MAX, UINT64_MAX));
    EXPECT_EQ(Limits::ofPixels(40'000'000).maxPixels(), 40'000'000u);
}

TEST(Malformed, PicturesInSealedMemoryFilesReadAsFromDisk) {
    // A file sealed against shrinking is mapped rather than read: whole, it gives the
    // same pixels; cut short before sealing, the same refusal. Both are larger than the
    // header read first, so the mapping is what is decoded.
    const std::vector<uint8_t> whole = encode(gradient(300, 200), Format::Bmp);
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(whole.size() / 2));
    ASSERT_GT(cut.size(), size_t(64 * 1024));
    for (const auto* bytes : {&whole, &cut}) {
        const int fd = ::memfd_create("sealed", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes->data(), bytes->size()), ssize_t(bytes->size()));
        ASSERT_EQ(::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW), 0);
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        const std::string file = writeTemp("sealed.bmp", *bytes);
        if (bytes == &whole) {
            EXPECT_EQ(readPicture(path).rgba, readPicture(file).rgba);
        } else {
            EXPECT_THROW(readPicture(file), Error);
            expectEngineError([&] { readPicture(path); }, path, "cut");
        }
        ::close(fd);
    }
}

// A memory file holding `bytes`, sealed with `seals`; its path is /proc/self/fd/<fd>.
struct MemoryFile {
    int fd = -1;
    MemoryFile(const std::vector<uint8_t>& bytes, int seals)
        : fd(::memfd_create("picture", MFD_CLOEXEC | MFD_ALLOW_SEALING)) {
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        EXPECT_EQ(::fcntl(fd, F_ADD_SEALS, seals), 0);
    }
    ~MemoryFile() { ::close(fd); }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd); }
};

TEST(Malformed, UnchangingMemoryFilesInTheRasterLayoutAreReadInPlace) {
    // A map drawn in memory: red, green, blue, alpha rows top-down after a page of header.
    const Picture drawn = gradient(640, 480);
    std::vector<uint8_t> bytes = bmpHeaderRgba(drawn.width, drawn.height, 4096);
    bytes.resize(4096, 0);
    bytes.insert(bytes.end(), drawn.rgba.begin(), drawn.rgba.end());
    const std::string onDisk = writeTemp("rgba.bmp", bytes);
    EXPECT_EQ(readPicture(onDisk).rgba, drawn.rgba) << "an ordinary BMP file to any reader";
    EXPECT_FALSE(readPicture(onDisk).rgba.isMapped());

    const MemoryFile sealed(bytes, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE);
    Picture first = readPicture(sealed.path());
    ASSERT_TRUE(first.rgba.isMapped());
    EXPECT_EQ(first.rgba, drawn.rgba);
    // Drawn on, the picture changes and the file does not: the engine reloads its map
    // from the file before each render, and must find it as drawn.
    first.rgba[0] = 1;
    first.rgba[first.rgba.size() - 1] = 2;
    const Picture second = readPicture(sealed.path());
    EXPECT_EQ(second.rgba, drawn.rgba);
    EXPECT_EQ(first.rgba[0], 1);
    // A copy holds bytes of its own; resizing copies them out of the file first.
    Picture copy = first;
    EXPECT_FALSE(copy.rgba.isMapped());
    EXPECT_EQ(copy.rgba, first.rgba);
    first.rgba.resize(8);
    EXPECT_FALSE(first.rgba.isMapped());
    EXPECT_EQ(first.rgba[0], 1);
    EXPECT_EQ(first.rgba[1], drawn.rgba[1]);
    // A picture kept after its file is gone still holds its pixels.
    Picture kept;
    {
        const MemoryFile gone(bytes, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE);
        kept = readPicture(gone.path());
    }
    EXPECT_EQ(kept.rgba, drawn.rgba);

    // A file that may still be written, and pictures in any other layout, are decoded
    // into memory of their own, to the same pixels.
    const MemoryFile writable(bytes, F_SEAL_SHRINK | F_SEAL_GROW);
    EXPECT_FALSE(readPicture(writable.path()).rgba.isMapped());
    EXPECT_EQ(readPicture(writable.path()).rgba, drawn.rgba);
    const MemoryFile bottomUp(encode(drawn, Format::Bmp),
                              F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE);
    EXPECT_FALSE(readPicture(bottomUp.path()).rgba.isMapped());
    EXPECT_EQ(readPicture(bottomUp.path()).rgba, drawn.rgba);
    // Cut short before sealing: refused as from disk.
    std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 4096);
    const MemoryFile shortFile(cut, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE);
    expectEngineError([&] { readPicture(shortFile.path()); }, shortFile.path(), "cut");
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
    const Limits limits{kLimit};
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
        if (readPicture(atLimit, limits).width != 2896) return 1;
        for (const std::string& path : {above, huge}) {
            try {
                readPicture(path, limits);
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

namespace zembra::imaging::test {
namespace {

// Every format of the table: what it writes is recognised, measured from its header and
// read back as that format; its names find it.
TEST(FormatTable, EachFormatRoundTripsThroughItsOwnEntry) {
    const Picture picture = gradient(37, 21);
    ASSERT_EQ(formats().size(), 4u);
    for (const FormatInfo& info : formats()) {
        SCOPED_TRACE(std::string(info.name));
        const std::vector<uint8_t> bytes = encode(picture, info.format);
        EXPECT_EQ(sniffFormat(bytes), &info);
        EXPECT_EQ(&formatInfo(info.format), &info);
        EXPECT_EQ(info.extensions.front(), info.name);
        EXPECT_EQ(formatForName(info.name), &info);
        for (const std::string_view extension : info.extensions) {
            EXPECT_EQ(formatForExtension(extension), &info);
            EXPECT_EQ(formatForExtension("." + lowerAscii(extension)), &info);
        }
        EXPECT_TRUE(info.mimeType.starts_with("image/"));
        const std::string path = writeTemp("table", bytes);
        EXPECT_EQ(readPictureSize(path), (PictureSize{37, 21, info.format}));
        EXPECT_EQ(decode(bytes, info.format, "table").width, 37);
    }
    EXPECT_EQ(formatForExtension("JPEG")->format, Format::Jpeg);
    EXPECT_EQ(formatForName("JPG"), nullptr);  // the engine's type is exact
    EXPECT_EQ(formatForName("jpeg"), nullptr);
    EXPECT_EQ(formatForExtension("tif"), nullptr);
    EXPECT_EQ(formatForExtension(""), nullptr);
    EXPECT_EQ(formatNames(), "jpg, gif, bmp or png");
    EXPECT_EQ(formatNames("."), ".jpg, .gif, .bmp or .png");
}

// The header reader finds a JPEG's frame behind fill bytes and metadata far beyond the
// first bytes, and refuses what states no size, without reading any pixels.
TEST(FormatTable, SizeFromTheHeaderOnly) {
    std::vector<uint8_t> jpeg = encode(gradient(33, 17), Format::Jpeg);
    // An APP1 segment of 65,000 bytes, three times, then fill bytes before the next marker.
    std::vector<uint8_t> padded(jpeg.begin(), jpeg.begin() + 2);
    for (int i = 0; i < 3; ++i) {
        padded.insert(padded.end(), {0xff, 0xe1, 0xfd, 0xea});
        padded.resize(padded.size() + 65000, 'x');
    }
    padded.insert(padded.end(), {0xff, 0xff, 0xff});
    padded.insert(padded.end(), jpeg.begin() + 2, jpeg.end());
    EXPECT_EQ(readPictureSize(writeTemp("padded.jpg", padded)),
              (PictureSize{33, 17, Format::Jpeg}));
    EXPECT_EQ(decode(padded, "padded").height, 17);

    // A header claiming far more than any limit is measured, not refused: the limits are
    // the decoder's question.
    const std::vector<uint8_t> huge{0x89, 'P',  'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0,    0,    0,
                                    13,   'I',  'H', 'D', 'R',  0,    0,    0x4E, 0x20, 0,    0,
                                    0x4E, 0x20, 8,   6,   0,    0,    0,    0x21, 0x0C, 0xD6, 0x3D};
    EXPECT_EQ(readPictureSize(writeTemp("huge.png", huge)),
              (PictureSize{20000, 20000, Format::Png}));
    EXPECT_FALSE(Limits{}.allows(20000, 20000));

    const std::vector<uint8_t> noFrame{0xff, 0xd8, 0xff, 0xda, 0x00, 0x08, 1, 2, 3, 4, 5, 6};
    for (const auto& [name, bytes] :
         {std::pair{"noframe.jpg", noFrame},
          std::pair{"short.png", std::vector<uint8_t>(huge.begin(), huge.begin() + 20)},
          std::pair{"text.jpg", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}},
          std::pair{"empty.bmp", std::vector<uint8_t>{}}}) {
        SCOPED_TRACE(name);
        const auto e = errorOf([&] { readPictureSize(writeTemp(name, bytes)); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->number(), err::kEngine);
        EXPECT_EQ(e->source(), "Pixam.CMap");
    }
    const auto missing = errorOf([&] { readPictureSize(::testing::TempDir() + "no/such.png"); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->number(), err::kFileNotFound);
}

}  // namespace
}  // namespace zembra::imaging::test
