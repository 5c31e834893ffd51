// The picture library: which maps and markers every front end lists, in which order, and
// how a name or a path becomes a file.
#include <zembra/render/pictures.hpp>

#include "support.hpp"

namespace zembra::render::test {
namespace {

void touch(const TempDir& dir, const fs::path& relative) {
    fs::create_directories((dir.path() / relative).parent_path());
    zembra::test::writeText(dir.path() / relative, "x");
}

std::vector<std::string> names(const std::vector<PictureFile>& pictures) {
    std::vector<std::string> out;
    for (const auto& p : pictures) out.push_back(p.fileName);
    return out;
}

TEST(Pictures, ListingIsCaseInsensitiveAndFiltersByExtension) {
    TempDir dir;
    for (const char* name : {"usa.jpg", "Hawaii_detail.JPG", "alaska.jpg", "map.jpeg", "map.png",
                             "noext", "b.JpG", "B.jpg", ".hidden.jpg"}) {
        touch(dir, fs::path("Maps") / name);
    }
    fs::create_directories(dir.path() / "Maps" / "folder.jpg");
    // Ties in the folded order go by exact comparison: "B.jpg" before "b.JpG".
    EXPECT_EQ(listFolder(dir.path() / "Maps", "jpg"),
              (std::vector<std::string>{".hidden.jpg", "alaska.jpg", "B.jpg", "b.JpG",
                                        "Hawaii_detail.JPG", "usa.jpg"}));
    EXPECT_TRUE(listFolder(dir.path() / "missing", "jpg").empty());
    EXPECT_EQ(pictureExtension(PictureKind::Map), "jpg");
    EXPECT_EQ(pictureExtension(PictureKind::Marker), "png");
}

TEST(Pictures, TheProgramsFolderComesFirstThenTheUsersOwnOnce) {
    TempDir program;
    TempDir data;
    touch(program, "Maps/usa.jpg");
    touch(program, "Overlays/red.png");
    touch(data, "Zembra/Images/Maps/county.jpg");
    touch(data, "Zembra/Images/Maps/Alpha.jpg");
    ScopedEnv xdg("XDG_DATA_HOME", data.path().string());
    EXPECT_EQ(userImagesDirectory(), data.path() / "Zembra" / "Images");

    const PictureFolders folders = PictureFolders::standard(program.path());
    ASSERT_EQ(folders.roots.size(), 2u);
    const auto maps = listPictures(folders, PictureKind::Map);
    EXPECT_EQ(names(maps), (std::vector<std::string>{"usa.jpg", "Alpha.jpg", "county.jpg"}));
    EXPECT_EQ(maps[1].path(), data.path() / "Zembra/Images/Maps/Alpha.jpg");
    EXPECT_EQ(maps[1].name(), "Alpha");
    EXPECT_EQ(names(listPictures(folders, PictureKind::Marker)),
              std::vector<std::string>{"red.png"});

    // The user's folder reached by another path is still the program's: listed once.
    fs::create_directories(data.path() / "link");
    fs::create_directory_symlink(program.path(), data.path() / "link" / "Images");
    const PictureFolders same{{program.path(), data.path() / "link" / "Images"}};
    EXPECT_EQ(names(listPictures(same, PictureKind::Map)), std::vector<std::string>{"usa.jpg"});
    EXPECT_EQ(PictureFolders::standard(data.path() / "Zembra" / "Images").roots.size(), 1u);

    // A relative XDG_DATA_HOME is ignored for the home folder's default.
    ScopedEnv relative("XDG_DATA_HOME", "relative/share");
    ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(userImagesDirectory(), fs::path("/home/someone/.local/share/Zembra/Images"));
}

TEST(Pictures, PicturesByPathOrByName) {
    TempDir dir;
    touch(dir, "Maps/usa.jpg");
    touch(dir, "Maps/Hawaii.JPG");
    touch(dir, "elsewhere/mine.jpg");
    const auto folders = PictureFolders::only(dir.path());
    const auto maps = dir.path() / "Maps";
    EXPECT_EQ(resolvePicture("usa", folders, PictureKind::Map), maps / "usa.jpg");
    EXPECT_EQ(resolvePicture("USA.jpg", folders, PictureKind::Map), maps / "usa.jpg");
    EXPECT_EQ(resolvePicture("hawaii", folders, PictureKind::Map), maps / "Hawaii.JPG");
    const auto mine = dir.path() / "elsewhere" / "mine.jpg";
    EXPECT_EQ(resolvePicture(mine.string(), folders, PictureKind::Map), mine);

    // Names only: a path never matches a listed picture.
    const auto listed = listPictures(folders, PictureKind::Map);
    EXPECT_NE(findPicture(listed, "HAWAII"), nullptr);
    EXPECT_EQ(findPicture(listed, "Maps/usa.jpg"), nullptr);
    EXPECT_EQ(findPicture(listed, ""), nullptr);

    const auto byName = errorOf([&] { resolvePicture("alaska", folders, PictureKind::Map); });
    ASSERT_TRUE(byName);
    EXPECT_EQ(byName->number(), err::kFileNotFound);
    EXPECT_NE(byName->description().find("no map 'alaska' in " + maps.string()), std::string::npos);
    EXPECT_NE(byName->description().find("Hawaii.JPG, usa.jpg"), std::string::npos);
    const auto byPath =
        errorOf([&] { resolvePicture("/no/such/map.jpg", folders, PictureKind::Map); });
    ASSERT_TRUE(byPath);
    EXPECT_EQ(byPath->description(), "File not found: /no/such/map.jpg");
}

TEST(Pictures, DetailsComeFromTheHeaderAndTheWorldFile) {
    const PictureFile usa{fs::path(ZEMBRA_ASSETS_MAPS), "usa.jpg"};
    const PictureDetails details = describePicture(usa, PictureKind::Map);
    EXPECT_EQ(details.size, (imaging::PictureSize{2000, 1112, imaging::Format::Jpeg}));
    EXPECT_EQ(details.bounds, boundsForMapName("usa"));

    TempDir dir;
    const PictureFile broken{dir.path(), "broken.jpg"};
    write(dir, "broken.jpg", "not a picture");
    const auto e = errorOf([&] { describePicture(broken, PictureKind::Marker); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), err::kEngine);
}

}  // namespace
}  // namespace zembra::render::test
