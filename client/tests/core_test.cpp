// What the main window does without a window: validation's checks and the one check
// that looks at files, and a render's handling of the output file, its cancel and its
// refusal of a map without bounds. Real files in a temporary folder; no display.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <zembra/test/support.hpp>

#include "input/main_module.hpp"
#include "main/render_job.hpp"
#include "main/render_logic.hpp"
#include "main/validation.hpp"

namespace zembra::client {
namespace {

namespace fs = std::filesystem;

class CoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir_ / "Maps");
        fs::create_directories(dir_ / "Output");
    }

    fs::path write(const fs::path& relative, const std::string& bytes) {
        const fs::path path = dir_ / relative;
        test::writeText(path, bytes);
        return path;
    }
    static std::string read(const fs::path& path) { return test::readText(path); }

    // Input that passes every check: page 0 with one row, output in Output/.
    ValidationInput valid() const {
        ValidationInput in;
        in.mapName = "usa.jpg";
        in.overlayName = "dot.png";
        in.mapFile = dir_ / "Maps" / "usa.jpg";
        in.overlayFile = dir_ / "dot.png";
        in.output = (dir_ / "Output" / "Temp.jpg").string();
        in.manualRows = 1;
        return in;
    }

    test::TempDir temp_{"client-core"};
    const fs::path& dir_ = temp_.path();
};

TEST_F(CoreTest, ChecksRunInTheWindowsOrderAndTheFirstFailureDecides) {
    ValidationInput in = valid();
    EXPECT_FALSE(validateInput(in).has_value());

    in.output = "   ";
    in.manualRows = 0;
    auto refusal = validateInput(in);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->message, "Output file was not specified");
    EXPECT_EQ(refusal->focus, Control::txtFile);
    EXPECT_FALSE(refusal->notice);

    in = valid();
    in.manualRows = 0;
    refusal = validateInput(in);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->message, "Please enter data to plot.");
    EXPECT_EQ(refusal->page, 0);

    // Batch fields: notices on page 1; the numeric test takes the untrimmed text.
    in = valid();
    in.page = 1;
    in.source = 1;
    in.excelPath = "/data/zips.xls";
    in.tableName = "Sheet1";
    in.fieldName = "2";
    EXPECT_FALSE(validateInput(in).has_value());
    in.fieldName = "two";
    refusal = validateInput(in);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->message, "The Field Index must be numeric.");
    EXPECT_TRUE(refusal->notice);
    EXPECT_EQ(refusal->page, 1);
    EXPECT_EQ(refusal->focus, Control::txtFieldName);
}

TEST_F(CoreTest, OutputNamingTheMapOrOverlayIsRefusedLastAndNothingIsDeleted) {
    const fs::path map = write("Maps/usa.jpg", "map picture");
    const fs::path overlay = write("dot.png", "marker picture");
    const fs::path old = write("Output/Temp.jpg", "older render");

    ValidationInput in = valid();
    EXPECT_FALSE(validateInput(in).has_value());
    EXPECT_EQ(read(old), "older render");  // an existing output stays until the save

    for (const fs::path& picture : {map, overlay}) {
        in.output = "  " + picture.string() + " ";
        auto refusal = validateInput(in);
        ASSERT_TRUE(refusal) << picture;
        EXPECT_EQ(refusal->message, kOutputIsPictureMessage);
        EXPECT_EQ(refusal->focus, Control::txtFile);
        EXPECT_FALSE(refusal->notice);
    }
    // The same file under another name: through a link, or a dotted path.
    fs::create_symlink(map, dir_ / "Output" / "link.jpg");
    in.output = (dir_ / "Output" / "link.jpg").string();
    EXPECT_TRUE(validateInput(in).has_value());
    in.output = (dir_ / "Output" / ".." / "Maps" / "usa.jpg").string();
    EXPECT_TRUE(validateInput(in).has_value());
    // An earlier check still comes first: the empty list.
    in.manualRows = 0;
    EXPECT_EQ(validateInput(in)->message, "Please enter data to plot.");
    EXPECT_EQ(read(map), "map picture");
    EXPECT_EQ(read(overlay), "marker picture");
}

