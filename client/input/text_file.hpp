// Reading the client's text files: single-byte Windows-1252 text, line by line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zembra::client {

// Source of the errors the client raises itself (file errors, conversions).
inline constexpr const char* kClientErrorSource = "ZembraClient";

// Appends Windows-1252 text converted to UTF-8 to `out`. The five bytes the code page
// leaves undefined map to the C1 controls of the same value, as the platform does.
void appendWindows1252AsUtf8(std::string_view bytes, std::string& out);
std::string windows1252ToUtf8(std::string_view bytes);

// Splits at every comma, with no quoting: the pieces keep their blanks and quotes.
// An empty text gives no pieces at all (not one empty piece), as the platform's Split.
std::vector<std::string> splitAtCommas(std::string_view line);

// Raises 75 naming the path when something exists there that is not a regular file (a
// folder, a FIFO, a device): such a source could block a read forever or yield nothing
// sensible. A missing path passes, for the reader or driver to report as it does.
void requireRegularFile(const std::string& path);

// Reads a file's lines as raw single-byte text. A line ends at LF; a CR right before it
// (or right before the end of the file) is dropped, so CRLF and LF files read alike.
// A final line without LF is still a line; a file ending in LF has no empty last line.
class TextLineReader {
  public:
    // Opens the file for reading; it is never created. Raises 53 (file not found),
    // 76 (path not found), 70 (permission denied) or 75 (not a regular file, other
    // access failures).
    explicit TextLineReader(const std::string& path);
    TextLineReader(const TextLineReader&) = delete;
    TextLineReader& operator=(const TextLineReader&) = delete;
    ~TextLineReader();

    // True when the file holds nothing at all (checked before the first line is read).
    bool atEnd();

    // Sets `line` to the next line and returns true; false at the end of the file.
    // The view stays valid until the next call. Raises 75 on a read failure.
    bool nextLine(std::string_view& line);

  private:
    bool fill();  // reads more bytes; false at the end of the file

    std::string path_;
    int fd_ = -1;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // first unread byte
    std::size_t end_ = 0;    // one past the last byte read
    bool eof_ = false;
};

// The header line of a CSV file, converted to UTF-8 and split at every comma;
// std::nullopt when the file holds nothing at all. Raises the file errors above.
std::optional<std::vector<std::string>> readCsvHeader(const std::string& path);

}  // namespace zembra::client
