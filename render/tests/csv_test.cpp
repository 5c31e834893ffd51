// The CSV reader on real files and pipes.
#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <zembra/render/csv.hpp>

#include "support.hpp"

namespace zembra::render::test {
namespace {

using Records = std::vector<std::vector<std::string>>;

Records readAll(CsvReader& reader, std::vector<size_t>* lineNumbers = nullptr) {
    Records out;
    std::vector<std::string> fields;
    while (reader.next(fields)) {
        out.push_back(fields);
        if (lineNumbers) lineNumbers->push_back(reader.line());
    }
    return out;
}

Records readFile(const fs::path& path) {
    CsvReader reader(path);
    return readAll(reader);
}

// A plain reference: every comma splits, lines end at LF with a CR before it dropped, an
// empty line has no fields, bytes are Windows-1252. Files without quoted fields must read
// exactly like this, across buffer refills.
Records referenceRead(const std::string& bytes) {
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
    Records out;
    for (auto& line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        if (!line.empty()) {
            std::string field;
            for (char c : line + ",") {
                if (c == ',') {
                    std::string utf8;
                    appendWindows1252AsUtf8(field, utf8);
                    fields.push_back(utf8);
                    field.clear();
                } else {
                    field.push_back(c);
                }
            }
        }
        out.push_back(fields);
    }
    return out;
}

TEST(Csv, UnquotedFilesReadAsWhenEveryCommaSplits) {
    TempDir dir;
    std::mt19937 rng(12345);
    const std::string alphabet = "0123456789 ,,,\r\"\xE9";
    for (int round = 0; round < 3; ++round) {
        std::string bytes = "Id,Zip,Other\r\n";
        // About 400 kB so that records straddle the reader's refills; some long lines.
        while (bytes.size() < 400'000) {
            const int length = static_cast<int>(rng() % 24);
            for (int i = 0; i < length; ++i) {
                char c = alphabet[rng() % alphabet.size()];
                // A quote only where it is an ordinary character: never opening a field.
                if (c == '"' && (bytes.back() == ',' || bytes.back() == '\n')) c = 'x';
                bytes.push_back(c);
            }
            if (rng() % 2000 == 0) bytes.append(100'000, '7');
            bytes.append(rng() % 3 == 0 ? "\r\n" : "\n");
        }
        if (round == 1) bytes.append("9,last\r");  // no final line end; its CR goes
        const auto path = write(dir, "r.csv", bytes);
        EXPECT_EQ(readFile(path), referenceRead(bytes)) << "round " << round;
    }
}

TEST(Csv, QuotedFieldsFollowTheUsualRulesWhereTheQuoteOpensTheField) {
    TempDir dir;
    const auto path = write(dir, "q.csv",
                            "\"Name\",\"Zip\"\r\n"
                            "\"Smith, John\",\"08873\"\r\n"
                            "\"say \"\"hi\"\"\",12\"A\n"
                            "\"two\nlines\",\"\"\n"
                            "\"ab\"cd,x\n"
                            "last,\"open");
    CsvReader reader(path);
    std::vector<size_t> lines;
    const Records records = readAll(reader, &lines);
    const Records expected = {{"Name", "Zip"},         {"Smith, John", "08873"},
                              {"say \"hi\"", "12\"A"}, {"two\nlines", ""},
                              {"abcd", "x"},           {"last", "\"open"}};
    EXPECT_EQ(records, expected);
    EXPECT_EQ(lines, (std::vector<size_t>{1, 2, 3, 4, 6, 7}));
}

TEST(Csv, AnOpeningQuoteThatNothingClosesIsAnOrdinaryCharacter) {
    TempDir dir;
    EXPECT_EQ(readFile(write(dir, "a.csv", "Zip\n\"08873\n08232\n")),
              (Records{{"Zip"}, {"\"08873"}, {"08232"}}));
    // Not closed within the record limit either: the quote is literal and the file reads on.
    std::string big = "Zip\n\"" + std::string(kMaxRecordBytes / 2, 'a') + "\n" +
                      std::string(kMaxRecordBytes / 2 + 10, 'b') + "\n\"\n";
    const Records records = readFile(write(dir, "b.csv", big));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1][0].size(), kMaxRecordBytes / 2 + 1);
    EXPECT_EQ(records[3], (std::vector<std::string>{"\""}));
}

TEST(Csv, EmptyLinesHaveNoFieldsAndEmptyInputsNoRecords) {
    TempDir dir;
    EXPECT_EQ(readFile(write(dir, "e.csv", "A,B\n\n\r\n,\n\"\"\n")),
              (Records{{"A", "B"}, {}, {}, {"", ""}, {""}}));
    for (const std::string bytes : {"", "\xEF\xBB\xBF"}) {
        CsvReader reader(write(dir, "n.csv", bytes));
        EXPECT_TRUE(reader.atEnd());
        EXPECT_EQ(readAll(reader), Records{});
    }
}

TEST(Csv, Utf8IsReadAsUtf8WithoutItsMarkAndAnythingElseAsWindows1252) {
    TempDir dir;
    EXPECT_EQ(readFile(write(dir, "bom.csv", "\xEF\xBB\xBFZip,C\xC3\xB4t\xC3\xA9\n1,2\n")),
              (Records{{"Zip", "C\xC3\xB4t\xC3\xA9"}, {"1", "2"}}));
    EXPECT_EQ(readFile(write(dir, "plain.csv",
                             "Zip,Stra\xC3\x9F"
                             "e\n")),
              (Records{{"Zip",
                        "Stra\xC3\x9F"
                        "e"}}));
    // Valid UTF-8 at first, a single-byte character far behind: the whole file is
    // single-byte text, the first high bytes included.
    std::string mixed = "Zip,\xC3\xA9\n" + std::string(300'000, '1') + "\nJos\xE9\n";
    const Records records = readFile(write(dir, "mixed.csv", mixed));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0][1], "\xC3\x83\xC2\xA9");
    EXPECT_EQ(records[2][0], "Jos\xC3\xA9");
    // Windows-1252's own characters and its undefined bytes.
    EXPECT_EQ(readFile(write(dir, "cp.csv", "\x80,\x81,\xF4\n")),
              (Records{{"\xE2\x82\xAC", "\xC2\x81", "\xC3\xB4"}}));
}

