// The format table, the size limit, and a picture's size read from its header.
#include "picture_formats.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

#include "codec.hpp"

namespace zembra::imaging {

namespace {

using namespace std::string_view_literals;

constexpr std::array<std::string_view, 2> kJpegExtensions{"jpg", "jpeg"};
constexpr std::array<std::string_view, 1> kGifExtensions{"gif"};
constexpr std::array<std::string_view, 1> kBmpExtensions{"bmp"};
constexpr std::array<std::string_view, 1> kPngExtensions{"png"};

constexpr std::array<std::string_view, 1> kJpegSignatures{"\xff\xd8\xff"sv};
constexpr std::array<std::string_view, 2> kGifSignatures{"GIF87a"sv, "GIF89a"sv};
constexpr std::array<std::string_view, 1> kBmpSignatures{"BM"sv};
constexpr std::array<std::string_view, 1> kPngSignatures{"\x89PNG\r\n\x1a\n"sv};

const std::array<FormatInfo, 4> kFormats{{
    {Format::Jpeg, "jpg", "JPEG", kJpegExtensions, "image/jpeg", "JPEG picture", kJpegSignatures,
     detail::jpegHeaderSize, detail::decodeJpeg, detail::encodeJpegAtQuality},
    {Format::Gif, "gif", "GIF", kGifExtensions, "image/gif", "GIF picture (256 colours)",
     kGifSignatures, detail::gifHeaderSize, detail::decodeGif, detail::encodeGif},
    {Format::Bmp, "bmp", "BMP", kBmpExtensions, "image/bmp", "BMP picture (uncompressed)",
     kBmpSignatures, detail::bmpHeaderSize, detail::decodeBmp, detail::encodeBmp},
    {Format::Png, "png", "PNG", kPngExtensions, "image/png", "PNG picture", kPngSignatures,
     detail::pngHeaderSize, detail::decodePng, detail::encodePng},
}};

// A JPEG's marker segments walked for its frame header at most.
constexpr int kMaxJpegSegments = 1 << 16;

uint32_t be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t be32(const uint8_t* p) { return be16(p) << 16 | be16(p + 2); }
uint32_t le16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }
uint32_t le32(const uint8_t* p) { return le16(p + 2) << 16 | le16(p); }

}  // namespace

Limits Limits::fromEnvironment() {
    const char* text = std::getenv(kMaxPictureBytesVariable);
    if (text == nullptr || *text == '\0') return {};
    uint64_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc() || stop != end || value == 0) return {};
    return Limits{value};
}

Limits Limits::ofPixels(uint64_t pixels) noexcept {
    return Limits{pixels > UINT64_MAX / kBytesPerPixel ? UINT64_MAX : pixels * kBytesPerPixel};
}

bool Limits::allows(uint64_t width, uint64_t height) const noexcept {
    // Compared by division: width and height may come from any header.
    const uint64_t pixels = maxPixels();
    return width != 0 && width <= pixels && height <= pixels / width;
}

std::span<const FormatInfo> formats() noexcept { return kFormats; }

const FormatInfo& formatInfo(Format format) noexcept {
    for (const FormatInfo& info : kFormats) {
        if (info.format == format) return info;
    }
    return kFormats.front();
}

const FormatInfo* formatForExtension(std::string_view extension) noexcept {
    if (extension.starts_with('.')) extension.remove_prefix(1);
    for (const FormatInfo& info : kFormats) {
        for (const std::string_view candidate : info.extensions) {
            if (equalsIgnoreCase(candidate, extension)) return &info;
        }
    }
    return nullptr;
}

const FormatInfo* formatForName(std::string_view name) noexcept {
    for (const FormatInfo& info : kFormats) {
        if (info.name == name) return &info;
    }
    return nullptr;
}

const FormatInfo* sniffFormat(std::span<const uint8_t> bytes) noexcept {
    for (const FormatInfo& info : kFormats) {
        for (const std::string_view signature : info.signatures) {
            if (bytes.size() >= signature.size() &&
                std::memcmp(bytes.data(), signature.data(), signature.size()) == 0) {
                return &info;
            }
        }
    }
    return nullptr;
}

std::string formatNames(std::string_view prefix) {
    std::string out;
    for (size_t i = 0; i < kFormats.size(); ++i) {
        if (i > 0) out += i + 1 == kFormats.size() ? " or " : ", ";
        out.append(prefix).append(kFormats[i].name);
    }
    return out;
}

