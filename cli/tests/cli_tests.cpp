// End-to-end tests of the `zembra` program: the built binary, the real engine reached by
// createObject, the shipped maps and markers, and the zip-code database built from
// assets/zipcodes/zipcodes.csv.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <zembra/render/catalogue.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/runtime.hpp>

#include "support.hpp"

namespace fs = std::filesystem;
using namespace zembra::test;

namespace {

const fs::path kExe = ZEMBRA_CLI_EXE;
const fs::path kMaps = fs::path(ZEMBRA_APP_DIR) / "Images" / "Maps";

RunResult zembraRun(const std::vector<std::string>& args, const std::string& input = {}) {
    return runProgram(kExe, args, input);
}

const ZipRow& zipRow(const std::string& code) {
    static const auto rows = readZipCsv(ZEMBRA_ZIPCODES_CSV);
    const auto it =
        std::find_if(rows.begin(), rows.end(), [&](const ZipRow& r) { return r.code == code; });
    if (it == rows.end()) throw std::runtime_error("zip code missing from the CSV: " + code);
    return *it;
}

// The plain shipped map as the engine decodes it.
const Picture& plainUsa() {
    static const Picture picture = [] {
        zembra::Object map = zembra::createObject("Zembra.CMap");
        map.put("InputMapFile", zembra::Variant((kMaps / "usa.jpg").string()));
        map.put("OutputImageType", zembra::Variant("bmp"));
        return decodeBmp(map.get("OutputMap").toBytes());
    }();
    return picture;
}

const zembra::render::Bounds kUsa = *zembra::render::boundsForMapName("usa.jpg");

Pixel usaPixel(const std::string& code) {
    const auto& row = zipRow(code);
    return project(row.lat, row.lon, kUsa.minLat, kUsa.maxLat, kUsa.minLon, kUsa.maxLon,
                   plainUsa().width, plainUsa().height);
}

// Runs a shell command line (for redirections the test harness cannot make).
RunResult shell(const std::string& command) { return runProgram("/bin/sh", {"-c", command}); }

std::string quoted(const std::string& text) { return "'" + text + "'"; }

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Cli : public ::testing::Test {
  protected:
    ScratchDir dir{::testing::UnitTest::GetInstance()->current_test_info()->name()};
};

}  // namespace

