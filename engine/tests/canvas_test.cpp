// The canvas: loading, output in each format, saving, and bad picture files.
#include <sys/stat.h>
#include <unistd.h>

#include "engine_test_support.hpp"

namespace zembra::engine::test {
namespace {

TEST(Canvas, EveryOutputFormatDecodesBackToTheMapSize) {
    TempDir dir;
    Object map = newMap(dir, 64, 48);
    // A fresh object hands out GIF.
    const std::vector<uint8_t> gif = map.get("OutputMap").toBytes();
    ASSERT_GE(gif.size(), 6u);
    EXPECT_EQ(std::string(gif.begin(), gif.begin() + 3), "GIF");

    const std::pair<const char*, std::string> formats[] = {
        {"gif", "GIF8"}, {"jpg", "\xFF\xD8\xFF"}, {"bmp", "BM"}, {"png", "\x89PNG"}};
    for (const auto& [type, magic] : formats) {
        map.put("OutputImageType", type);
        const Variant out = map.get("OutputMap");
        const std::vector<uint8_t> bytes = out.toBytes();
        ASSERT_GE(bytes.size(), magic.size());
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + std::ptrdiff_t(magic.size())), magic)
            << type;
        const imaging::Picture p = decodeVariant(out);
        EXPECT_EQ(p.width, 64) << type;
        EXPECT_EQ(p.height, 48) << type;
    }
}

TEST(Canvas, PngOutputIsCompressedUnlikeTheStoredPicture) {
    TempDir dir;
    Object map = newMap(dir, 400, 300);
    map.put("OutputImageType", "png");
    const Variant out = map.get("OutputMap");
    // The stored picture is uncompressed (360,000 bytes of pixels); a saved file must not be.
    EXPECT_LT(out.toBytes().size(), 400u * 300u * 3u / 4u);
    const imaging::Picture p = decodeVariant(out);
    EXPECT_EQ(p.width, 400);
    EXPECT_EQ(p.height, 300);
}

TEST(Canvas, SaveMapWritesExactlyTheOutputBytes) {
    TempDir dir;
    Object map = newMap(dir, 40, 30);
    map.callWith("MapCoordinate", 37.0, -95.0);
    for (const char* type : {"png", "jpg", "gif", "bmp"}) {
        map.put("OutputImageType", type);
        const std::string path = dir.file(std::string("out.") + type);
        // A longer file already there is replaced, not partly overwritten.
        writeBytes(path, std::vector<uint8_t>(100000, 0xAB));
        EXPECT_TRUE(map.callWith("SaveMap", path).isEmpty());
        EXPECT_EQ(readBytes(path), map.get("OutputMap").toBytes()) << type;
    }
    // Saving through a symbolic link replaces the file it points to.
    fs::create_symlink(dir.file("out.bmp"), dir.file("link.bmp"));
    map.put("OutputImageType", "png");
    map.callWith("SaveMap", dir.file("link.bmp"));
    EXPECT_TRUE(fs::is_symlink(dir.file("link.bmp")));
    EXPECT_EQ(readBytes(dir.file("out.bmp")), map.get("OutputMap").toBytes());
    // Nothing but the outputs, the link and the two inputs is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 7);
}