TEST_F(CoreTest, OnlyAReadOnlyRegularFileIsRemovedBeforeTheSave) {
    const fs::path writable = write("Output/a.jpg", "a");
    removeReadOnlyFile(writable);
    EXPECT_TRUE(fs::exists(writable));  // the save replaces it

    const fs::path target = write("Maps/b.jpg", "b");
    fs::create_symlink(target, dir_ / "Output" / "link.jpg");
    removeReadOnlyFile(dir_ / "Output" / "link.jpg");
    EXPECT_TRUE(fs::is_symlink(dir_ / "Output" / "link.jpg"));  // written through, not removed

    removeReadOnlyFile(dir_ / "Output" / "missing.jpg");  // nothing there: nothing to do

    const fs::path readOnly = write("Output/c.jpg", "c");
    ::chmod(readOnly.c_str(), 0444);
    removeReadOnlyFile(readOnly);
    // Root may write any file, so it has nothing to remove.
    EXPECT_EQ(fs::exists(readOnly), ::geteuid() == 0);
}

TEST_F(CoreTest, ACancelAfterTheCommitIsRefusedAndACommitAfterACancelToo) {
    RenderControl saving;
    EXPECT_TRUE(saving.commit());
    EXPECT_FALSE(saving.requestCancel());
    EXPECT_FALSE(saving.cancelRequested());

    RenderControl cancelled;
    EXPECT_TRUE(cancelled.requestCancel());
    EXPECT_TRUE(cancelled.cancelRequested());
    EXPECT_FALSE(cancelled.commit());
}

TEST_F(CoreTest, AMapWithoutBoundsIsRefusedBeforeAnythingIsRead) {
    RenderJob job;
    job.map = dir_ / "Maps" / "world.jpg";
    job.mapName = "world.jpg";
    job.output = (dir_ / "Output" / "Temp.jpg").string();
    BatchSource source;  // a CSV file that does not exist: it must not be reached
    source.csvPath = (dir_ / "missing.csv").string();
    job.batch = source;
    RenderControl control;
    const auto error = test::errorOf([&] { runRenderJob(job, control, {}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), 11);
    EXPECT_EQ(error->description(),
              "The bounds of map world.jpg are unknown: add a world file world.jgw beside it "
              "(see Help).");
}

TEST_F(CoreTest, ACancelledOrFailingBatchReadLeavesTheOldOutput) {
    const fs::path old = write("Output/Temp.jpg", "older render");
    RenderJob job;
    job.map = dir_ / "Maps" / "usa.jpg";
    job.bounds = render::Bounds{24.0, 50.0, -125.0, -66.44};
    job.output = old.string();
    BatchSource source;
    source.csvPath = write("codes.csv", "Zip\n08873\n").string();
    source.csvFieldName = "Zip";
    job.batch = source;

    RenderControl cancelled;
    cancelled.requestCancel();
    EXPECT_THROW(runRenderJob(job, cancelled, {}), render::Cancelled);
    EXPECT_EQ(read(old), "older render");

    // A source that is not a regular file is refused, not read (a FIFO would block).
    ASSERT_EQ(::mkfifo((dir_ / "codes.fifo").c_str(), 0600), 0);
    job.batch->csvPath = (dir_ / "codes.fifo").string();
    RenderControl control;
    const auto error = test::errorOf([&] { runRenderJob(job, control, {}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number(), 75);
    EXPECT_NE(error->description().find("not a regular file"), std::string::npos);
    job.batch->access = true;
    job.batch->accessPath = dir_.string();  // a folder
    EXPECT_THROW(runRenderJob(job, control, {}), Error);
    EXPECT_EQ(read(old), "older render");
}

TEST(OutputPath, ExtensionComesFromTheFileNameOnly) {
    EXPECT_EQ(extensionName("/maps.v2/result"), "");
    EXPECT_EQ(extensionName("/tmp/result.tar.PNG"), "PNG");
    EXPECT_EQ(extensionName("result."), "");
    EXPECT_EQ(parentFolderName("/tmp/out/x.jpg"), "/tmp/out");
    EXPECT_EQ(parentFolderName("/x.jpg"), "/");
    EXPECT_EQ(parentFolderName("x.jpg"), "");
    EXPECT_EQ(buildPath("/", "/Help"), "/Help");
}

TEST(PastedCodes, SplitAtLineBreaksCommasTabsAndBlanksInOrder) {
    using Codes = std::vector<std::string>;
    EXPECT_EQ(splitPastedCodes("08873\r\n08232\n"), (Codes{"08873", "08232"}));
    EXPECT_EQ(splitPastedCodes("1, 2,,3\t4  5"), (Codes{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(splitPastedCodes("99501"), Codes{"99501"});
    EXPECT_EQ(splitPastedCodes(" \n\t,"), Codes{});
    EXPECT_EQ(splitPastedCodes("08873\n08873"), (Codes{"08873", "08873"}));  // repeats kept
}

}  // namespace
}  // namespace zembra::client
