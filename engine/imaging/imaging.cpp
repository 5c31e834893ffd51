// The Imaging class and picture files: the operations the engine calls, over the codec
// layer, and the Stamp that draws one picture onto another.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <zembra/runtime.hpp>

#include "codec.hpp"

namespace zembra::imaging {
namespace detail {

void failFile(int error, const std::string& path) {
    const int32_t number =
        path.empty() ? err::kFileNotFound : fileErrorNumber(error, {}, err::kPermissionDenied);
    std::string description = Error::standardDescription(number) + ": " + path;
    if (number != err::kFileNotFound) description += " (" + std::string(std::strerror(error)) + ")";
    throw Error(number, kSource, std::move(description));
}

FileHandle::~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

size_t readUpTo(int fd, uint8_t* dst, size_t count, const std::string& path) {
    size_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, dst + got, count - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            failFile(errno, path);
        }
        if (n == 0) break;
        got += size_t(n);
    }
    return got;
}

}  // namespace detail

namespace {

using detail::failFile;
using detail::FileHandle;
using detail::kHeadBytes;
using detail::readUpTo;

// Slack for metadata (colour profiles, text) beside a small picture's pixels.
constexpr uint64_t kFileSlack = 16u << 20;

// A picture file's bytes: read into memory, or mapped when the file is sealed against
// shrinking (a map drawn in memory), where a mapping cannot lose its pages under the
// reader and spares a copy of the whole picture. The mapping is private and writable:
// a file also sealed against writing can then lend its pixels to the picture itself.
class FileBytes {
  public:
    explicit FileBytes(std::vector<uint8_t> read) : read_(std::move(read)) {}
    FileBytes(uint8_t* mapped, size_t size, bool unchanging)
        : mapping_(mapped, [size](void* at) { ::munmap(at, size); }),
          mapped_(mapped),
          size_(size),
          unchanging_(unchanging) {}
    std::span<const uint8_t> bytes() const {
        return mapped_ ? std::span<const uint8_t>(mapped_, size_) : std::span<const uint8_t>(read_);
    }
    // The mapping, for a picture to keep, when nothing can change the file's bytes.
    std::optional<detail::InPlace> inPlace() const {
        if (!mapped_ || !unchanging_) return std::nullopt;
        return detail::InPlace{mapping_, mapped_};
    }

  private:
    std::vector<uint8_t> read_;
    std::shared_ptr<void> mapping_;
    uint8_t* mapped_ = nullptr;
    size_t size_ = 0;
    bool unchanging_ = false;
};

int seals(int fd) { return ::fcntl(fd, F_GET_SEALS); }

// The file's bytes, read only after its header has passed the size limit and its size
// the file cap: a picture file holds at most twice its decoded raster plus slack for
// metadata, and never more than twice the limit, so a padded or oversized file is
// refused before it is read.
std::unique_ptr<FileBytes> readPictureFile(const std::string& path, const Limits& limits) {
    if (path.empty()) failFile(ENOENT, path);
    // Opened without blocking, so a FIFO in the picture's place cannot hang the call
    // before it is refused as no regular file.
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) failFile(errno, path);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) failFile(errno, path);
    if (!S_ISREG(info.st_mode)) failFile(S_ISDIR(info.st_mode) ? EISDIR : EACCES, path);

    const uint64_t size = uint64_t(info.st_size);
    const uint64_t limit = limits.maxBytes;
    uint64_t cap = limit > UINT64_MAX / 2 ? UINT64_MAX : 2 * limit;
    std::vector<uint8_t> bytes(size_t(std::min<uint64_t>(size, kHeadBytes)));
    bytes.resize(readUpTo(file.get(), bytes.data(), bytes.size(), path));
    if (const std::optional<detail::Size> header = detail::peekSize(detail::HeaderBytes(bytes))) {
        detail::checkDimensions(header->width, header->height, path, header->format, limits);
        // checkDimensions has bounded the raster by the limit: this cannot overflow
        // unless the limit itself is near the top of the range.
        const uint64_t raster = header->width * header->height * 4;
        if (raster < (UINT64_MAX - kFileSlack) / 2) cap = std::min(cap, 2 * raster + kFileSlack);
    }
    if (size > cap) {
        detail::fail(path, "picture",
                     "file of " + std::to_string(size) + " bytes is above the limit of " +
                         std::to_string(cap) + " bytes for it");
    }
    const size_t head = bytes.size();
    const int sealed = seals(file.get());
    if (size > head && sealed >= 0 && (sealed & F_SEAL_SHRINK) != 0) {
        // Not populated: that would copy every page of a writable private mapping.
        void* mapped =
            ::mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_PRIVATE, file.get(), 0);
        if (mapped != MAP_FAILED)
            return std::make_unique<FileBytes>(static_cast<uint8_t*>(mapped), size_t(size),
                                               (sealed & F_SEAL_WRITE) != 0);
    }
    if (size > head) {
        bytes.resize(size_t(size));
        // A file that shrank while being read yields what it still holds.
        bytes.resize(head + readUpTo(file.get(), bytes.data() + head, bytes.size() - head, path));
    }
    return std::make_unique<FileBytes>(std::move(bytes));
}

}  // namespace