TEST(Csv, ALineAboveTheLimitIsRefusedNamingItsNumber) {
    TempDir dir;
    const std::string longLine(kMaxRecordBytes + 1, '7');
    CsvReader reader(write(dir, "l.csv", "Zip\n1\n" + longLine + "\n2\n"));
    std::vector<std::string> fields;
    ASSERT_TRUE(reader.next(fields));
    ASSERT_TRUE(reader.next(fields));
    const auto e = errorOf([&] { reader.next(fields); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), err::kInvalidArgument);
    EXPECT_NE(e->description().find("l.csv, line 3"), std::string::npos) << e->description();
    // A line just at the limit is fine.
    EXPECT_EQ(
        readFile(write(dir, "ok.csv", std::string(kMaxRecordBytes, '7') + "\r\n"))[0][0].size(),
        kMaxRecordBytes);
}

TEST(Csv, PipesAreReadTheSameWay) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string bytes = "\xEF\xBB\xBFZip\n\"0,1\"\nCaf\xC3\xA9\n";
    ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fds[1]);
    CsvReader reader(fds[0], "standard input");
    EXPECT_EQ(readAll(reader), (Records{{"Zip"}, {"0,1"}, {"Caf\xC3\xA9"}}));
    ::close(fds[0]);
}

// A workbook piped in cannot be read as one (its readers need the file); read as text it
// would give one garbage column, so a reader told to refuse workbooks says what it is.
TEST(Csv, AWorkbookStreamIsRefusedWhenAskedNotReadAsText) {
    const std::string zip("PK\x03\x04\x14\x00\x06\x00rest", 12);
    const std::string compound("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1rest", 12);
    for (const std::string& bytes : {zip, compound}) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fds[1]);
        CsvOptions options;
        options.refuseWorkbooks = true;
        CsvReader reader(fds[0], "standard input", "Zembra", options);
        const auto e = errorOf([&] { readAll(reader); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->number(), err::kInvalidArgument);
        EXPECT_NE(e->description().find("standard input holds a workbook"), std::string::npos)
            << e->description();
        ::close(fds[0]);
    }
    // Text that merely starts with the letters is text.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string text = "PKZ\n08873\n";
    ASSERT_EQ(::write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fds[1]);
    CsvOptions options;
    options.refuseWorkbooks = true;
    CsvReader reader(fds[0], "standard input", "Zembra", options);
    EXPECT_EQ(readAll(reader), (Records{{"PKZ"}, {"08873"}}));
    ::close(fds[0]);
}

