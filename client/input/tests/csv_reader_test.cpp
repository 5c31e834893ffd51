// The CSV side of the batch reader and the text-file reader under it, on real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <zembra/render/csv.hpp>

#include "input/batch_reader.hpp"
#include "input/main_module.hpp"
#include "input/text_file.hpp"

namespace zembra::client {
namespace {

namespace fs = std::filesystem;

class CsvTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zembra-csv-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        out << bytes;
        return path.string();
    }

    // Reads the CSV file for the field `field`, collecting the notices shown.
    std::vector<std::string> read(const std::string& path, const std::string& field) {
        BatchSource source;
        source.csvPath = path;
        source.csvFieldName = field;
        return ReadBatchData(source, [this](const std::string& m) { notices_.push_back(m); })
            .items();
    }

    fs::path dir_;
    std::vector<std::string> notices_;
};

using Zips = std::vector<std::string>;

TEST_F(CsvTest, DistinctTrimmedValuesInOrderOfFirstAppearance) {
    const auto path = write("a.csv",
                            "Name,Zip,City\n"
                            "a,08873,x\n"
                            "b, 10001 ,y\n"
                            "c,08873,z\n"
                            "d,10001,w\n"
                            "e,  ,v\n"
                            "f,,u\n"
                            "g,99501\n"
                            "h,zip,t\n"
                            "i,ZIP,t\n");
    EXPECT_EQ(read(path, "Zip"), (Zips{"08873", "10001", "", "99501", "zip", "ZIP"}));
    EXPECT_TRUE(notices_.empty());
}

TEST_F(CsvTest, HeaderMatchIgnoresOuterBlanksButNotCase) {
    const auto path = write("h.csv", "Name , Zip ,City\nx,1,2\n");
    EXPECT_EQ(read(path, "Zip"), Zips{"1"});
    EXPECT_EQ(read(path, " Zip"), Zips{"1"});  // as listed by the page: blank kept
    EXPECT_TRUE(notices_.empty());
    EXPECT_EQ(read(path, "zip"), Zips{});
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_EQ(notices_[0], "Selected field could not be found in the file.");
}

TEST_F(CsvTest, FirstOfTwoEqualHeaderNamesWins) {
    const auto path = write("d.csv", "Zip,Zip\n1,2\n3,4\n");
    EXPECT_EQ(read(path, "Zip"), (Zips{"1", "3"}));
}

TEST_F(CsvTest, QuotedFieldsAsSpreadsheetsWriteThem) {
    const auto path = write("q.csv",
                            "\"Name\",\"Zip\"\r\n"
                            "\"Smith, John\",\"08873\"\r\n"
                            "\"Doe \"\"Jr\"\"\",\"10001\"\n"
                            "\"two\nlines\",\"99501\"\n");
    // A quoted header name matches without its quotes; a comma, a doubled quote and a
    // line break inside quotes belong to the field.
    EXPECT_EQ(read(path, "Zip"), (Zips{"08873", "10001", "99501"}));
    EXPECT_TRUE(notices_.empty());
    // A quote that does not open a field, or an unclosed one, is an ordinary character:
    // such files read as when every comma splits.
    const auto plain = write("p.csv", "Zip,Note\n12\"A,x\n\"open,y\n");
    EXPECT_EQ(read(plain, "Zip"), (Zips{"12\"A", "\"open"}));
}

TEST_F(CsvTest, Utf8FilesReadAsUtf8WithoutTheMark) {
    const auto bom = write("u.csv", "\xEF\xBB\xBFZip,Ort\n08873,K\xC3\xB6ln\n");
    EXPECT_EQ(read(bom, "Zip"), Zips{"08873"});
    EXPECT_EQ(read(bom, "Ort"), Zips{"K\xC3\xB6ln"});
    EXPECT_EQ(readCsvHeader(bom), (std::vector<std::string>{"Zip", "Ort"}));
    EXPECT_TRUE(notices_.empty());
}

TEST_F(CsvTest, ShortRecordsAndEmptyLinesAreSkippedButABlankFieldCounts) {
    const auto path = write("s.csv", "A,B,Zip\n1,2\n\n1,2,3\n,,\n1\n");
    EXPECT_EQ(read(path, "Zip"), (Zips{"3", ""}));
    // In the first column an empty line has no field at all; a line of one blank has one.
    const auto first = write("f.csv", "Zip\n\n\n5\n \n5\n");
    EXPECT_EQ(read(first, "Zip"), (Zips{"5", ""}));
    EXPECT_TRUE(notices_.empty());
}

