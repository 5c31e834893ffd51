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

namespace zembra::engine::test {
namespace {

// The reference canvas, kept apart from the engine's drawing code: the marker drawn
// pixel by pixel with its top-left corner at the marker's centre minus half its size
// (ties to even), white and fully transparent pixels skipped, the rest blended.
void drawReference(imaging::Picture& canvas, const imaging::Picture& marker, int32_t column,
                   int32_t row) {
    const auto left = int32_t(roundHalfEven(column - marker.width / 2.0));
    const auto top = int32_t(roundHalfEven(row - marker.height / 2.0));
    for (int32_t y = 0; y < marker.height; ++y) {
        for (int32_t x = 0; x < marker.width; ++x) {
            const int32_t cx = left + x, cy = top + y;
            if (cx < 0 || cy < 0 || cx >= canvas.width || cy >= canvas.height) continue;
            const uint8_t* s =
                marker.rgba.data() + (size_t(y) * size_t(marker.width) + size_t(x)) * 4;
            uint8_t* d = canvas.rgba.data() + (size_t(cy) * size_t(canvas.width) + size_t(cx)) * 4;
            if (s[3] == 0 || (s[0] == 255 && s[1] == 255 && s[2] == 255)) continue;
            const unsigned a = s[3];
            for (int k = 0; k < 3; ++k) d[k] = uint8_t((s[k] * a + d[k] * (255 - a) + 127) / 255);
            d[3] = uint8_t(a + (d[3] * (255 - a) + 127) / 255);
        }
    }
}

TEST(Canvas, LongMixedSequenceGivesTheBytesOfIndependentlyEncodedReferences) {
    TempDir dir;
    // A JPEG map with many colours, as shipped; the reference starts from its decoding.
    imaging::Picture photo = solid(121, 80, kMapColour);
    for (size_t i = 0; i < photo.rgba.size(); i += 4) {
        photo.rgba[i] = uint8_t(i / 4 % 121 * 2);
        photo.rgba[i + 1] = uint8_t(i / 4 / 121 * 3);
    }
    const std::string mapPath = writePicture(dir, "map.jpg", photo, imaging::Format::Jpeg);
    const imaging::Picture plainMap = imaging::decode(readBytes(mapPath), "map");
    const imaging::Picture otherMap = solid(121, 80, {0, 200, 0});
    const std::string otherPath = writePicture(dir, "other.png", otherMap, imaging::Format::Png);
    // Markers with white, transparent and translucent pixels, an odd and an even size.
    imaging::Picture red = solid(5, 5, {255, 255, 255});
    for (size_t i = 24; i < 76; i += 4) red.rgba[i] = 220, red.rgba[i + 1] = red.rgba[i + 2] = 20;
    red.rgba[51] = 128;
    imaging::Picture blue = solid(4, 4, {0, 0, 250});
    blue.rgba[3] = 0;
    blue.rgba[23] = 60;
    const std::string redPath = writePicture(dir, "red.png", red, imaging::Format::Png);
    const std::string bluePath = writePicture(dir, "blue.png", blue, imaging::Format::Png);

    Object map = createObject("Zembra.CMap");
    map.put("InputMapFile", mapPath);
    map.put("InputOverlayFile", redPath);
    // One degree per pixel: column = longitude, row = 80 - latitude.
    map.put("MinLat", 0.0);
    map.put("MaxLat", 80.0);
    map.put("MinLon", 0.0);
    map.put("MaxLon", 121.0);

    imaging::Picture expected = plainMap;
    auto plot = [&](const imaging::Picture& marker,
                    std::vector<std::pair<int32_t, int32_t>> points) {
        std::vector<Variant> lats, lons;
        for (const auto& [column, row] : points) {
            lats.emplace_back(double(80 - row));
            lons.emplace_back(double(column));
            drawReference(expected, marker, column, row);
        }
        map.callWith("MapCoordinates", array(lats), array(lons));
    };
    int saves = 0;
    auto outputsMatch = [&](const char* step) {
        const std::pair<const char*, imaging::Format> formats[] = {{"gif", imaging::Format::Gif},
                                                                   {"jpg", imaging::Format::Jpeg},
                                                                   {"bmp", imaging::Format::Bmp},
                                                                   {"png", imaging::Format::Png}};
        for (const auto& [type, format] : formats) {
            map.put("OutputImageType", type);
            const std::vector<uint8_t> reference = imaging::encode(expected, format);
            EXPECT_TRUE(map.get("OutputMap").toBytes() == reference) << step << ", " << type;
            const std::string path = dir.file("out" + std::to_string(saves++) + "." + type);
            map.callWith("SaveMap", path);
            EXPECT_TRUE(readBytes(path) == reference) << step << ", saved " << type;
        }
    };

    outputsMatch("plain map, loaded by the first output");
    plot(red, {{10, 10}, {0, 0}, {120, 79}, {60, 40}, {61, 40}, {-2, 30}});
    plot(red, {{60, 40}, {30, 70}});
    outputsMatch("two plotting calls");
    // A new marker applies to the next plot only; a new map only after Clear.
    map.put("InputOverlayFile", bluePath);
    map.put("InputMapFile", otherPath);
    plot(blue, {{62, 41}, {5, 75}, {119, 1}});
    outputsMatch("new marker, old map");
    // A failed call in between changes nothing.
    map.put("OutputImageType", "tif");
    EXPECT_TRUE(errorOf([&] { map.get("OutputMap"); }));
    EXPECT_TRUE(errorOf([&] { map.callWith("MapCoordinates", array({1.0, 2.0}), array({1.0})); }));
    outputsMatch("after failed calls");
    map.call("Clear");
    expected = otherMap;
    plot(blue, {{1, 1}, {100, 50}});
    map.put("InputOverlayFile", redPath);
    plot(red, {{100, 50}});
    outputsMatch("cleared onto the other map, both markers");
    map.put("InputMapFile", mapPath);
    map.call("Clear");
    expected = plainMap;
    outputsMatch("cleared back to the plain first map");
}

}  // namespace
}  // namespace zembra::engine::test

