#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <zembra/render/csv.hpp>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

namespace zembra::render {

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Code points of Windows-1252 bytes 0x80..0x9F; the rest of the upper half is Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// A failed open or read: the classic number for the errno, and for other failures
// (a folder read as a file) the system's own words after the path.
Error fileFailure(int errnoValue, const std::string& source, const std::string& path) {
    const int32_t number = fileErrorNumber(errnoValue, path);
    return Error::standard(
        number, source,
        number == err::kPathFileAccess ? path + " (" + std::strerror(errnoValue) + ")" : path);
}

bool hasHighByte(std::string_view text) noexcept {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

enum class Utf8 { Valid, Invalid, Incomplete };

// The length of the well-formed UTF-8 sequence at the start of `bytes`: 0 when it is
// not one, and Incomplete when the bytes end inside a sequence that may still be valid.
Utf8 sequenceAt(std::string_view bytes, size_t& length) noexcept {
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    if (b0 < 0x80) {
        length = 1;
        return Utf8::Valid;
    }
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) low = 0xA0;   // no overlong forms
        if (b0 == 0xED) high = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return Utf8::Invalid;
    }
    for (size_t i = 1; i < length; ++i) {
        if (i >= bytes.size()) return Utf8::Incomplete;
        const auto b = static_cast<unsigned char>(bytes[i]);
        const unsigned char lo = i == 1 ? low : 0x80;
        const unsigned char hi = i == 1 ? high : 0xBF;
        if (b < lo || b > hi) return Utf8::Invalid;
    }
    return Utf8::Valid;
}

// Checks a stretch of text; `used` gets the bytes of complete sequences, so that the
// caller can carry an incomplete tail over to the next stretch.
Utf8 checkUtf8(std::string_view bytes, size_t& used) noexcept {
    used = 0;
    while (used < bytes.size()) {
        size_t length = 0;
        const Utf8 state = sequenceAt(bytes.substr(used), length);
        if (state != Utf8::Valid) return state;
        used += length;
    }
    return Utf8::Valid;
}

// UTF-8 as it is, except bytes that start no valid sequence, which are read as
// Windows-1252: only an input that turned out invalid after being taken for UTF-8
// (standard input, which cannot be read twice) has them.
std::string utf8WithFallback(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        size_t length = 0;
        if (sequenceAt(bytes.substr(i), length) == Utf8::Valid) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            appendWindows1252AsUtf8(bytes.substr(i, 1), out);
            ++i;
        }
    }
    return out;
}

