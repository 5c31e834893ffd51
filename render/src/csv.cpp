#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <zembra/dataaccess.hpp>
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

char detectSeparator(std::string_view line, std::string_view candidates, SeparatorRule rule) {
    if (candidates.empty()) return ',';
    std::array<size_t, 256> counts{};
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') quoted = !quoted;
        if (!quoted) ++counts[static_cast<unsigned char>(c)];
    }
    char best = candidates.front();
    size_t bestCount = 0;
    for (const char c : candidates) {
        const size_t n = counts[static_cast<unsigned char>(c)];
        if (rule == SeparatorRule::FirstPresent && n > 0) return c;
        if (n > bestCount) {
            best = c;
            bestCount = n;
        }
    }
    return best;
}

std::string separatorName(char separator) {
    switch (separator) {
        case ',':
            return "comma";
        case ';':
            return "semicolon";
        case '\t':
            return "tab";
        case '|':
            return "pipe";
        default:
            return std::string(1, separator);
    }
}

std::string_view encodingName(TextEncoding encoding) noexcept {
    switch (encoding) {
        case TextEncoding::Utf8:
            return "UTF-8";
        case TextEncoding::Windows1252:
            return "Windows-1252";
        case TextEncoding::Utf16Le:
            return "UTF-16LE";
        case TextEncoding::Utf16Be:
            return "UTF-16BE";
        case TextEncoding::Undecided:
            break;
    }
    return "ASCII";
}

std::optional<size_t> findField(const std::vector<std::string>& names, std::string_view wanted,
                                NameMatch match) {
    const std::string_view w = trimSpaces(wanted);
    for (size_t i = 0; i < names.size(); ++i) {
        if (equalNames(trimSpaces(names[i]), w, match)) return i;
    }
    return std::nullopt;
}

CsvReader::CsvReader(const std::filesystem::path& path, std::string errorSource, CsvOptions options)
    : owned_(true),
      name_(path.string()),
      source_(std::move(errorSource)),
      options_(std::move(options)),
      separator_(options_.separator != 0 ? options_.separator : ',') {
    if (name_.empty()) throw Error::standard(err::kFileNotFound, source_, "(no file name)");
    fd_ = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw fileFailure(errno, source_, name_);
    buffer_.resize(kChunk);
}

CsvReader::CsvReader(int fd, std::string name, std::string errorSource, CsvOptions options)
    : fd_(fd),
      name_(std::move(name)),
      source_(std::move(errorSource)),
      options_(std::move(options)),
      separator_(options_.separator != 0 ? options_.separator : ',') {
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
    std::vector<char> raw(utf16_ != TextEncoding::Undecided ? kChunk : 0);
    char* const into = raw.empty() ? buffer_.data() + end_ : raw.data();
    const size_t room = raw.empty() ? buffer_.size() - end_ : raw.size();
    size_t got = 0;
    for (;;) {
        const ssize_t n = ::read(fd_, into, room);
        if (n > 0) {
            got = static_cast<size_t>(n);
            break;
        }
        if (n == 0) {
            eof_ = true;
            break;
        }
        if (errno != EINTR) throw fileFailure(errno, source_, name_);
    }
    if (!raw.empty()) {
        appendUtf16(raw.data(), got);
    } else {
        end_ += got;
    }
    if (!started_ && (eof_ || end_ >= kBom.size())) start();
    return true;
}

void CsvReader::start() {
    started_ = true;
    const std::string_view head(buffer_.data(), end_);
    if (options_.refuseWorkbooks && db::startsLikeWorkbook(head)) {
        throw Error(err::kInvalidArgument, source_,
                    name_ +
                        " holds a workbook (.xls, .xlsx or .ods), which is read from a "
                        "file: save it and name the file");
    }
    if (head.starts_with(kBom)) {
        begin_ = kBom.size();
        encoding_ = TextEncoding::Utf8;
        return;
    }
    if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF")) {
        utf16_ = head[0] == '\xFF' ? TextEncoding::Utf16Le : TextEncoding::Utf16Be;
        begin_ = 2;
    } else {
        // ASCII text in UTF-16 has a NUL in every other byte and nowhere else.
        const size_t pairs = std::min<size_t>(head.size(), 512) / 2;
        size_t evenNuls = 0;
        size_t oddNuls = 0;
        for (size_t i = 0; i < pairs; ++i) {
            evenNuls += head[2 * i] == '\0' ? 1 : 0;
            oddNuls += head[2 * i + 1] == '\0' ? 1 : 0;
        }
        const auto pattern = [&](size_t nuls, size_t others) {
            return pairs >= 2 && nuls * 4 >= pairs * 3 && others * 8 <= pairs;
        };
        if (pattern(oddNuls, evenNuls)) utf16_ = TextEncoding::Utf16Le;
        if (pattern(evenNuls, oddNuls)) utf16_ = TextEncoding::Utf16Be;
    }
    if (utf16_ == TextEncoding::Undecided) return;
    encoding_ = TextEncoding::Utf8;  // what the parser sees
    const std::string raw(buffer_.data() + begin_, end_ - begin_);
    begin_ = 0;
    end_ = 0;
    appendUtf16(raw.data(), raw.size());
}