namespace zembra::engine::test {
namespace {

// The number of the error SaveMap raises, 0 when it succeeds.
int saveError(Object& map, const std::string& path) {
    try {
        map.callWith("SaveMap", path);
        return 0;
    } catch (const Error& e) {
        return e.number();
    }
}

TEST(Canvas, SaveMapLeavesWhatIsNoRegularFileAndWritesThroughLinks) {
    TempDir dir;
    Object map = newMap(dir, 30, 20);
    map.put("OutputImageType", "bmp");
    const std::vector<uint8_t> output = map.get("OutputMap").toBytes();

    // A FIFO, and a link to it: refused with 75 naming the path, and left as they were.
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(fifo, dir.file("to-fifo.bmp"));
    for (const std::string& path : {fifo, dir.file("to-fifo.bmp")}) {
        const std::optional<Error> e = errorOf([&] { map.callWith("SaveMap", path); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->number(), err::kPathFileAccess);
        EXPECT_NE(e->description().find(path), std::string::npos) << e->description();
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_symlink(dir.file("to-fifo.bmp")));

    // A dangling link, and a chain of relative links, are written through.
    fs::create_symlink("made.bmp", dir.file("dangling.bmp"));
    fs::create_directory(dir.file("sub"));
    fs::create_symlink("../dangling.bmp", dir.file("sub/chain.bmp"));
    for (const char* link : {"dangling.bmp", "sub/chain.bmp"}) {
        fs::remove(dir.file("made.bmp"));
        EXPECT_EQ(saveError(map, dir.file(link)), 0) << link;
        EXPECT_TRUE(fs::is_symlink(dir.file(link)));
        EXPECT_EQ(readBytes(dir.file("made.bmp")), output) << link;
    }
}

TEST(Canvas, SaveMapRemovesTheTemporaryFileADeadSaveLeftBehind) {
    TempDir dir;
    Object map = newMap(dir, 30, 20);
    // A process that has ended: its leftover is removed; a live process's is kept.
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_GT(dead, 0);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    const std::string leftover =
        dir.file("out.gif.zembra-save." + std::to_string(dead) + ".Ab3xYz");
    const std::string live =
        dir.file("out.gif.zembra-save." + std::to_string(::getpid()) + ".Ab3xYz");
    const std::string unrelated =
        dir.file("other.gif.zembra-save." + std::to_string(dead) + ".Ab3xYz");
    for (const std::string& path : {leftover, live, unrelated}) writeBytes(path, {1, 2, 3});
    EXPECT_EQ(saveError(map, dir.file("out.gif")), 0);
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(unrelated));
}

TEST(Canvas, SaveMapPermissionsHoldForAnUnprivilegedUser) {
    TempDir dir;
    Object map = newMap(dir, 30, 20);
    map.callWith("MapCoordinate", 37.0, -95.0);  // loads both pictures before the fork
    map.put("OutputImageType", "png");
    const std::vector<uint8_t> output = map.get("OutputMap").toBytes();
    const std::vector<uint8_t> old{'o', 'l', 'd'};

    // A read-only folder holding a writable file and a read-only one.
    const std::string folder = dir.file("ro");
    fs::create_directory(folder);
    writeBytes(folder + "/writable.png", old);
    writeBytes(folder + "/readonly.png", old);
    fs::permissions(folder + "/writable.png", fs::perms(0666));
    fs::permissions(folder + "/readonly.png", fs::perms(0444));
    fs::permissions(folder, fs::perms(0555));
    fs::permissions(dir.path(), fs::perms(0755));

    // The writable file is written in place; the others are refused with 70.
    EXPECT_EQ(runUnprivileged([&] { return saveError(map, folder + "/writable.png"); }), 0);
    EXPECT_EQ(readBytes(folder + "/writable.png"), output);
    EXPECT_EQ(runUnprivileged([&] { return saveError(map, folder + "/readonly.png"); }),
              err::kPermissionDenied);
    EXPECT_EQ(readBytes(folder + "/readonly.png"), old);
    EXPECT_EQ(runUnprivileged([&] { return saveError(map, folder + "/new.png"); }),
              err::kPermissionDenied);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace zembra::engine::test