namespace detail {

size_t HeaderBytes::read(uint64_t offset, uint8_t* out, size_t count) const {
    size_t got = 0;
    if (offset < head_.size()) {
        got = std::min<size_t>(count, head_.size() - size_t(offset));
        std::memcpy(out, head_.data() + offset, got);
    }
    while (fd_ >= 0 && got < count) {
        const ssize_t n = ::pread(fd_, out + got, count - got, off_t(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    return got;
}

bool pngHeaderSize(const HeaderBytes& bytes, uint64_t& width, uint64_t& height) {
    std::array<uint8_t, 24> h{};
    if (bytes.read(0, h.data(), h.size()) < h.size() || std::memcmp(&h[12], "IHDR", 4) != 0) {
        return false;
    }
    width = be32(&h[16]);
    height = be32(&h[20]);
    return true;
}

bool gifHeaderSize(const HeaderBytes& bytes, uint64_t& width, uint64_t& height) {
    std::array<uint8_t, 10> h{};
    if (bytes.read(0, h.data(), h.size()) < h.size()) return false;
    width = le16(&h[6]);
    height = le16(&h[8]);
    return true;
}

bool bmpHeaderSize(const HeaderBytes& bytes, uint64_t& width, uint64_t& height) {
    std::array<uint8_t, 26> h{};
    if (bytes.read(0, h.data(), h.size()) < h.size() || le32(&h[14]) < 40) return false;
    // Height is signed: negative for top-down rows.
    const auto signedHeight = int32_t(le32(&h[22]));
    width = le32(&h[18]);
    height = uint64_t(signedHeight < 0 ? -int64_t(signedHeight) : int64_t(signedHeight));
    return true;
}

// The frame header of a JPEG, found by walking its marker segments: fill bytes skipped,
// segment bodies jumped over, up to the first start of frame.
bool jpegHeaderSize(const HeaderBytes& bytes, uint64_t& width, uint64_t& height) {
    uint64_t pos = 2;
    std::array<uint8_t, 9> seg{};
    for (int step = 0; step < kMaxJpegSegments; ++step) {
        if (bytes.read(pos, seg.data(), 4) < 4 || seg[0] != 0xff) return false;
        const uint8_t marker = seg[1];
        if (marker == 0xff) {  // fill byte
            ++pos;
            continue;
        }
        // Start of frame: every SOFn but DHT (C4), JPG (C8) and DAC (CC).
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 &&
            marker != 0xcc) {
            if (bytes.read(pos, seg.data(), 9) < 9) return false;
            height = be16(&seg[5]);
            width = be16(&seg[7]);
            return true;
        }
        // The scan or the end of the picture before any frame: no size to read.
        if (marker == 0xda || marker == 0xd9) return false;
        const uint32_t length = be16(&seg[2]);
        if (length < 2) return false;
        pos += 2 + length;
    }
    return false;
}

std::optional<Size> peekSize(const HeaderBytes& bytes) {
    const FormatInfo* format = sniffFormat(bytes.head());
    uint64_t width = 0;
    uint64_t height = 0;
    if (format == nullptr || !format->headerSize(bytes, width, height)) return std::nullopt;
    return Size{width, height, format->label.data()};
}

}  // namespace detail

PictureSize readPictureSize(const std::string& path) {
    using detail::failFile;
    if (path.empty()) failFile(ENOENT, path);
    // Opened without blocking, so a FIFO in the picture's place cannot hang the call.
    const detail::FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) failFile(errno, path);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) failFile(errno, path);
    if (!S_ISREG(info.st_mode)) failFile(S_ISDIR(info.st_mode) ? EISDIR : EACCES, path);

    std::vector<uint8_t> head(std::min<size_t>(size_t(info.st_size), detail::kHeadBytes));
    head.resize(detail::readUpTo(file.get(), head.data(), head.size(), path));

    const FormatInfo* format = sniffFormat(head);
    if (format == nullptr) detail::failUnknownFormat(path, head.empty());
    uint64_t width = 0;
    uint64_t height = 0;
    if (!format->headerSize(detail::HeaderBytes(head, file.get()), width, height)) {
        detail::fail(path, format->label, "header is truncated or states no size");
    }
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) {
        detail::fail(path, format->label,
                     "header states a size of " + std::to_string(width) + " x " +
                         std::to_string(height) + " pixels");
    }
    return PictureSize{int32_t(width), int32_t(height), format->format};
}

}  // namespace zembra::imaging