namespace {

void appendCodePoint(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

void CsvReader::appendUtf16(const char* bytes, size_t size) {
    std::string joined = std::move(utf16Pending_);
    utf16Pending_.clear();
    joined.append(bytes, size);
    std::string out;
    out.reserve(joined.size() + joined.size() / 2);
    const bool little = utf16_ == TextEncoding::Utf16Le;
    size_t i = 0;
    for (; i + 1 < joined.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(joined[i]);
        const auto b1 = static_cast<unsigned char>(joined[i + 1]);
        const auto unit = static_cast<char16_t>(little ? (b0 | (b1 << 8)) : ((b0 << 8) | b1));
        if (highSurrogate_ != 0) {
            const char16_t high = highSurrogate_;
            highSurrogate_ = 0;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                appendCodePoint(0x10000 + ((char32_t{high} - 0xD800) << 10) + (unit - 0xDC00), out);
                continue;
            }
            appendCodePoint(kReplacement, out);
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            highSurrogate_ = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            appendCodePoint(kReplacement, out);
        } else {
            appendCodePoint(unit, out);
        }
    }
    if (i < joined.size()) utf16Pending_.assign(1, joined[i]);
    if (eof_) {
        if (highSurrogate_ != 0) appendCodePoint(kReplacement, out);
        if (!utf16Pending_.empty()) appendCodePoint(kReplacement, out);
        highSurrogate_ = 0;
        utf16Pending_.clear();
    }
    if (buffer_.size() < end_ + out.size())
        buffer_.resize(std::max(buffer_.size() * 2, end_ + out.size()));
    std::memcpy(buffer_.data() + end_, out.data(), out.size());
    end_ += out.size();
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
                if (*q == '\n' || (crEnds_ && *q == '\r' && (q + 1 == end || q[1] != '\n'))) {
                    ++breaksInField;
                }
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
        const char separator = separator_;
        const char* stop = p;
        while (stop < end && *stop != separator && *stop != '\n' && !(crEnds_ && *stop == '\r')) {
            ++stop;
        }
        if (static_cast<size_t>(stop - start) > kMaxRecordBytes + 1) refuse();  // even without a CR
        if (stop == end && !eof_) return Parse::NeedMore;
        // With CR line ends a CR right at the end of the buffer may be half of a CRLF.
        if (crEnds_ && stop + 1 == end && *stop == '\r' && !eof_) return Parse::NeedMore;
        const char* textEnd = stop;
        if (stop == end || *stop == '\n') {
            if (textEnd > p && textEnd[-1] == '\r') --textEnd;  // CR before the line end
        }
        if (tooLong(textEnd)) refuse();
        field.append(p, textEnd);
        if (quoted || !field.empty() || !fields.empty()) onlyUnquotedEmpty = false;
        fields.push_back(std::move(field));
        if (stop < end && *stop == separator) {
            p = stop + 1;
            onlyUnquotedEmpty = false;
            continue;
        }
        if (stop < end && *stop == '\r' && stop + 1 < end && stop[1] == '\n') ++stop;  // CRLF
        p = stop < end ? stop + 1 : stop;  // past the line end
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

void CsvReader::pickSeparator() {
    // The whole first line, as far as the record limit allows.
    const auto lineEnd = [&]() -> const char* {
        const char* from = buffer_.data() + begin_;
        const char* to = buffer_.data() + end_;
        const char* e = std::find_if(from, to, [](char c) { return c == '\n' || c == '\r'; });
        return e == to || (*e == '\r' && e + 1 == to && !eof_) ? nullptr : e;
    };
    while (lineEnd() == nullptr && !eof_ && end_ - begin_ <= kMaxRecordBytes) fill();
    const char* e = lineEnd();
    const char* from = buffer_.data() + begin_;
    const char* to = e != nullptr ? e : buffer_.data() + end_;
    if (options_.crLineEnds && e != nullptr && *e == '\r' &&
        (e + 1 == buffer_.data() + end_ || e[1] != '\n')) {
        crEnds_ = true;
    }
    if (options_.separator == 0) {
        separator_ = detectSeparator(std::string_view(from, static_cast<size_t>(to - from)),
                                     options_.candidates, options_.rule);
    }
}

bool CsvReader::next(std::vector<std::string>& fields) {
    if (atEnd()) {
        fields.clear();
        return false;
    }
    if (firstRecord_) {
        firstRecord_ = false;
        pickSeparator();
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
