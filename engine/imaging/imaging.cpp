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

[[noreturn]] void failFile(int error, const std::string& path) {
    if (error == ENOENT || error == ENOTDIR || path.empty()) {
        throw Error(err::kFileNotFound, kSource, "File not found: " + path);
    }
    throw Error(err::kPermissionDenied, kSource,
                "Permission denied: " + path + " (" + std::strerror(error) + ")");
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

void Imaging::drawFromBytes(std::span<const uint8_t> bytes, std::string_view format, int32_t x,
                            int32_t y) {
    checkFormatWord(format);
    // The engine stamps the same marker thousands of times: decode it once.
    if (lastSource_.rgba.empty() || !std::equal(bytes.begin(), bytes.end(),
                                                lastSourceBytes_.begin(), lastSourceBytes_.end())) {
        // Forget the old source first, so a failed decode leaves nothing stale behind.
        lastSourceBytes_.clear();
        lastSource_ = {};
        lastSource_ = decode(bytes, "bytes");
        lastSourceBytes_.assign(bytes.begin(), bytes.end());
    }
    const Picture& source = lastSource_;

    // Clip in 64 bits: x + width cannot overflow whatever x is.
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(int64_t(x) + source.width, picture_.width);
    const int64_t bottom = std::min<int64_t>(int64_t(y) + source.height, picture_.height);
    if (left >= right || top >= bottom) return;

    const uint8_t keyR = uint8_t(transparent_ >> 16), keyG = uint8_t(transparent_ >> 8),
                  keyB = uint8_t(transparent_);
    const size_t count = size_t(right - left);
    for (int64_t row = top; row < bottom; ++row) {
        const uint8_t* s = source.rgba.data() +
                           (size_t(row - y) * size_t(source.width) + size_t(left - x)) * 4;
        uint8_t* d = picture_.rgba.data() + (size_t(row) * size_t(picture_.width) + size_t(left)) * 4;
        for (size_t i = 0; i < count; ++i, s += 4, d += 4) {
            const unsigned a = s[3];
            if (a == 0) continue;
            if (useTransparency_ && s[0] == keyR && s[1] == keyG && s[2] == keyB) continue;
            if (a == 255) {
                std::memcpy(d, s, 4);
                continue;
            }
            // Source over destination, rounded.
            const unsigned inverse = 255 - a;
            for (int k = 0; k < 3; ++k) {
                d[k] = uint8_t((s[k] * a + d[k] * inverse + 127) / 255);
            }
            d[3] = uint8_t(a + (d[3] * inverse + 127) / 255);
        }
    }
}

std::vector<uint8_t> Imaging::gifBytes() const { return encode(picture_, Format::Gif); }
std::vector<uint8_t> Imaging::jpegBytes() const { return encode(picture_, Format::Jpeg); }
std::vector<uint8_t> Imaging::bmpBytes() const { return encode(picture_, Format::Bmp); }
std::vector<uint8_t> Imaging::pngBytes() const { return encodeFastPng(picture_); }

}  // namespace zembra::imaging