TEST(Csv, FileErrorsCarryTheirClassicNumbersAndAFolderIsNoInput) {
    TempDir dir;
    EXPECT_EQ(errorOf([&] { CsvReader r(dir / "missing.csv"); })->number(), err::kFileNotFound);
    EXPECT_EQ(errorOf([&] { CsvReader r(dir.path() / "no" / "x.csv"); })->number(),
              err::kPathNotFound);
    EXPECT_EQ(errorOf([&] { CsvReader r(""); })->number(), err::kFileNotFound);
    EXPECT_FALSE(fs::exists(dir / "missing.csv"));
    // A folder opens but cannot be read: as a path and as standard input alike.
    CsvReader folder(dir.path());
    std::vector<std::string> fields;
    auto e = errorOf([&] { folder.next(fields); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->number(), 75);
    const int fd = ::open(dir.path().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    CsvReader stdinFolder(fd, "standard input");
    e = errorOf([&] { stdinFolder.next(fields); });
    ::close(fd);
    ASSERT_TRUE(e);
    EXPECT_NE(e->description().find("standard input"), std::string::npos);
}

TEST(Csv, FieldNamesMatchWithoutOuterSpacesExactlyOrIgnoringCase) {
    const std::vector<std::string> names{"Name", " Zip ", "zip", "\"City\""};
    EXPECT_EQ(findField(names, "Zip", NameMatch::Exact), 1u);
    EXPECT_EQ(findField(names, " zip", NameMatch::Exact), 2u);
    EXPECT_EQ(findField(names, "ZIP", NameMatch::IgnoreCase), 1u);
    EXPECT_EQ(findField(names, "City", NameMatch::Exact), std::nullopt);
    EXPECT_EQ(findField(names, "Zip\t", NameMatch::Exact), std::nullopt);
}

// Spreadsheets' "Unicode text" and locale exports: UTF-16 with or without its mark, and
// separators other than the comma, picked from the header line.
std::string utf16(std::string_view ascii, bool little, bool mark) {
    std::string out = mark ? (little ? "\xFF\xFE" : "\xFE\xFF") : "";
    for (const char c : ascii) {
        out += little ? std::string{c, '\0'} : std::string{'\0', c};
    }
    return out;
}

TEST(Csv, Utf16WithOrWithoutItsMarkBecomesUtf8) {
    TempDir dir;
    CsvOptions detect;
    detect.separator = 0;
    for (const bool little : {true, false}) {
        for (const bool mark : {true, false}) {
            std::string bytes = utf16("Name\tZip\r\nA\t08873\r\n", little, mark);
            // "é" and a character beyond the basic plane (a surrogate pair) in the last name.
            bytes += little ? std::string(
                                  "\xE9\x00"
                                  "\x3D\xD8"
                                  "\x00\xDE"
                                  "\x09\x00"
                                  "\x31\x00",
                                  10)
                            : std::string(
                                  "\x00\xE9"
                                  "\xD8\x3D"
                                  "\xDE\x00"
                                  "\x00\x09"
                                  "\x00\x31",
                                  10);
            CsvReader reader(write(dir, "u.txt", bytes), "Zembra", detect);
            EXPECT_EQ(readAll(reader),
                      (Records{{"Name", "Zip"}, {"A", "08873"}, {"\xC3\xA9\xF0\x9F\x98\x80", "1"}}))
                << little << mark;
            EXPECT_EQ(reader.separator(), '\t');
            EXPECT_EQ(reader.encoding(), little ? TextEncoding::Utf16Le : TextEncoding::Utf16Be);
        }
    }
    // A UTF-8 file with one NUL in a field is not taken for UTF-16; an odd last byte and a
    // lone surrogate become U+FFFD.
    EXPECT_EQ(readFile(write(dir, "n.csv", std::string("Zip\n08\0873\n", 10))),
              (Records{{"Zip"}, {std::string("08\0873", 6)}}));
    CsvReader odd(
        write(dir, "o.txt", utf16("Zip\n1", true, true) + std::string("\x00\xD8", 2) + "x"));
    EXPECT_EQ(readAll(odd), (Records{{"Zip"}, {"1\xEF\xBF\xBD\xEF\xBF\xBD"}}));
}

TEST(Csv, TheSeparatorComesFromTheHeaderLineOrTheOptions) {
    TempDir dir;
    CsvOptions detect;
    detect.separator = 0;
    const auto read = [&](const std::string& bytes, CsvOptions options, char* used = nullptr) {
        CsvReader reader(write(dir, "s.csv", bytes), "Zembra", options);
        Records records = readAll(reader);
        if (used) *used = reader.separator();
        return records;
    };
    char used = 0;
    EXPECT_EQ(read("Name;Zip\n\"a;b\";08873\n", detect, &used),
              (Records{{"Name", "Zip"}, {"a;b", "08873"}}));
    EXPECT_EQ(used, ';');
    EXPECT_EQ(read("Name|Zip|x\nA|1,2|3\n", detect, &used),
              (Records{{"Name", "Zip", "x"}, {"A", "1,2", "3"}}));
    EXPECT_EQ(used, '|');
    // Quoted separators do not count; ties go to the first candidate; none gives a comma.
    read("\"a,b,c\";Zip\n", detect, &used);
    EXPECT_EQ(used, ';');
    read("a,b;c\n", detect, &used);
    EXPECT_EQ(used, ',');
    read("Zip\n1;2\n", detect, &used);
    EXPECT_EQ(used, ',');
    // The client's rule: a comma wins whenever there is one.
    CsvOptions client = detect;
    client.candidates = ",;\t";
    client.rule = SeparatorRule::FirstPresent;
    read("a;b;c,d\n", client, &used);
    EXPECT_EQ(used, ',');
    read("a|b\tc\n", client, &used);
    EXPECT_EQ(used, '\t');
    CsvOptions fixed;
    fixed.separator = ';';
    EXPECT_EQ(read("a,b;c\n", fixed), (Records{{"a,b", "c"}}));
}

TEST(Csv, CrOnlyLineEndsWhenTheOptionsTakeThem) {
    TempDir dir;
    CsvOptions cr;
    cr.crLineEnds = true;
    const auto path = write(dir, "cr.csv", "Name,Zip\ra,08873\r\"b\rc\",08232\r\rd,1");
    CsvReader reader(path, "Zembra", cr);
    std::vector<size_t> lines;
    EXPECT_EQ(readAll(reader, &lines),
              (Records{{"Name", "Zip"}, {"a", "08873"}, {"b\rc", "08232"}, {}, {"d", "1"}}));
    EXPECT_EQ(lines, (std::vector<size_t>{1, 2, 3, 5, 6}));
    // Without the option, or in a file whose first line ends in CRLF, a lone CR stays.
    EXPECT_EQ(readFile(path).size(), 1u);
    CsvReader crlf(write(dir, "crlf.csv", "Zip\r\na\rb\r\n"), "Zembra", cr);
    EXPECT_EQ(readAll(crlf), (Records{{"Zip"}, {"a\rb"}}));
}

}  // namespace
}  // namespace zembra::render::test