TEST_F(Cli, HelpDescribesCommandsAndExamples) {
    const auto top = zembraRun({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char* word : {"render", "lookup", "points", "list", "Exit status"}) {
        EXPECT_TRUE(contains(top.out, word)) << word;
    }
    const auto render = zembraRun({"render", "--help"});
    EXPECT_EQ(render.status, 0);
    for (const char* word : {"--column", "--bounds", "--marker", "Examples:", "08873"}) {
        EXPECT_TRUE(contains(render.out, word)) << word;
    }
    const auto lookup = zembraRun({"lookup", "--help"});
    EXPECT_TRUE(contains(lookup.out, "\"none\""));

    const auto none = zembraRun({});
    EXPECT_EQ(none.status, 2);
    const auto unknown = zembraRun({"render", "--frobnicate", "-o", dir / "x.png"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(contains(unknown.err, "zembra: ")) << unknown.err;
    EXPECT_TRUE(contains(unknown.err, "zembra render --help")) << unknown.err;
}

TEST_F(Cli, RendersCodesFromArgumentsWhereTheyLie) {
    const auto out = dir / "args.bmp";
    const auto r = zembraRun({"render", "08873", "08232", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, out + "\n");
    EXPECT_EQ(r.err, "placed 2 of 2 zip codes\n");

    const auto picture = decodeBmp(readBytes(out));
    const auto& plain = plainUsa();
    ASSERT_EQ(picture.width, plain.width);
    ASSERT_EQ(picture.height, plain.height);
    // A marker covers each code's pixel; far from both, the map is untouched.
    for (const char* code : {"08873", "08232"}) {
        const auto p = usaPixel(code);
        EXPECT_NE(picture.at(static_cast<int32_t>(p.x), static_cast<int32_t>(p.y)),
                  plain.at(static_cast<int32_t>(p.x), static_cast<int32_t>(p.y)))
            << code;
    }
    EXPECT_EQ(picture.at(100, 100), plain.at(100, 100));
}

// 10008 and 10041 (New York post-office boxes) have no area of their own: they are placed at
// their post-office town, unless --no-towns asks otherwise.
TEST_F(Cli, CodesWithoutAnAreaArePlacedAtTheirTown) {
    const auto out = dir / "towns.bmp";
    const auto r = zembraRun({"render", "10008", "08873", "10041", "99999", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "placed 3 of 4: 1 as written, 2 at their post-office town\nnot found (1): 99999\n");
    // New York's post-office town lies at 40.71, -74.01 (zip_towns.csv).
    const auto town =
        project(40.7143, -74.006, 24.0, 50.0, -125.0, -66.44, plainUsa().width, plainUsa().height);
    const auto at = [&](const Picture& picture) {
        return picture.at(static_cast<int32_t>(town.x), static_cast<int32_t>(town.y));
    };
    EXPECT_NE(at(decodeBmp(readBytes(out))), at(plainUsa()));

    const auto off = zembraRun({"render", "10008", "10041", "--no-towns", "-o", out});
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(off.err, "placed 0 of 2 zip codes\nnot found (2): 10008 10041\n");
    EXPECT_EQ(at(decodeBmp(readBytes(out))), at(plainUsa()));
}

TEST_F(Cli, EveryOutputFormatDecodesToTheMapsSize) {
    const Size size{plainUsa().width, plainUsa().height};
    for (const char* name : {"a.jpg", "b.JPEG", "c.gif", "d.png", "e.Bmp"}) {
        const auto out = dir / name;
        const auto r = zembraRun({"render", "08873", "-o", out});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        const auto bytes = readBytes(out);
        const auto ext = fs::path(name).extension().string();
        const std::string lower = ext == ".JPEG" ? "jpg" : (ext == ".Bmp" ? "bmp" : ext.substr(1));
        EXPECT_EQ(sniffFormat(bytes), lower) << name;
        EXPECT_EQ(pictureSize(bytes), size) << name;
    }
}

TEST_F(Cli, ReadsOneCodePerLineAndReportsUnknownCodes) {
    writeText(dir / "codes.txt", "08873\r\n\n  08232 \n99999\n08873\n8873\n");
    const auto r = zembraRun({"render", "-f", dir / "codes.txt", "-o", dir / "f.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    // 8873 lost its leading zero in a spreadsheet: it is placed as 08873 and told apart.
    EXPECT_EQ(r.err,
              "placed 3 of 4: 2 as written, 1 after restoring leading zeros\n"
              "skipped 1 repeated zip codes\nnot found (1): 99999\n");
    EXPECT_TRUE(fs::exists(dir / "f.png"));
    const auto exact =
        zembraRun({"render", "-f", dir / "codes.txt", "--exact", "-o", dir / "f.png"});
    ASSERT_EQ(exact.status, 0) << exact.err;
    EXPECT_TRUE(contains(exact.err, "placed 2 of 4 zip codes\n")) << exact.err;
    EXPECT_TRUE(contains(exact.err, "not found (2): 99999 8873\n")) << exact.err;
    EXPECT_TRUE(contains(exact.err, "leading zeros")) << exact.err;

    const auto missing = zembraRun({"render", "-f", dir / "nope.txt", "-o", dir / "f.png"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "zembra: error 53: File not found: " + (dir / "nope.txt") + "\n");

    // A table without --column is refused before any work.
    writeText(dir / "table.csv", "Name,Zip\nAlice,08873\n");
    const auto t = zembraRun({"render", "-f", dir / "table.csv", "-o", dir / "t.png"});
    EXPECT_EQ(t.status, 2);
    EXPECT_TRUE(contains(t.err, "--column")) << t.err;
    EXPECT_FALSE(fs::exists(dir / "t.png"));
}

// What spreadsheets write in many locales: semicolons or tabs, UTF-16 "Unicode text",
// CR-only line ends. The separator is detected and said; --separator overrides.
TEST_F(Cli, ReadsSemicolonTabUtf16AndCrFilesAndSaysHow) {
    const auto utf16le = [](std::string_view ascii) {
        std::string out = "\xFF\xFE";
        for (const char c : ascii) out += std::string{c, '\0'};
        return out;
    };
    writeText(dir / "semi.csv", "Name;Zip\r\nA;08873\r\nB;08232\r\n");
    writeText(dir / "unicode.txt", utf16le("Name\tZip\r\nA\t08873\r\nB\t08232\r\n"));
    writeText(dir / "cr.csv", "Name,Zip\rA,08873\rB,08232\r");
    for (const auto& [file, said] : std::vector<std::pair<std::string, std::string>>{
             {"semi.csv", "semi.csv: read as ASCII, fields separated by semicolons\n"},
             {"unicode.txt", "unicode.txt: read as UTF-16LE, fields separated by tabs\n"},
             {"cr.csv", ""}}) {
        const auto r =
            zembraRun({"render", "-f", dir / file, "--column", "Zip", "-o", dir / "s.png"});
        ASSERT_EQ(r.status, 0) << file << r.err;
        EXPECT_EQ(r.err, (said.empty() ? "" : dir / said) + "placed 2 of 2 zip codes\n") << file;
    }
    const auto forced = zembraRun({"render", "-f", dir / "semi.csv", "--column", "Zip",
                                   "--separator", "comma", "-o", dir / "s.png"});
    EXPECT_EQ(forced.status, 2);
    EXPECT_TRUE(contains(forced.err, "its columns are: Name;Zip")) << forced.err;
    const auto bad = zembraRun({"render", "-f", dir / "semi.csv", "--column", "Zip", "--separator",
                                "\"", "-o", dir / "s.png"});
    EXPECT_EQ(bad.status, 2);

    // A header holding a terminal escape sequence is shown escaped, never raw.
    writeText(dir / "esc.csv", "\x1b]0;owned\x07Name,Zip\n");
    const auto esc =
        zembraRun({"render", "-f", dir / "esc.csv", "--column", "Postcode", "-o", dir / "s.png"});
    EXPECT_EQ(esc.status, 2);
    EXPECT_TRUE(contains(esc.err, "\\x1B]0;owned\\x07Name, Zip")) << esc.err;
    EXPECT_EQ(esc.err.find('\x1b'), std::string::npos);
}

// Mistakes that used to pass silently, hang or say the wrong thing.
TEST_F(Cli, RefusesWhatWouldHangOverwriteOrMisleadAndSaysWhy) {
    // A mistyped data source name is an error naming it, not the built-in database.
    const auto typo =
        zembraRun({"render", "08873", "--connection", "teamzipz", "-o", dir / "t.png"});
    EXPECT_EQ(typo.status, 1) << typo.err;
    EXPECT_TRUE(contains(typo.err, "'teamzipz'")) << typo.err;
    EXPECT_FALSE(fs::exists(dir / "t.png"));
    const auto dbTypo = zembraRun({"db", "load", "--connection", "teamzipz"});
    EXPECT_EQ(dbTypo.status, 1) << dbTypo.err;

    // A FIFO as the zip database is refused at once, naming it.
    const std::string fifo = dir / "zips.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::setenv("ZEMBRA_ZIPCODES_DB", fifo.c_str(), 1);
    const auto hung = zembraRun({"render", "08873", "-o", dir / "t.png"});
    ::unsetenv("ZEMBRA_ZIPCODES_DB");
    EXPECT_EQ(hung.status, 1);
    EXPECT_TRUE(contains(hung.err, fifo + "' is not a regular file")) << hung.err;

    // A pixel off the picture is refused as the server refuses it.
    for (const std::vector<std::string>& pixel :
         {std::vector<std::string>{"99999999", "5"}, {"--", "-1", "5"}, {"5", "100000"}}) {
        auto args = std::vector<std::string>{"lookup"};
        args.insert(args.end(), pixel.begin(), pixel.end());
        const auto off = zembraRun(args);
        EXPECT_EQ(off.status, 2) << off.err;
        EXPECT_TRUE(contains(off.err, "outside the picture")) << off.err;
    }

    // The output may not be the map or the marker it is drawn from.
    fs::copy_file(kMaps / "usa.jpg", dir / "usa.jpg");
    const auto before = readBytes(dir / "usa.jpg");
    const auto over =
        zembraRun({"render", "08873", "--map", dir / "usa.jpg", "-o", dir / "usa.jpg"});
    EXPECT_EQ(over.status, 2) << over.err;
    EXPECT_EQ(readBytes(dir / "usa.jpg"), before);
    const auto overMarker = zembraRun(
        {"points", "40,-74", "--marker", dir / "usa.jpg", "--map", "usa", "-o", dir / "usa.jpg"});
    EXPECT_EQ(overMarker.status, 2) << overMarker.err;

    // A folder or a device as the map says what it is.
    for (const auto& [map, what] : std::vector<std::pair<std::string, std::string>>{
             {dir.path().string(), "a folder"}, {"/dev/zero", "a device"}, {fifo, "a FIFO"}}) {
        const auto odd = zembraRun(
            {"render", "08873", "--map", map, "--bounds", "24,50,-125,-66", "-o", dir / "t.png"});
        EXPECT_EQ(odd.status, 1);
        EXPECT_TRUE(contains(odd.err, map + " is " + what)) << odd.err;
    }

    // An output name of 250 bytes, which a file can have, is written.
    const std::string longName = dir / (std::string(246, 'n') + ".png");
    const auto longOut = zembraRun({"render", "08873", "-o", longName});
    EXPECT_EQ(longOut.status, 0) << longOut.err;
    EXPECT_TRUE(fs::exists(longName));
}

TEST_F(Cli, ReadsACsvColumnByItsHeader) {
    writeText(dir / "people.csv",
              "Name,Zip,ZipNum\n\"Adams, Alice\",08873,8873\nBob,\"08232\",\n"
              "Eve,,\nGina,99501,\n");
    const auto r =
        zembraRun({"render", "-f", dir / "people.csv", "--column", "zip", "-o", dir / "c.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "placed 2 of 3; 1 outside this map\noutside this map (1): 99501 (alaska holds it)\n");

    const auto bad = zembraRun(
        {"render", "-f", dir / "people.csv", "--column", "Postcode", "-o", dir / "c.png"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(contains(bad.err, "Name, Zip, ZipNum")) << bad.err;
}

TEST_F(Cli, ReadsStandardInput) {
    const std::string codes = "08873\n08232\n";
    const auto piped = zembraRun({"render", "-o", dir / "in1.bmp"}, codes);
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.err, "placed 2 of 2 zip codes\n");
    const auto dash = zembraRun({"render", "-f", "-", "-o", dir / "in2.bmp"}, codes);
    ASSERT_EQ(dash.status, 0) << dash.err;
    EXPECT_EQ(readBytes(dir / "in1.bmp"), readBytes(dir / "in2.bmp"));

    const auto csv = zembraRun({"render", "-f", "-", "--column", "zipcode", "-o", dir / "in3.bmp"},
                               "zipcode,state\n08873,NJ\n08232,NJ\n");
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(readBytes(dir / "in1.bmp"), readBytes(dir / "in3.bmp"));

    const auto empty = zembraRun({"render", "-o", dir / "in4.bmp"}, "");
    EXPECT_EQ(empty.status, 2);
    EXPECT_TRUE(contains(empty.err, "no zip codes in standard input")) << empty.err;
}

// Input that cannot be read, in full, ends the run with status 1 and says why.
TEST_F(Cli, UnreadableInputFailsInsteadOfDroppingCodes) {
    const std::string exe = quoted(kExe.string());
    const auto folder = shell(exe + " render 08873 -f - -o " + quoted(dir / "f.png") + " < /tmp");
    EXPECT_EQ(folder.status, 1);
    EXPECT_TRUE(contains(folder.err, "standard input")) << folder.err;
    EXPECT_FALSE(fs::exists(dir / "f.png"));

    writeText(dir / "long.txt", "08873\n" + std::string(2 << 20, '1') + "\n08232\n");
    const auto tooLong = zembraRun({"render", "-f", dir / "long.txt", "-o", dir / "l.png"});
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_TRUE(contains(tooLong.err, "long.txt, line 2")) << tooLong.err;
    EXPECT_FALSE(fs::exists(dir / "l.png"));
}

// A code with a NUL or a terminal escape is not found, shown escaped, and the rest of
// the batch is placed.
TEST_F(Cli, ControlCharactersInCodesAreReportedNotFoundAndEscaped) {
    const std::string input = std::string("Zip\n08") + '\0' + "873\n08232\n\x1b[31mred\n";
    const auto r = zembraRun({"render", "-f", "-", "--column", "Zip", "-o", dir / "c.png"}, input);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "placed 1 of 3 zip codes\nnot found (2): 08\\x00873 \\x1B[31mred\n");
}

TEST_F(Cli, OutsideCodesNoShippedMapHoldsSuggestTheirRegion) {
    // Puerto Rico lies on no shipped map: its region is drawn instead; the Alaska code keeps
    // its shipped map.
    const auto one =
        zembraRun({"render", "08873", "00601", "00602", "99501", "-o", dir / "pr.png"});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.err,
              "placed 1 of 4; 3 outside this map\n"
              "outside this map (3): 00601 00602 99501 (alaska holds 1; try --region PR)\n");

    // Codes of several states that no shipped map holds: a map fitted to them.
    const auto two = zembraRun({"render", "00601", "00802", "-o", dir / "fit.png"});
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(two.err,
              "placed 0 of 2; 2 outside this map\n"
              "outside this map (2): 00601 00802 (try --region fit)\n");

    // The suggestion is one a render takes: on the region's map every code is placed.
    const auto drawn =
        zembraRun({"render", "00601", "00602", "--region", "PR", "-o", dir / "r.png"});
    ASSERT_EQ(drawn.status, 0) << drawn.err;
    EXPECT_EQ(drawn.err, "placed 2 of 2 zip codes\n");
}

TEST_F(Cli, PiecesAccumulateToTheSamePicture) {
    // Unknown codes in different pieces are all reported, in order, and the picture is the
    // one a single call draws.
    const std::vector<std::string> codes{"00000", "08873", "08232", "10001", "ZZZZZ", "99501"};
    auto args = std::vector<std::string>{"render"};
    args.insert(args.end(), codes.begin(), codes.end());
    auto whole = args;
    whole.insert(whole.end(), {"-o", dir / "whole.bmp"});
    auto pieces = args;
    pieces.insert(pieces.end(), {"--chunk-size", "2", "-o", dir / "pieces.bmp"});

    const auto a = zembraRun(whole);
    const auto b = zembraRun(pieces);
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(b.err,
              "placed 3 of 6; 1 outside this map\noutside this map (1): 99501 (alaska holds it)\n"
              "not found (2): 00000 ZZZZZ\n");
    EXPECT_EQ(a.err, b.err);
    EXPECT_EQ(readBytes(dir / "whole.bmp"), readBytes(dir / "pieces.bmp"));

    const auto zero = zembraRun({"render", "08873", "--chunk-size", "0", "-o", dir / "z.bmp"});
    EXPECT_EQ(zero.status, 2);
    EXPECT_TRUE(contains(zero.err, "at least 1, not '0'")) << zero.err;
    EXPECT_LT(zero.err.size(), 200u) << zero.err;
}

// The picture can go to standard output for a pipeline, never to a terminal; output that
// cannot be written fails the run.
TEST_F(Cli, OutputGoesToStandardOutputOrFailsAloud) {
    const auto png = zembraRun({"render", "08873", "--format", "png", "-o", "-"});
    ASSERT_EQ(png.status, 0) << png.err;
    EXPECT_EQ(sniffFormat(std::vector<uint8_t>(png.out.begin(), png.out.end())), "png");
    ASSERT_EQ(zembraRun({"render", "08873", "-o", dir / "f.png"}).status, 0);
    const auto file = readBytes(dir / "f.png");
    EXPECT_EQ(std::vector<uint8_t>(png.out.begin(), png.out.end()), file);
    const auto gif = zembraRun({"points", "40,-74", "--format", "GIF", "-o", "-"});
    EXPECT_EQ(sniffFormat(std::vector<uint8_t>(gif.out.begin(), gif.out.end())), "gif");

    EXPECT_EQ(zembraRun({"render", "08873", "-o", "-"}).status, 2);  // no --format
    EXPECT_EQ(zembraRun({"render", "08873", "--format", "png", "-o", dir / "x.jpg"}).status, 2);

    const std::string exe = quoted(kExe.string());
    const auto full = shell(exe + " lookup 1724 406 > /dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_TRUE(contains(full.err, "standard output could not be written")) << full.err;
    const auto fullPicture = shell(exe + " render 08873 --format jpg -o - > /dev/full");
    EXPECT_EQ(fullPicture.status, 1);

    if (!fs::exists("/usr/bin/script")) GTEST_SKIP() << "no script(1) to give a terminal";
    const auto tty = runProgram("/usr/bin/script",
                                {"-qec", exe + " render 08873 --format png -o -", "/dev/null"});
    EXPECT_NE(tty.status, 0);
    EXPECT_TRUE(contains(tty.out, "terminal")) << tty.out;
}

TEST_F(Cli, BadOutputIsRefusedBeforeAnyWork) {
    const auto tif = zembraRun({"render", "08873", "-o", dir / "out.tif"});
    EXPECT_EQ(tif.status, 2);
    EXPECT_TRUE(contains(tif.err, "'.tif'")) << tif.err;
    EXPECT_TRUE(contains(tif.err, ".jpg, .gif, .bmp or .png")) << tif.err;
    EXPECT_FALSE(fs::exists(dir / "out.tif"));

    const auto folder = zembraRun({"render", "08873", "-o", dir / "missing/out.png"});
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.err, "zembra: error 76: Path not found: " + (dir / "missing") + "\n");

    EXPECT_EQ(zembraRun({"render", "08873"}).status, 2);  // -o is required
}

TEST_F(Cli, MapsByPathOrNameAndTheirBounds) {
    const auto missing =
        zembraRun({"render", "08873", "--map", "/nonexistent/usa.jpg", "-o", dir / "m.png"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "zembra: error 53: File not found: /nonexistent/usa.jpg\n");

    const auto unknownName = zembraRun({"render", "08873", "--map", "mars", "-o", dir / "m.png"});
    EXPECT_EQ(unknownName.status, 1);
    EXPECT_TRUE(contains(unknownName.err, "error 53: File not found: no map 'mars'"))
        << unknownName.err;
    EXPECT_TRUE(contains(unknownName.err, "usa.jpg")) << unknownName.err;

    // A copy of the map under a name without a known region needs explicit bounds, and
    // with the USA bounds it renders exactly what the named map does.
    fs::copy_file(kMaps / "usa.jpg", dir / "world.jpg");
    const auto noBounds =
        zembraRun({"render", "08873", "--map", dir / "world.jpg", "-o", dir / "w.bmp"});
    EXPECT_EQ(noBounds.status, 2);
    EXPECT_TRUE(contains(noBounds.err, "--bounds")) << noBounds.err;
    EXPECT_TRUE(contains(noBounds.err, "world.jgw")) << noBounds.err;
    const auto withBounds = zembraRun({"render", "08873", "--map", dir / "world.jpg", "--bounds",
                                       "24,50,-125,-66.44", "-o", dir / "w.bmp"});
    ASSERT_EQ(withBounds.status, 0) << withBounds.err;
    const auto named = zembraRun({"render", "08873", "--map", "USA", "-o", dir / "n.bmp"});
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(readBytes(dir / "w.bmp"), readBytes(dir / "n.bmp"));

    // With a world file beside it, the copy needs no --bounds, renders the same picture and
    // answers lookups the same way.
    zembra::render::writeWorldFile(dir / "world.jgw", kUsa, plainUsa().width, plainUsa().height);
    const auto withWorld =
        zembraRun({"render", "08873", "--map", dir / "world.jpg", "-o", dir / "ww.bmp"});
    ASSERT_EQ(withWorld.status, 0) << withWorld.err;
    EXPECT_EQ(readBytes(dir / "ww.bmp"), readBytes(dir / "n.bmp"));
    const auto p = usaPixel("08873");
    EXPECT_EQ(
        zembraRun({"lookup", std::to_string(p.x), std::to_string(p.y), "--map", dir / "world.jpg"})
            .out,
        zembraRun({"lookup", std::to_string(p.x), std::to_string(p.y)}).out);
    // In an images folder of one's own, the list shows the bounds the world file gives.
    fs::create_directories(dir.path() / "Images" / "Maps");
    fs::copy_file(dir / "world.jpg", dir.path() / "Images" / "Maps" / "world.jpg");
    fs::copy_file(dir / "world.jgw", dir.path() / "Images" / "Maps" / "world.jgw");
    fs::copy_file(dir / "world.jpg", dir.path() / "Images" / "Maps" / "plain.jpg");
    const auto listed = zembraRun({"list", "--images", dir / "Images"});
    EXPECT_TRUE(contains(listed.out, "world.jpg  bounds 24,50,-125,-66.44")) << listed.out;
    EXPECT_TRUE(contains(listed.out, "plain.jpg  needs --bounds or a world file")) << listed.out;

    const auto badBounds = zembraRun(
        {"render", "08873", "--map", "usa", "--bounds", "50,24,-125,-66", "-o", dir / "b.png"});
    EXPECT_EQ(badBounds.status, 2);
}

// A map whose name holds a key of the name rule is placed where its world file says:
// usa_northeast.jpg with the bounds of its file renders and answers lookups as a copy
// under a plain name given the same bounds does, and --world-file writes the output's own.
TEST_F(Cli, AWorldFileDecidesOverTheMapsName) {
    const zembra::render::Bounds shifted{kUsa.minLat + 3, kUsa.maxLat + 3, kUsa.minLon + 5,
                                         kUsa.maxLon + 5};
    const std::string text = zembra::render::boundsText(shifted);
    for (const char* name : {"usa_northeast.jpg", "jerusalem.jpg", "plain.jpg"}) {
        fs::copy_file(kMaps / "usa.jpg", dir / name);
    }
    for (const char* name : {"usa_northeast.jpg", "jerusalem.jpg"}) {
        SCOPED_TRACE(name);
        zembra::render::writeWorldFile(zembra::render::worldFilePath(dir / name), shifted,
                                       plainUsa().width, plainUsa().height);
        const auto byWorld = zembraRun({"render", "08873", "08232", "--map", dir / name,
                                        "--world-file", "-o", dir / "world.png"});
        ASSERT_EQ(byWorld.status, 0) << byWorld.err;
        const auto byBounds = zembraRun({"render", "08873", "08232", "--map", dir / "plain.jpg",
                                         "--bounds", text, "-o", dir / "bounds.png"});
        ASSERT_EQ(byBounds.status, 0) << byBounds.err;
        EXPECT_EQ(readBytes(dir / "world.png"), readBytes(dir / "bounds.png"));
        EXPECT_EQ(
            zembra::render::readWorldFile(dir / "world.pgw", plainUsa().width, plainUsa().height),
            shifted);
        const auto lookup = [&](const std::vector<std::string>& map) {
            std::vector<std::string> args{"lookup", "1500", "400"};
            args.insert(args.end(), map.begin(), map.end());
            return zembraRun(args).out;
        };
        EXPECT_EQ(lookup({"--map", dir / name}),
                  lookup({"--map", dir / "plain.jpg", "--bounds", text}));
        EXPECT_NE(lookup({"--map", dir / name}), lookup({}));
    }
    // --world-file needs a file to sit beside.
    const auto toStdout =
        zembraRun({"render", "08873", "--world-file", "--format", "png", "-o", "-"});
    EXPECT_EQ(toStdout.status, 2);
    EXPECT_TRUE(contains(toStdout.err, "--world-file")) << toStdout.err;
}

TEST_F(Cli, MarkersByNameAndTheDefault) {
    const auto list = zembraRun({"list"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(contains(list.out, "usa.jpg")) << list.out;
    EXPECT_TRUE(contains(list.out, "bounds 24,50,-125,-66.44")) << list.out;
    EXPECT_TRUE(contains(list.out, "(default)")) << list.out;

    const auto missing =
        zembraRun({"render", "08873", "--marker", "no-such-marker", "-o", dir / "k.png"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(contains(missing.err, "error 53: File not found: no marker 'no-such-marker'"))
        << missing.err;
}

TEST_F(Cli, LookupTellsTheZipCodeUnderAPixel) {
    const auto p = usaPixel("08873");
    const auto r = zembraRun({"lookup", std::to_string(p.x), std::to_string(p.y)});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream line(r.out);
    std::string zip, rest;
    double lat = 0, lon = 0;
    line >> zip >> lat >> lon;
    EXPECT_EQ(zip, "08873") << r.out;
    std::getline(line, rest);
    EXPECT_EQ(rest, " Somerset, NJ") << "the code, its position, city and state: " << r.out;
    // The pixel's own position, by the inverse of the projection, to six decimals.
    const double h = plainUsa().height, w = plainUsa().width;
    EXPECT_NEAR(lat, (kUsa.maxLat - kUsa.minLat) * (h - static_cast<double>(p.y)) / h + kUsa.minLat,
                1e-6);
    EXPECT_NEAR(lon, (kUsa.maxLon - kUsa.minLon) / w * static_cast<double>(p.x) + kUsa.minLon,
                1e-6);
    EXPECT_NEAR(lat, zipRow("08873").lat, 0.05);
    EXPECT_NEAR(lon, zipRow("08873").lon, 0.05);

    // Far out in the Pacific there is no zip code: "none", still status 0.
    const auto sea = zembraRun({"lookup", "5", "5"});
    ASSERT_EQ(sea.status, 0) << sea.err;
    EXPECT_EQ(sea.out.substr(0, 5), "none ") << sea.out;
    EXPECT_EQ(zembraRun({"lookup", "5"}).status, 2);
    EXPECT_EQ(zembraRun({"lookup", "five", "5"}).status, 2);
}

TEST_F(Cli, PointsPlotsCoordinates) {
    const auto r = zembraRun({"points", "40.499667,-74.531844", "60,-150", "-o", dir / "p.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "placed 2 points; 1 lie outside the map's bounds 24,50,-125,-66.44\n");
    // The same place as zip code 08873 gives the same picture.
    ASSERT_EQ(zembraRun({"render", "08873", "-o", dir / "z.bmp"}).status, 0);
    EXPECT_EQ(readBytes(dir / "p.bmp"), readBytes(dir / "z.bmp"));

    const auto file = zembraRun({"points", "-f", "-", "-o", dir / "f.bmp"},
                                "latitude,longitude\n40.499667,-74.531844\n60,-150\n");
    ASSERT_EQ(file.status, 0) << file.err;
    EXPECT_EQ(readBytes(dir / "p.bmp"), readBytes(dir / "f.bmp"));
    EXPECT_EQ(zembraRun({"points", "40.7", "-o", dir / "x.bmp"}).status, 2);
}

TEST_F(Cli, ProgressShowsOnlyOnATerminal) {
    writeText(dir / "codes.txt", "08873\n08232\n99999\n");
    const std::vector<std::string> args{"render", "-f", dir / "codes.txt", "--chunk-size",
                                        "1",      "-o", dir / "p.png"};
    const auto plain = zembraRun(args);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err, "placed 2 of 3 zip codes\nnot found (1): 99999\n");

    // script(1) gives the program a terminal; the piece counts show there, then go away.
    std::string command = kExe.string();
    for (const auto& a : args) command += " '" + a + "'";
    if (!fs::exists("/usr/bin/script")) GTEST_SKIP() << "no script(1) to give a terminal";
    const auto tty = runProgram("/usr/bin/script", {"-qec", command, "/dev/null"});
    ASSERT_EQ(tty.status, 0) << tty.out;
    for (const char* step :
         {"placing zip codes: 1 of 3 (33%)", "placing zip codes: 3 of 3 (100%)"}) {
        EXPECT_TRUE(contains(tty.out, step)) << tty.out;
    }
    const auto summary = tty.out.find("placed 2 of 3 zip codes");
    ASSERT_NE(summary, std::string::npos) << tty.out;
    EXPECT_EQ(tty.out.rfind('\r', summary - 1) + 1, summary) << "the line was not cleared";
}

TEST_F(Cli, DatabaseErrorsReachTheOperator) {
    const auto r = zembraRun(
        {"render", "08873", "--connection", "DSN=zembra_no_such_source", "-o", dir / "d.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "zembra: error -2147467259: ")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "d.png"));
}

// Lists as spreadsheets keep them: exported as semicolon or UTF-16 text, or the workbook
// itself (.xlsx, .ods), known by its content. Each gives the same codes.
TEST_F(Cli, SpreadsheetListsRenderTheSameCodesAsTheirExports) {
    const auto utf16le = [](std::string_view ascii) {
        std::string out = "\xFF\xFE";
        for (const char c : ascii) out += std::string{c, '\0'};
        return out;
    };
    // Sheet1 of the workbook fixtures, as a spreadsheet exports it.
    writeText(dir / "semi.csv",
              "Name;Zip;ZipNum\r\nAlice Adams;08873;8873\r\nBob Brown;08232;\r\n"
              "Carol Clark; 10001 ;10001\r\nDan Davis;08873;8873\r\nEve Evans;;\r\n"
              "Frank Foster;;\r\nGina Gray;99501;\r\nJose Nunez;96813;\r\n");
    writeText(dir / "unicode.txt",
              utf16le("Name\tZip\r\nAlice Adams\t08873\r\nBob Brown\t08232\r\nCarol Clark\t 10001 "
                      "\r\nDan Davis\t08873\r\nEve Evans\t\r\nFrank Foster\t\r\nGina Gray\t99501"
                      "\r\nJose Nunez\t96813\r\n"));
    std::filesystem::copy_file(fixture("zips.xlsx"), dir / "renamed.txt");
    std::vector<std::string> outcomes;
    for (const std::string& file :
         {dir / "semi.csv", dir / "unicode.txt", fixture("zips.xlsx").string(),
          fixture("zips-shared.xlsx").string(), fixture("zips.ods").string(),
          dir / "renamed.txt"}) {
        const auto r = zembraRun({"render", "-f", file, "--column", "zip", "-o", dir / "s.png"});
        ASSERT_EQ(r.status, 0) << file << r.err;
        // The codes' outcome, without the line that says how a text file was read.
        outcomes.push_back(r.err.substr(r.err.find("placed ")));
    }
    for (const auto& outcome : outcomes) EXPECT_EQ(outcome, outcomes.front());
    EXPECT_TRUE(contains(outcomes.front(), "of 5")) << outcomes.front();
    // Standard input redirected from a workbook reads it through the descriptor.
    const auto redirected = zembraRun({"render", "-f", "-", "--column", "zip", "-o", dir / "s.png"},
                                      readText(fixture("zips.ods")));
    ASSERT_EQ(redirected.status, 0) << redirected.err;
    EXPECT_EQ(redirected.err.substr(redirected.err.find("placed ")), outcomes.front());

    // A sheet by name; numbers stored as numbers lost their zeros and get them back.
    for (const char* book : {"zips.xlsx", "zips.ods"}) {
        const auto numbers = zembraRun({"render", "-f", fixture(book).string(), "--sheet",
                                        "numbers", "--column", "Zip", "-o", dir / "n.png"});
        ASSERT_EQ(numbers.status, 0) << numbers.err;
        EXPECT_TRUE(contains(numbers.err, "after restoring leading zeros")) << numbers.err;
        const auto other = zembraRun({"render", "-f", fixture(book).string(), "--sheet",
                                      "Other Sheet", "--column", "Zip Code", "-o", dir / "o.png"});
        ASSERT_EQ(other.status, 0) << other.err;
        EXPECT_TRUE(contains(other.err, "placed 2 of 3; 1 outside this map")) << other.err;
    }
    // The styles read the sheet's columns as well.
    const auto styled =
        zembraRun({"render", "-f", fixture("zips.ods").string(), "--sheet", "Numbers", "--column",
                   "Zip", "--style", "value", "--value", "Count", "-o", dir / "v.png"});
    EXPECT_EQ(styled.status, 0) << styled.err;

    // Mistakes say what to do.
    const auto noColumn =
        zembraRun({"render", "-f", fixture("zips.xlsx").string(), "-o", dir / "x.png"});
    EXPECT_EQ(noColumn.status, 2);
    EXPECT_TRUE(contains(noColumn.err, "--column (its columns are: Name, Zip, ZipNum, Joined)"))
        << noColumn.err;
    const auto noSheet = zembraRun({"render", "-f", fixture("zips.xlsx").string(), "--sheet",
                                    "Nope", "--column", "Zip", "-o", dir / "x.png"});
    EXPECT_EQ(noSheet.status, 1);
    EXPECT_TRUE(contains(noSheet.err, "no sheet named 'Nope'")) << noSheet.err;
    const auto textSheet = zembraRun(
        {"render", "-f", dir / "semi.csv", "--sheet", "S", "--column", "Zip", "-o", dir / "x.png"});
    EXPECT_EQ(textSheet.status, 2);
    EXPECT_TRUE(contains(textSheet.err, "--sheet names a sheet of a workbook")) << textSheet.err;
    EXPECT_FALSE(fs::exists(dir / "x.png"));
}
