// The Imaging class: the operations the engine calls, over the codec layer.
#include "codec.hpp"

#include <zembra/runtime.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace zembra::imaging {
namespace {

using detail::kSource;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// A picture that cannot be opened is "not found" when it is missing and refused otherwise.
[[noreturn]] void failFile(int error, const std::string& path) {
    const int32_t number =
        path.empty() ? err::kFileNotFound : fileErrorNumber(error, {}, err::kPermissionDenied);
    std::string description = Error::standardDescription(number) + ": " + path;
    if (number != err::kFileNotFound) description += " (" + std::string(std::strerror(error)) + ")";
    throw Error(number, kSource, std::move(description));
}

std::vector<uint8_t> readFile(const std::string& path) {
    if (path.empty()) failFile(ENOENT, path);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) failFile(errno, path);
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0) failFile(errno, path);
    if (!S_ISREG(info.st_mode)) failFile(S_ISDIR(info.st_mode) ? EISDIR : EACCES, path);

    std::vector<uint8_t> bytes(size_t(info.st_size));
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (got != bytes.size()) {
        if (std::ferror(file.get())) failFile(errno ? errno : EIO, path);
        bytes.resize(got);  // the file shrank while being read
    }
    return bytes;
}

// "png", "jpg", "jpeg", "gif", "bmp" in any case; the bytes are recognised by their
// content, the word only has to be one of these.
void checkFormatWord(std::string_view word) {
    static constexpr std::string_view kWords[] = {"png", "jpg", "jpeg", "gif", "bmp"};
    for (std::string_view known : kWords) {
        if (known.size() == word.size() &&
            std::equal(known.begin(), known.end(), word.begin(), [](char a, char b) {
                return a == (b >= 'A' && b <= 'Z' ? char(b - 'A' + 'a') : b);
            })) {
            return;
        }
    }
    throw Error(err::kInvalidArgument, kSource,
                "Invalid procedure call or argument: picture format \"" + std::string(word) +
                    "\"");
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Imaging::Imaging() = default;
Imaging::~Imaging() = default;

void Imaging::loadFromFile(const std::string& path) {
    const std::vector<uint8_t> bytes = readFile(path);
    picture_ = decode(bytes, path);
}

int32_t Imaging::pictureWidth() const { return picture_.width; }
int32_t Imaging::pictureHeight() const { return picture_.height; }

void Imaging::transparentColor(std::string_view rrggbb) {
    uint32_t colour = 0;
    bool valid = rrggbb.size() == 6;
    for (size_t i = 0; valid && i < 6; ++i) {
        const int digit = hexDigit(rrggbb[i]);
        valid = digit >= 0;
        colour = colour << 4 | uint32_t(digit);
    }
    if (!valid) {
        throw Error(err::kInvalidArgument, kSource,
                    "Invalid procedure call or argument: transparent colour \"" +
                        std::string(rrggbb) + "\" is not six hexadecimal digits");
    }
    transparent_ = colour;
}

void Imaging::useTransparency(bool use) { useTransparency_ = use; }

void Imaging::loadFromBytes(std::string_view format, std::span<const uint8_t> bytes) {
    checkFormatWord(format);
    picture_ = decode(bytes, "bytes");
}

const Imaging::Source& Imaging::sourceFor(std::span<const uint8_t> bytes) {
    Source& source = source_;
    // The engine stamps the same marker thousands of times: decode it once.
    const bool same = !source.picture.rgba.empty() && bytes.size() == source.bytes.size() &&
                      std::memcmp(bytes.data(), source.bytes.data(), bytes.size()) == 0;
    if (!same) {
        // Forget the old source first, so a failed decode leaves nothing stale behind.
        source = Source{};
        Picture decoded = decode(bytes, "bytes");
        source.bytes.assign(bytes.begin(), bytes.end());
        source.picture = std::move(decoded);
    }
    // The runs depend on the transparency settings; rebuild them when those change.
    if (!source.rowStart.empty() && source.keyed == useTransparency_ &&
        source.key == transparent_) {
        return source;
    }

    source.keyed = useTransparency_;
    source.key = transparent_;
    source.runs.clear();
    source.rowStart.clear();
    const Picture& p = source.picture;
    const uint8_t keyR = uint8_t(transparent_ >> 16), keyG = uint8_t(transparent_ >> 8),
                  keyB = uint8_t(transparent_);
    enum class Kind { Skip, Copy, Blend };
    for (int32_t y = 0; y < p.height; ++y) {
        source.rowStart.push_back(source.runs.size());
        const uint8_t* s = p.rgba.data() + size_t(y) * size_t(p.width) * 4;
        Kind open = Kind::Skip;
        for (int32_t x = 0; x < p.width; ++x, s += 4) {
            Kind kind = s[3] == 0 ? Kind::Skip : s[3] == 255 ? Kind::Copy : Kind::Blend;
            if (useTransparency_ && s[0] == keyR && s[1] == keyG && s[2] == keyB) kind = Kind::Skip;
            if (kind == open && kind != Kind::Skip) {
                source.runs.back().end = x + 1;
            } else if (kind != Kind::Skip) {
                source.runs.push_back(Run{x, x + 1, kind == Kind::Blend});
            }
            open = kind;
        }
    }
    source.rowStart.push_back(source.runs.size());
    return source;
}

void Imaging::drawFromBytes(std::span<const uint8_t> bytes, std::string_view format, int32_t x,
                            int32_t y) {
    checkFormatWord(format);
    const Source& source = sourceFor(bytes);
    const Picture& src = source.picture;

    // Clip in 64 bits: x + width cannot overflow whatever x is.
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t bottom = std::min<int64_t>(int64_t(y) + src.height, picture_.height);
    if (top >= bottom || int64_t(x) >= picture_.width || int64_t(x) + src.width <= 0) return;

    // Markers land at scattered places of a picture far larger than the caches: ask
    // for every row's destination at once, so the misses overlap instead of queueing.
    const size_t firstColumn = size_t(std::max<int64_t>(x, 0));
    const size_t lastColumn =
        size_t(std::min<int64_t>(int64_t(x) + src.width, picture_.width) - 1);
    for (int64_t row = top; row < bottom; ++row) {
        const uint8_t* d = picture_.rgba.data() + size_t(row) * size_t(picture_.width) * 4;
        __builtin_prefetch(d + firstColumn * 4, 1);
        __builtin_prefetch(d + lastColumn * 4, 1);
    }

    for (int64_t row = top; row < bottom; ++row) {
        const size_t sourceRow = size_t(row - y);
        const uint8_t* s = src.rgba.data() + sourceRow * size_t(src.width) * 4;
        uint8_t* d = picture_.rgba.data() + size_t(row) * size_t(picture_.width) * 4;
        for (size_t r = source.rowStart[sourceRow]; r < source.rowStart[sourceRow + 1]; ++r) {
            const Run& run = source.runs[r];
            // Source columns [begin, end) land on x + begin .. x + end - 1.
            const int64_t begin = std::max<int64_t>(run.begin, -int64_t(x));
            const int64_t end = std::min<int64_t>(run.end, int64_t(picture_.width) - x);
            if (begin >= end) continue;
            const uint8_t* sp = s + size_t(begin) * 4;
            uint8_t* dp = d + size_t(x + begin) * 4;
            const size_t count = size_t(end - begin);
            if (!run.blend) {
                // Runs are a few pixels long: fixed-size copies, which the compiler
                // inlines, rather than a library call per run.
                size_t i = 0;
                for (; i + 4 <= count; i += 4) std::memcpy(dp + i * 4, sp + i * 4, 16);
                for (; i < count; ++i) std::memcpy(dp + i * 4, sp + i * 4, 4);
                continue;
            }
            for (size_t i = 0; i < count; ++i, sp += 4, dp += 4) {
                // Source over destination, rounded.
                const unsigned a = sp[3];
                const unsigned inverse = 255 - a;
                for (int k = 0; k < 3; ++k) {
                    dp[k] = uint8_t((sp[k] * a + dp[k] * inverse + 127) / 255);
                }
                dp[3] = uint8_t(a + (dp[3] * inverse + 127) / 255);
            }
        }
    }
}

std::vector<uint8_t> Imaging::gifBytes() const { return encode(picture_, Format::Gif); }
std::vector<uint8_t> Imaging::jpegBytes() const { return encode(picture_, Format::Jpeg); }
std::vector<uint8_t> Imaging::bmpBytes() const { return encode(picture_, Format::Bmp); }
std::vector<uint8_t> Imaging::pngBytes() const { return encodeFastPng(picture_); }
std::vector<uint8_t> Imaging::pngFileBytes() const { return encode(picture_, Format::Png); }

}  // namespace zembra::imaging
