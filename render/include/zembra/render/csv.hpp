// The one reader of comma-separated text for every front end: the client's CSV source,
// the command line's zip-code lists, columns and point files.
//
// Records end at LF; a CR right before it (or right before the end of the input) is
// dropped, a CR anywhere else is kept (unless the options take CR line ends, below). A
// comma separates two fields, or the separator the options name or detect. A field whose FIRST
// character is a double quote is quoted: it ends at the next lone quote, a doubled quote
// inside stands for one, and commas and line breaks inside belong to the field; text
// after the closing quote up to the next comma is kept as it is. A quote anywhere else is
// an ordinary character, and so is an opening quote that no lone quote closes (within the
// input and the record limit). So a file without quoted fields reads exactly as when
// every comma splits. An empty line is a record without fields.
//
// The text is read as UTF-16 when it starts with a UTF-16 byte-order mark or, without one,
// when its first bytes show UTF-16's pattern of NUL bytes (ASCII text in UTF-16); else as
// UTF-8 when it is valid UTF-8 (a byte-order mark at the start is dropped), otherwise as
// single-byte Windows-1252; fields always come out as UTF-8.
// Memory stays bounded: a record longer than kMaxRecordBytes is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/render/records.hpp>

namespace zembra::render {

inline constexpr size_t kMaxRecordBytes = size_t{1} << 20;

enum class TextEncoding { Undecided, Utf8, Windows1252, Utf16Le, Utf16Be };

// "UTF-8", "Windows-1252", "UTF-16LE", "UTF-16BE"; "ASCII" while undecided.
std::string_view encodingName(TextEncoding encoding) noexcept;

// How the separator is picked from the first line when the options leave it open.
enum class SeparatorRule {
    MostFrequent,  // the candidate found most often outside quotes; ties by candidate order
    FirstPresent,  // the first candidate found at all
};

struct CsvOptions {
    char separator = ',';  // 0: picked from the first line among `candidates`
    std::string candidates = ",;\t|";
    SeparatorRule rule = SeparatorRule::MostFrequent;
    // A first line that ends in a lone CR (no LF after it) makes every lone CR a line end,
    // as in files written with CR-only line ends.
    bool crLineEnds = false;
    // Input that starts as a workbook (.xls, .xlsx, .ods) is refused with a message, not
    // read as text: for a stream, which the workbook readers cannot take.
    bool refuseWorkbooks = false;
};

// The separator `rule` picks among `candidates` for a first line; the first candidate when
// the line holds none of them. Quoted text ("a;b") does not count.
char detectSeparator(std::string_view line, std::string_view candidates, SeparatorRule rule);

// "comma", "semicolon", "tab", "pipe", or the character itself.
std::string separatorName(char separator);

class CsvReader final : public RecordSource {
  public:
    // Opens a file for reading (never creating it). Raises 53 for a missing file,
    // 76 for a missing folder, 70 when reading is not permitted, 75 for other failures;
    // every error the reader raises carries `errorSource`.
    explicit CsvReader(const std::filesystem::path& path, std::string errorSource = "Zembra",
                       CsvOptions options = {});
    // Reads an open descriptor it does not own (standard input); `name` names the
    // input in messages ("standard input").
    CsvReader(int fd, std::string name, std::string errorSource = "Zembra",
              CsvOptions options = {});
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;
    ~CsvReader() override;

    // True when nothing is left to read; before the first record, when the input holds
    // nothing at all (a lone byte-order mark counts as nothing).
    bool atEnd();

    // Reads the next record's fields (UTF-8) and returns true; false at the end.
    // Raises 75 naming the input on a read failure (a folder given as the input
    // included), and 5 naming the line for a record longer than kMaxRecordBytes.
    bool next(std::vector<std::string>& fields) override;

    // The line (from 1) on which the last record read began.
    size_t line() const noexcept { return recordLine_; }
    std::string position() const override { return "line " + std::to_string(recordLine_); }
    const std::string& name() const noexcept override { return name_; }
    // How the text is being read; Undecided while every byte so far was ASCII.
    TextEncoding encoding() const noexcept {
        return utf16_ != TextEncoding::Undecided ? utf16_ : encoding_;
    }
    // The field separator; with detection, known once the first record was read.
    char separator() const noexcept { return separator_; }

  private:
    enum class Parse { Complete, NeedMore };
    bool fill();
    Parse parse(std::vector<std::string>& fields, size_t& consumed, size_t& lineBreaks);
    void decide(size_t recordStart);
    void decode(std::vector<std::string>& fields) const;
    void start();
    void appendUtf16(const char* bytes, size_t size);
    void pickSeparator();

    int fd_ = -1;
    bool owned_ = false;
    std::string name_;
    std::string source_;
    std::vector<char> buffer_;
    size_t begin_ = 0;  // first unread byte
    size_t end_ = 0;    // one past the last byte read
    bool eof_ = false;
    bool started_ = false;  // the byte-order mark has been looked for
    size_t nextLine_ = 1;
    size_t recordLine_ = 0;
    TextEncoding encoding_ = TextEncoding::Undecided;
    CsvOptions options_;
    char separator_ = ',';
    bool crEnds_ = false;
    bool firstRecord_ = true;
    // UTF-16 input is turned into UTF-8 as it is read; what a read left incomplete waits.
    TextEncoding utf16_ = TextEncoding::Undecided;
    std::string utf16Pending_;
    char16_t highSurrogate_ = 0;
};

// How findField compares names.
enum class NameMatch { Exact, IgnoreCase };

// The position of the first field name equal to `wanted`, both without surrounding
// space characters; nothing when there is none.
std::optional<size_t> findField(const std::vector<std::string>& names, std::string_view wanted,
                                NameMatch match);

// Windows-1252 text as UTF-8. The five bytes the code page leaves undefined become the
// C1 controls of the same value.
void appendWindows1252AsUtf8(std::string_view bytes, std::string& out);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values
// above U+10FFFF).
bool isValidUtf8(std::string_view bytes) noexcept;

}  // namespace zembra::render