TEST_F(CsvTest, EmptyFileAndHeaderOnlyFileGiveNothingWithoutMessage) {
    EXPECT_EQ(read(write("e.csv", ""), "Zip"), Zips{});
    EXPECT_EQ(read(write("h.csv", "Zip\n"), "Zip"), Zips{});
    EXPECT_EQ(read(write("n.csv", "Zip"), "Zip"), Zips{});
    EXPECT_TRUE(notices_.empty());
    // An empty header line has no fields, so nothing can match.
    EXPECT_EQ(read(write("b.csv", "\n1\n"), "Zip"), Zips{});
    EXPECT_EQ(notices_.size(), 1u);
}

TEST_F(CsvTest, CrLfLineEndsReadLikeLf) {
    const auto crlf = write("w.csv", "Name,Zip\r\na,08873\r\nb,10001\r\n\r\nc,08873\r\nd,99501");
    EXPECT_EQ(read(crlf, "Zip"), (Zips{"08873", "10001", "99501"}));
    // Only the CR before the line end goes; one inside a field stays.
    const auto inner = write("i.csv", "Zip\ra\r\nZip\n");
    EXPECT_EQ(read(inner, "Zip\ra"), Zips{"Zip"});
    const auto lastCr = write("l.csv", "Zip\n1\r");
    EXPECT_EQ(read(lastCr, "Zip"), Zips{"1"});
}

TEST_F(CsvTest, SemicolonOrTabHeadersWithoutACommaAndUtf16Files) {
    const auto semi = write("s.csv", "Name;Zip\nA;08873\nB;08232\n");
    EXPECT_EQ(readCsvHeader(semi), (std::vector<std::string>{"Name", "Zip"}));
    EXPECT_EQ(read(semi, "Zip"), (Zips{"08873", "08232"}));
    // A comma anywhere in the header keeps every comma a separator, as always.
    const auto mixed = write("m.csv", "Name;Zip,Code\nA;1,2\n");
    EXPECT_EQ(readCsvHeader(mixed), (std::vector<std::string>{"Name;Zip", "Code"}));
    std::string unicode = "\xFF\xFE";
    for (const char c : std::string_view("Zip\tName\r\n08873\tA\r\n"))
        unicode += std::string{c, '\0'};
    EXPECT_EQ(read(write("u.txt", unicode), "Zip"), (Zips{"08873"}));
    EXPECT_TRUE(notices_.empty());
}

TEST_F(CsvTest, Windows1252BytesBecomeUtf8) {
    // "Côté" as header; values with the euro sign (0x80), e acute (0xE9), and an
    // undefined byte (0x81) kept as the C1 control of the same value.
    const auto path = write("cp.csv",
                            "N,C\xF4t\xE9\n"
                            "a,\x80"
                            "5\n"
                            "b,Jos\xE9\n"
                            "c,\x81\n"
                            "d,\x80"
                            "5\n");
    EXPECT_EQ(read(path, "C\xC3\xB4t\xC3\xA9"), (Zips{"\xE2\x82\xAC"
                                                      "5",
                                                      "Jos\xC3\xA9", "\xC2\x81"}));
    EXPECT_TRUE(notices_.empty());
}

TEST_F(CsvTest, FileErrorsCarryTheirClassicNumbers) {
    try {
        read((dir_ / "missing.csv").string(), "Zip");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 53);
        EXPECT_NE(e.description().find("missing.csv"), std::string::npos);
    }
    try {
        read((dir_ / "nofolder" / "x.csv").string(), "Zip");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 76);
    }
    // A folder or a FIFO is not read (a FIFO would block the read for ever).
    ASSERT_EQ(::mkfifo((dir_ / "pipe.csv").c_str(), 0600), 0);
    for (const fs::path& odd : {dir_, dir_ / "pipe.csv"}) {
        try {
            read(odd.string(), "Zip");
            FAIL() << "no error for " << odd;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), 75);
        }
        EXPECT_THROW(readCsvHeader(odd.string()), Error);
    }
    EXPECT_THROW(read("", "Zip"), Error);
    EXPECT_FALSE(fs::exists(dir_ / "missing.csv"));  // never created
}

// Every comma splits, as in a file without quotes.
std::vector<std::string> splitAtCommas(std::string_view line) {
    std::vector<std::string> pieces;
    if (line.empty()) return pieces;
    std::size_t start = 0;
    for (;;) {
        const auto comma = line.find(',', start);
        pieces.emplace_back(
            line.substr(start, comma == std::string_view::npos ? line.npos : comma - start));
        if (comma == std::string_view::npos) return pieces;
        start = comma + 1;
    }
}

std::string windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    render::appendWindows1252AsUtf8(bytes, out);
    return out;
}

