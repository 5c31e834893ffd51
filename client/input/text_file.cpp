#include "text_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <zembra/runtime.hpp>

namespace zembra::client {
namespace {

constexpr int32_t kPathFileAccess = 75;
constexpr std::size_t kChunk = 256 * 1024;

// Code points of Windows-1252 bytes 0x80..0x9F; the rest of the upper half is Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

Error fileError(int errnoValue, const std::string& path) {
    switch (errnoValue) {
        case ENOENT: {
            // A missing folder reads differently from a missing file.
            const auto parent = std::filesystem::path(path).parent_path();
            std::error_code ec;
            if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
                return Error::standard(err::kPathNotFound, kClientErrorSource, path);
            }
            return Error::standard(err::kFileNotFound, kClientErrorSource, path);
        }
        case ENOTDIR:
            return Error::standard(err::kPathNotFound, kClientErrorSource, path);
        case EACCES:
        case EPERM:
        case ETXTBSY:
            return Error::standard(err::kPermissionDenied, kClientErrorSource, path);
        default:
            return Error(
                kPathFileAccess, kClientErrorSource,
                "Path/File access error: " + path + " (" + std::strerror(errnoValue) + ")");
    }
}

}  // namespace

void appendWindows1252AsUtf8(std::string_view bytes, std::string& out) {
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
            continue;
        }
        const char32_t cp = b < 0xA0 ? kHighControls[b - 0x80] : b;
        if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
}

std::string windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    appendWindows1252AsUtf8(bytes, out);
    return out;
}

std::vector<std::string> splitAtCommas(std::string_view line) {
    std::vector<std::string> pieces;
    if (line.empty()) {
        return pieces;
    }
    std::size_t start = 0;
    for (;;) {
        const auto comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            pieces.emplace_back(line.substr(start));
            return pieces;
        }
        pieces.emplace_back(line.substr(start, comma - start));
        start = comma + 1;
    }
}

void requireRegularFile(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) {
        return;
    }
    throw Error(kPathFileAccess, kClientErrorSource,
                "Path/File access error: " + path + " is not a regular file");
}

TextLineReader::TextLineReader(const std::string& path) : path_(path) {
    if (path.empty()) {
        throw Error::standard(err::kFileNotFound, kClientErrorSource, "(no file name)");
    }
    requireRegularFile(path);
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        throw fileError(errno, path);
    }
    buffer_.resize(kChunk);
}

TextLineReader::~TextLineReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool TextLineReader::fill() {
    if (eof_) {
        return false;
    }
    // Keep the unread tail, at the front of the buffer, and grow when a line fills it all.
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) {
        buffer_.resize(buffer_.size() * 2);
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (n > 0) {
            end_ += static_cast<std::size_t>(n);
            return true;
        }
        if (n == 0) {
            eof_ = true;
            return false;
        }
        if (errno != EINTR) {
            throw fileError(errno, path_);
        }
    }
}

bool TextLineReader::atEnd() { return begin_ == end_ && !fill(); }

bool TextLineReader::nextLine(std::string_view& line) {
    std::size_t searchFrom = begin_;
    for (;;) {
        const void* lf = std::memchr(buffer_.data() + searchFrom, '\n', end_ - searchFrom);
        if (lf != nullptr) {
            const auto pos =
                static_cast<std::size_t>(static_cast<const char*>(lf) - buffer_.data());
            std::size_t stop = pos;
            if (stop > begin_ && buffer_[stop - 1] == '\r') {
                --stop;
            }
            line = std::string_view(buffer_.data() + begin_, stop - begin_);
            begin_ = pos + 1;
            return true;
        }
        const std::size_t scanned = end_ - begin_;
        if (!fill()) {
            if (begin_ == end_) {
                return false;
            }
            // The last line has no LF.
            std::size_t stop = end_;
            if (buffer_[stop - 1] == '\r') {
                --stop;
            }
            line = std::string_view(buffer_.data() + begin_, stop - begin_);
            begin_ = end_;
            return true;
        }
        searchFrom = begin_ + scanned;  // fill() moved the unread bytes to the front
    }
}

std::optional<std::vector<std::string>> readCsvHeader(const std::string& path) {
    TextLineReader reader(path);
    if (reader.atEnd()) {
        return std::nullopt;
    }
    std::string_view header;
    reader.nextLine(header);
    return splitAtCommas(windows1252ToUtf8(header));
}

}  // namespace zembra::client