TEST(Canvas, FailedSaveLeavesTheTargetAsItWas) {
    TempDir dir;
    Object map = newMap(dir, 20, 20);
    map.put("MinLat", 0.0);
    map.put("MaxLat", 20.0);
    map.put("MinLon", 0.0);
    map.put("MaxLon", 20.0);
    map.callWith("MapCoordinate", 10.0, 10.0);
    const std::string existing = dir.file("existing.gif");
    const std::vector<uint8_t> old{'o', 'l', 'd'};
    writeBytes(existing, old);
    const std::string absent = dir.file("absent.gif");

    map.put("OutputImageType", "tiff");
    for (const std::string& path : {existing, absent}) {
        const std::optional<Error> e = errorOf([&] { map.callWith("SaveMap", path); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->description(), "Invalid File Type: \"tiff\"");
    }
    EXPECT_EQ(readBytes(existing), old);
    EXPECT_FALSE(fs::exists(absent));

    // No map at all: the same, with the engine's first error.
    Object empty = createObject("Zembra.CMap");
    EXPECT_EQ(errorOf([&] { empty.callWith("SaveMap", existing); })->description(),
              "No input map supplied");
    EXPECT_EQ(readBytes(existing), old);

    map.put("OutputImageType", "png");
    EXPECT_EQ(errorNumber([&] { map.callWith("SaveMap", dir.file("missing/out.png")); }),
              err::kPathNotFound);
    EXPECT_FALSE(fs::exists(dir.file("missing")));
    EXPECT_EQ(errorNumber([&] { map.callWith("SaveMap", dir.path().string()); }), 75);

    // A folder we may not write to. Root ignores file modes, but not sysfs.
    std::string locked;
    if (::geteuid() == 0) {
        locked = "/sys/zembra-engine-test.png";
    } else {
        fs::create_directory(dir.file("locked"));
        fs::permissions(dir.file("locked"), fs::perms::owner_read | fs::perms::owner_exec);
        locked = dir.file("locked/out.png");
    }
    EXPECT_EQ(errorNumber([&] { map.callWith("SaveMap", locked); }), err::kPermissionDenied);
    EXPECT_FALSE(fs::exists(locked));
    EXPECT_EQ(readBytes(existing), old);
    // Every failed output kept the marker.
    EXPECT_EQ(markerBox(currentPicture(map)).count, 15 * 15);
}

TEST(Canvas, NewFileGetsTheUsualPermissions) {
    TempDir dir;
    Object map = newMap(dir, 8, 8);
    const mode_t previous = ::umask(022);
    map.callWith("SaveMap", dir.file("out.gif"));
    ::umask(previous);
    struct stat info {};
    ASSERT_EQ(::stat(dir.file("out.gif").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(Canvas, BadMapFilesFailCleanlyAndKeepTheLoadedMap) {
    TempDir dir;
    Object map = newMap(dir, 30, 20);
    map.call("Clear");
    map.put("OutputImageType", "png");
    const std::vector<uint8_t> before = map.get("OutputMap").toBytes();

    std::vector<uint8_t> truncated =
        imaging::encode(solid(30, 20, kMapColour), imaging::Format::Png);
    truncated.resize(truncated.size() / 2);
    writeBytes(dir.file("truncated.png"), truncated);
    writeBytes(dir.file("garbage.jpg"), std::vector<uint8_t>(500, 0x5A));
    // A valid PNG signature and header claiming 100000 x 100000 pixels, and nothing more.
    const std::vector<uint8_t> huge{0x89, 'P',  'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0,    0,    0,
                                    13,   'I',  'H', 'D', 'R',  0,    1,    0x86, 0xA0, 0,    1,
                                    0x86, 0xA0, 8,   6,   0,    0,    0,    0x71, 0x43, 0x4B, 0xE1};
    writeBytes(dir.file("huge.png"), huge);
    writeBytes(dir.file("empty.png"), {});

    for (const char* name : {"truncated.png", "garbage.jpg", "huge.png", "empty.png"}) {
        map.put("InputMapFile", dir.file(name));
        const std::optional<Error> e = errorOf([&] { map.call("Clear"); });
        ASSERT_TRUE(e) << name;
        EXPECT_FALSE(e->description().empty()) << name;
    }
    map.put("InputMapFile", dir.file("nowhere.png"));
    EXPECT_EQ(errorNumber([&] { map.call("Clear"); }), err::kFileNotFound);
    EXPECT_EQ(map.get("OutputMap").toBytes(), before);
}

TEST(Canvas, MarkersStayUntilClearAndNewFilesApplyWhenDue) {
    TempDir dir;
    Object map = newMap(dir, 100, 50);
    map.put("MinLat", 0.0);
    map.put("MaxLat", 50.0);
    map.put("MinLon", 0.0);
    map.put("MaxLon", 100.0);
    map.callWith("MapCoordinate", 25.0, 20.0);

    // A new map file shows only after Clear; a new marker applies to the next plot only.
    map.put("InputMapFile",
            writePicture(dir, "other.png", solid(100, 50, {0, 200, 0}), imaging::Format::Png));
    map.put("InputOverlayFile",
            writePicture(dir, "blue.png", solid(5, 5, {0, 0, 250}), imaging::Format::Png));
    map.callWith("MapCoordinate", 25.0, 70.0);
    imaging::Picture p = currentPicture(map);
    const Box red = markerBox(p);
    EXPECT_EQ(red.count, 15 * 15);
    EXPECT_EQ(red.left, 20 - 8);
    const Box blue = markerBox(p, {0, 0, 250});
    EXPECT_EQ(blue.count, 5 * 5);
    EXPECT_EQ(blue.left, 70 - 2);
    EXPECT_EQ(markerBox(p, kMapColour).count, 100 * 50 - 15 * 15 - 5 * 5);

    EXPECT_EQ(map.call("Clear"), Variant(true));
    p = currentPicture(map);
    EXPECT_EQ(markerBox(p, {0, 200, 0}).count, 100 * 50);
}

}  // namespace
}  // namespace zembra::engine::test