Picture readPicture(const std::string& path, const Limits& limits) {
    const std::unique_ptr<FileBytes> file = readPictureFile(path, limits);
    const std::span<const uint8_t> bytes = file->bytes();
    if (const std::optional<detail::InPlace> inPlace = file->inPlace()) {
        const FormatInfo* format = sniffFormat(bytes);
        if (format && format->format == Format::Bmp)
            return detail::decodeBmp(bytes, path, limits, &*inPlace);
    }
    return decode(bytes, path, limits);
}

Stamp::Stamp(const Picture& source, std::optional<Rgb> transparent)
    : width_(source.width), height_(source.height), rgba_(source.rgba.begin(), source.rgba.end()) {
    enum class Kind { Skip, Copy, Blend };
    for (int32_t y = 0; y < height_; ++y) {
        rowStart_.push_back(runs_.size());
        const uint8_t* s = rgba_.data() + size_t(y) * size_t(width_) * 4;
        Kind open = Kind::Skip;
        for (int32_t x = 0; x < width_; ++x, s += 4) {
            Kind kind = s[3] == 0 ? Kind::Skip : s[3] == 255 ? Kind::Copy : Kind::Blend;
            if (transparent && s[0] == transparent->r && s[1] == transparent->g &&
                s[2] == transparent->b) {
                kind = Kind::Skip;
            }
            if (kind == open && kind != Kind::Skip) {
                runs_.back().end = x + 1;
            } else if (kind != Kind::Skip) {
                runs_.push_back(Run{x, x + 1, kind == Kind::Blend});
            }
            open = kind;
        }
    }
    rowStart_.push_back(runs_.size());
}

void Stamp::drawOnto(Picture& target, int32_t x, int32_t y) const noexcept {
    // Clip in 64 bits: x + width cannot overflow whatever x is.
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t bottom = std::min<int64_t>(int64_t(y) + height_, target.height);
    if (top >= bottom || int64_t(x) >= target.width || int64_t(x) + width_ <= 0) return;

    // Markers land at scattered places of a picture far larger than the caches: ask
    // for every row's destination at once, so the misses overlap instead of queueing.
    const size_t firstColumn = size_t(std::max<int64_t>(x, 0));
    const size_t lastColumn = size_t(std::min<int64_t>(int64_t(x) + width_, target.width) - 1);
    for (int64_t row = top; row < bottom; ++row) {
        const uint8_t* d = target.rgba.data() + size_t(row) * size_t(target.width) * 4;
        __builtin_prefetch(d + firstColumn * 4, 1);
        __builtin_prefetch(d + lastColumn * 4, 1);
    }

    for (int64_t row = top; row < bottom; ++row) {
        const size_t sourceRow = size_t(row - y);
        const uint8_t* s = rgba_.data() + sourceRow * size_t(width_) * 4;
        uint8_t* d = target.rgba.data() + size_t(row) * size_t(target.width) * 4;
        for (size_t r = rowStart_[sourceRow]; r < rowStart_[sourceRow + 1]; ++r) {
            const Run& run = runs_[r];
            // Source columns [begin, end) land on x + begin .. x + end - 1.
            const int64_t begin = std::max<int64_t>(run.begin, -int64_t(x));
            const int64_t end = std::min<int64_t>(run.end, int64_t(target.width) - x);
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

void Imaging::loadFromFile(const std::string& path) { picture_ = readPicture(path, limits_); }

int32_t Imaging::pictureWidth() const { return picture_.width; }
int32_t Imaging::pictureHeight() const { return picture_.height; }

void Imaging::transparentColor(Rgb colour) { transparent_ = colour; }

void Imaging::useTransparency(bool use) { useTransparency_ = use; }

void Imaging::loadFromBytes(Format format, std::span<const uint8_t> bytes) {
    picture_ = decode(bytes, format, "bytes", limits_);
}

void Imaging::drawFromBytes(std::span<const uint8_t> bytes, Format format, int32_t x, int32_t y) {
    // The engine stamps the same marker thousands of times: decode it once.
    const bool same = stampKey_ && format == sourceFormat_ && bytes.size() == sourceBytes_.size() &&
                      std::equal(bytes.begin(), bytes.end(), sourceBytes_.begin());
    if (!same) {
        // Forget the old source first, so a failed decode leaves nothing stale behind.
        stampKey_.reset();
        sourceBytes_.clear();
        source_ = decode(bytes, format, "bytes", limits_);
        sourceBytes_.assign(bytes.begin(), bytes.end());
        sourceFormat_ = format;
    }
    // The stamp depends on the transparency settings; make it again when they change.
    const std::optional<Rgb> key =
        useTransparency_ ? std::optional<Rgb>(transparent_) : std::nullopt;
    if (!stampKey_ || *stampKey_ != key) {
        stamp_ = Stamp(source_, key);
        stampKey_ = key;
    }
    stamp_.drawOnto(picture_, x, y);
}

std::vector<uint8_t> Imaging::bytes(Format format) const { return encode(picture_, format); }

}  // namespace zembra::imaging