std::string_view trimSpaces(std::string_view text) noexcept {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

bool equalNames(std::string_view a, std::string_view b, NameMatch match) noexcept {
    if (match == NameMatch::Exact) return a == b;
    return equalsIgnoreCase(a, b);
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

bool isValidUtf8(std::string_view bytes) noexcept {
    size_t used = 0;
    return checkUtf8(bytes, used) == Utf8::Valid;
}

std::optional<size_t> findField(const std::vector<std::string>& names, std::string_view wanted,
                                NameMatch match) {
    const std::string_view w = trimSpaces(wanted);
    for (size_t i = 0; i < names.size(); ++i) {
        if (equalNames(trimSpaces(names[i]), w, match)) return i;
    }
    return std::nullopt;
}

CsvReader::CsvReader(const std::filesystem::path& path, std::string errorSource)
    : owned_(true), name_(path.string()), source_(std::move(errorSource)) {
    if (name_.empty()) throw Error::standard(err::kFileNotFound, source_, "(no file name)");
    fd_ = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw fileFailure(errno, source_, name_);
    buffer_.resize(kChunk);
}

CsvReader::CsvReader(int fd, std::string name, std::string errorSource)
    : fd_(fd), name_(std::move(name)), source_(std::move(errorSource)) {
    buffer_.resize(kChunk);
}

CsvReader::~CsvReader() {
    if (owned_ && fd_ >= 0) ::close(fd_);
}

bool CsvReader::fill() {
    if (eof_) return false;
    // Keep the unread tail at the front of the buffer; grow when a record fills it all.
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (n > 0) {
            end_ += static_cast<size_t>(n);
            break;
        }
        if (n == 0) {
            eof_ = true;
            break;
        }
        if (errno != EINTR) throw fileFailure(errno, source_, name_);
    }
    if (!started_ && (eof_ || end_ >= kBom.size())) {
        started_ = true;
        if (std::string_view(buffer_.data(), end_).starts_with(kBom)) {
            begin_ = kBom.size();
            encoding_ = TextEncoding::Utf8;
        }
    }
    return true;
}

bool CsvReader::atEnd() {
    while (begin_ == end_ || !started_) {
        if (!fill()) return begin_ == end_;
        if (eof_ && begin_ == end_) return true;
    }
    return false;
}

CsvReader::Parse CsvReader::parse(std::vector<std::string>& fields, size_t& consumed,
                                  size_t& lineBreaks) {
    const char* const start = buffer_.data() + begin_;
    const char* const end = buffer_.data() + end_;
    const char* p = start;
    fields.clear();
    lineBreaks = 0;
    bool onlyUnquotedEmpty = true;  // the record is one empty, unquoted field so far
    const auto tooLong = [&](const char* at) {
        return static_cast<size_t>(at - start) > kMaxRecordBytes;
    };
    const auto refuse = [&]() {
        throw Error::standard(err::kInvalidArgument, source_,
                              name_ + ", line " + std::to_string(nextLine_) +
                                  ": the line is longer than " + std::to_string(kMaxRecordBytes) +
                                  " bytes");
    };

    for (;;) {
        std::string field;
        bool quoted = false;
        size_t breaksInField = 0;
        if (p < end && *p == '"') {
            // A quoted field: up to the next lone quote.
            const char* q = p + 1;
            bool closed = false;
            std::string text;
            while (q < end && !tooLong(q)) {
                if (*q == '"') {
                    if (q + 1 == end && !eof_) return Parse::NeedMore;
                    if (q + 1 < end && q[1] == '"') {
                        text.push_back('"');
                        q += 2;
                        continue;
                    }
                    closed = true;
                    ++q;
                    break;
                }
                if (*q == '\n') ++breaksInField;
                text.push_back(*q);
                ++q;
            }
            if (!closed && !eof_ && !tooLong(q)) return Parse::NeedMore;
            if (closed) {
                quoted = true;
                field = std::move(text);
                p = q;
                lineBreaks += breaksInField;
            }
            // Not closed: the quote is an ordinary character and the field is read below.
        }
        // Unquoted text (or the rest after a closing quote): up to a comma or line end.
        const char* stop = p;
        while (stop < end && *stop != ',' && *stop != '\n') ++stop;
        if (static_cast<size_t>(stop - start) > kMaxRecordBytes + 1) refuse();  // even without a CR
        if (stop == end && !eof_) return Parse::NeedMore;
        const char* textEnd = stop;
        if (stop == end || *stop == '\n') {
            if (textEnd > p && textEnd[-1] == '\r') --textEnd;  // CR before the line end
        }
        if (tooLong(textEnd)) refuse();
        field.append(p, textEnd);
        if (quoted || !field.empty() || !fields.empty()) onlyUnquotedEmpty = false;
        fields.push_back(std::move(field));
        if (stop < end && *stop == ',') {
            p = stop + 1;
            onlyUnquotedEmpty = false;
            continue;
        }
        p = stop < end ? stop + 1 : stop;  // past the LF
        break;
    }
    if (onlyUnquotedEmpty) fields.clear();
    consumed = static_cast<size_t>(p - start);
    return Parse::Complete;
}

void CsvReader::decide(size_t recordStart) {
    // Only a regular file can be read again: check everything from this record on. Other
    // inputs are judged by what is buffered.
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t position = ::lseek(fd_, 0, SEEK_CUR);
        if (position >= 0) {
            off_t offset = position - static_cast<off_t>(end_ - recordStart);
            std::vector<char> block(kChunk + 4);
            size_t carried = 0;
            for (;;) {
                const ssize_t n = ::pread(fd_, block.data() + carried, kChunk, offset);
                if (n < 0) {
                    if (errno == EINTR) continue;
                    throw fileFailure(errno, source_, name_);
                }
                const size_t have = carried + static_cast<size_t>(n);
                size_t used = 0;
                const Utf8 state = checkUtf8(std::string_view(block.data(), have), used);
                if (state == Utf8::Invalid || (n == 0 && state == Utf8::Incomplete)) {
                    encoding_ = TextEncoding::Windows1252;
                    return;
                }
                if (n == 0) break;
                carried = have - used;
                std::memmove(block.data(), block.data() + used, carried);
                offset += n;
            }
            encoding_ = TextEncoding::Utf8;
            return;
        }
    }
    size_t used = 0;
    const Utf8 state =
        checkUtf8(std::string_view(buffer_.data() + recordStart, end_ - recordStart), used);
    encoding_ = state == Utf8::Invalid || (state == Utf8::Incomplete && eof_)
                    ? TextEncoding::Windows1252
                    : TextEncoding::Utf8;
}

void CsvReader::decode(std::vector<std::string>& fields) const {
    for (auto& field : fields) {
        if (!hasHighByte(field)) continue;
        if (encoding_ == TextEncoding::Utf8) {
            if (!isValidUtf8(field)) field = utf8WithFallback(field);
        } else {
            std::string converted;
            converted.reserve(field.size() + field.size() / 2);
            appendWindows1252AsUtf8(field, converted);
            field = std::move(converted);
        }
    }
}

bool CsvReader::next(std::vector<std::string>& fields) {
    if (atEnd()) {
        fields.clear();
        return false;
    }
    size_t consumed = 0;
    size_t lineBreaks = 0;
    while (parse(fields, consumed, lineBreaks) == Parse::NeedMore) fill();
    if (encoding_ == TextEncoding::Undecided &&
        hasHighByte(std::string_view(buffer_.data() + begin_, consumed))) {
        decide(begin_);
    }
    decode(fields);
    recordLine_ = nextLine_;
    nextLine_ += lineBreaks + 1;
    begin_ += consumed;
    return true;
}

}  // namespace zembra::render
