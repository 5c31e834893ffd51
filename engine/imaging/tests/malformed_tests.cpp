// Bad input: missing and unreadable files, and truncated, corrupt, oversized or
// unknown pictures, each refused with the right error and never a crash.
#include "test_support.hpp"

#include <filesystem>
#include <fstream>

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
            const std::string context = "format " + std::to_string(int(format)) + " cut at " +
                                        std::to_string(length);
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