// A plain reference reader: whole file in memory, split at LF, CR before LF dropped.
Zips referenceRead(const std::string& bytes, const std::string& field) {
    std::vector<std::string> lines;
    std::string current;
    for (char c : bytes) {
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) lines.push_back(current);
    for (auto& line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    Zips out;
    if (lines.empty()) return out;
    const auto header = splitAtCommas(windows1252ToUtf8(lines[0]));
    std::size_t p = 0;
    while (p < header.size() && trimText(header[p]) != trimText(field)) ++p;
    if (p == header.size()) return out;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto fields = splitAtCommas(windows1252ToUtf8(lines[i]));
        if (fields.size() < p + 1) continue;
        const std::string v(trimText(fields[p]));
        if (std::find(out.begin(), out.end(), v) == out.end()) out.push_back(v);
    }
    return out;
}

TEST_F(CsvTest, BufferedReaderAgreesWithAPlainReaderAcrossChunkBoundaries) {
    std::mt19937 rng(12345);
    const std::string alphabet = "0123456789 ,,,\r\xE9";
    for (int round = 0; round < 4; ++round) {
        std::string bytes = "Id,Zip,Other\r\n";
        // About 1.5 MB so lines straddle the reader's chunks; one line longer than a chunk.
        while (bytes.size() < 1'500'000) {
            const int length = static_cast<int>(rng() % 24);
            for (int i = 0; i < length; ++i) bytes.push_back(alphabet[rng() % alphabet.size()]);
            if (rng() % 5000 == 0) bytes.append(300'000, '7');
            bytes.append(rng() % 3 == 0 ? "\r\n" : "\n");
        }
        if (round % 2 == 1) bytes.append("9,last,x");  // no final line end
        const auto path = write("r" + std::to_string(round) + ".csv", bytes);
        EXPECT_EQ(read(path, "Zip"), referenceRead(bytes, "Zip")) << "round " << round;
    }
}

TEST_F(CsvTest, HeaderForTheFieldListKeepsBlanksAndEmptyPieces) {
    EXPECT_EQ(readCsvHeader(write("e.csv", "")), std::nullopt);
    EXPECT_EQ(readCsvHeader(write("b.csv", "\r\nx\n")), std::vector<std::string>{});
    EXPECT_EQ(readCsvHeader(write("h.csv", "Name, Zip ,,\"City\"\r\n1,2\n")),
              (std::vector<std::string>{"Name", " Zip ", "", "City"}));
    EXPECT_EQ(readCsvHeader(write("c.csv",
                                  "Ort,Stra\xDF"
                                  "e\n")),
              (std::vector<std::string>{"Ort",
                                        "Stra\xC3\x9F"
                                        "e"}));
    EXPECT_THROW(readCsvHeader((dir_ / "none.csv").string()), Error);
}

TEST_F(CsvTest, FieldListProposesTheZipColumnByNameThenByItsValues) {
    const auto propose = [&](const std::string& bytes) {
        const auto head = readCsvHead(write("p.csv", bytes), 20);
        return head ? zipLikeField(*head) : -1;
    };
    // A name like a zip code's wins over values that look like codes.
    EXPECT_EQ(propose("Id,Revenue,Postal Code\n1,12345,08873\n"), 2);
    // Without such a name, the first column of five-digit values (ZIP+4 too, blanks aside).
    EXPECT_EQ(propose("Customer,Code,Amount\nAlice,08873,12.5\nBob, 10001-2345 ,3\nCarl,,4\n"), 1);
    EXPECT_EQ(propose("\"What\";\"Where\"\n\"x\";\"08873\"\n"), 1);
    // One value that is no zip code, or none at all, rules a column out.
    EXPECT_EQ(propose("A,B,C\nx,08873,08873\ny,8232,\nz,,08232\n"), 2);
    EXPECT_EQ(propose("A,B\nx,\ny,\n"), 0);
    EXPECT_EQ(propose("A,B\n"), 0);
    EXPECT_EQ(propose("A,B\nx,123456\ny,0887a\n"), 0);
    EXPECT_EQ(propose(""), -1);
    // Only the first records are looked at.
    std::string late = "A,B\n";
    for (int i = 0; i < 30; ++i) late += "x,y\n";
    late += "x,08873\n";
    EXPECT_EQ(propose(late), 0);
}

// The rows the styles read: code, category and value columns chosen by header name.
TEST_F(CsvTest, StyleRowsSumValuesAndCountRowsPerCode) {
    const auto path = write("s.csv",
                            "Zip,Segment,Revenue\n"
                            "08873,Retail,100\n"
                            "10001,Office,\"$1,250.50\"\n"
                            "08873,Retail,50\n"
                            "08873,Office,\n"
                            ",Retail,7\n"
                            "99501\n");
    BatchSource source;
    source.csvPath = path;
    source.csvFieldName = "Zip";
    source.categoryField = "Segment";
    source.valueField = "Revenue";
    const render::RowTable rows = ReadBatchRows(source, {}, false);
    ASSERT_EQ(rows.entries().size(), 3u);
    EXPECT_EQ(rows.codes(), (Zips{"08873", "10001", "99501"}));
    const render::CodeRows& first = rows.entries()[0];
    EXPECT_EQ(first.rows, 3u);
    EXPECT_EQ(first.valued, 2u);
    EXPECT_DOUBLE_EQ(first.sum, 150);
    EXPECT_EQ(first.category, "Retail");
    EXPECT_DOUBLE_EQ(rows.entries()[1].sum, 1250.5);
    EXPECT_EQ(rows.entries()[2].rows, 1u);  // a record without the other columns counts
    EXPECT_EQ(rows.entries()[2].valued, 0u);

    // Kept apart by category, a code has one entry per segment.
    const render::RowTable byCategory = ReadBatchRows(source, {}, true);
    ASSERT_EQ(byCategory.entries().size(), 4u);
    EXPECT_EQ(byCategory.entries()[2].code, "08873");
    EXPECT_EQ(byCategory.entries()[2].category, "Office");
    EXPECT_EQ(byCategory.entries()[2].rows, 1u);
    EXPECT_TRUE(notices_.empty());
}

TEST_F(CsvTest, StyleRowsRefuseMissingColumnsAndValuesThatAreNoNumbers) {
    BatchSource source;
    source.csvPath = write("s.csv", "Zip,Segment,Revenue\n08873,Retail,lots\n");
    source.categoryField = "Segment";
    // The code field missing: the written notice and nothing read.
    source.csvFieldName = "zip";
    EXPECT_TRUE(ReadBatchRows(
                    source, [&](const std::string& m) { notices_.push_back(m); }, false)
                    .entries()
                    .empty());
    EXPECT_EQ(notices_, (Zips{kFieldNotFoundMessage}));
    source.csvFieldName = "Zip";
    source.categoryField = "Region";
    try {
        ReadBatchRows(source, {}, false);
        FAIL() << "no error for a missing category column";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::kInvalidArgument);
        EXPECT_NE(e.description().find("'Region'"), std::string::npos) << e.description();
    }
    source.categoryField = "Segment";
    source.valueField = "Revenue";
    try {
        ReadBatchRows(source, {}, false);
        FAIL() << "no error for a value that is no number";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::kTypeMismatch);
        EXPECT_NE(e.description().find("line 2"), std::string::npos) << e.description();
    }
    BatchSource empty;
    empty.csvPath = write("e.csv", "");
    EXPECT_TRUE(ReadBatchRows(empty, {}, false).entries().empty());
}

TEST(ZipSet, KeepsOrderRefusesRepeatsAndSurvivesCopyAndMove) {
    auto original = std::make_unique<ZipSet>();
    EXPECT_TRUE(original->add("08873"));
    EXPECT_TRUE(original->add("a-rather-long-code-beyond-small-string-size"));
    EXPECT_FALSE(original->add("08873"));
    EXPECT_TRUE(original->add(""));
    EXPECT_FALSE(original->add(""));
    ZipSet copy(*original);
    ZipSet moved(std::move(*original));
    original.reset();  // the copy's index must not point into the original
    for (const ZipSet* set : {&copy, &moved}) {
        EXPECT_EQ(set->items(), (Zips{"08873", "a-rather-long-code-beyond-small-string-size", ""}));
        EXPECT_TRUE(set->contains("08873"));
        EXPECT_FALSE(set->contains("8873"));
    }
    EXPECT_FALSE(copy.add("a-rather-long-code-beyond-small-string-size"));
    // Growing the table keeps every entry reachable, short codes and long ones alike.
    const auto key = [](int i) {
        return std::to_string(i) + std::string(i % 3 == 0 ? 25 : 0, 'x');
    };
    for (int i = 0; i < 5000; ++i) EXPECT_TRUE(copy.add(key(i))) << i;
    EXPECT_EQ(copy.size(), 5003u);
    for (int i = 0; i < 5000; ++i) EXPECT_FALSE(copy.add(key(i))) << i;
    EXPECT_TRUE(copy.contains("08873"));
    EXPECT_TRUE(copy.contains(key(3000)));
    EXPECT_FALSE(copy.contains("3000"));  // only its long form was added
    EXPECT_EQ(copy[3], key(0));
    EXPECT_EQ(copy.size(), 5003u);
}

}  // namespace
}  // namespace zembra::client
