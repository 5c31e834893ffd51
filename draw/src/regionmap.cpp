#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <zembra/draw/regionmap.hpp>
#include <zembra/runtime.hpp>

namespace zembra::draw {

namespace fs = std::filesystem;

namespace {

// Writes all of `bytes` to the descriptor; false on a write error (errno says which).
bool writeAll(int fd, const uint8_t* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Allocates every page of a shared mapping now, a call per half on two threads: tens of
// megabytes of a memory file cost tens of milliseconds in the kernel, and a fault per page
// more. Advice only: where the kernel refuses it, the pages come as they are first drawn.
void populate(uint8_t* at, size_t size) {
    const size_t half = size / 2 & ~size_t(4095);
    std::jthread second([=] { (void)::madvise(at + half, size - half, MADV_POPULATE_WRITE); });
    (void)::madvise(at, half, MADV_POPULATE_WRITE);
}

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

int checkedHeight(const Bounds& bounds, int width) {
    if (width < 1 || width > kMaxSide)
        throw Error::standard(err::kInvalidArgument, std::string(kSource),
                              "the map width must be 1 to " + std::to_string(kMaxSide) +
                                  " pixels, not " + std::to_string(width));
    const int height = heightForWidth(bounds, width);
    // The engine decodes the drawn map within the same limit.
    const imaging::Limits limits = imaging::Limits::fromEnvironment();
    if (!limits.allows(uint64_t(width), uint64_t(height)))
        throw Error::standard(err::kInvalidArgument, std::string(kSource),
                              "a map of " + std::to_string(width) + " x " + std::to_string(height) +
                                  " pixels is larger than pictures may be (" +
                                  std::to_string(limits.maxPixels()) +
                                  " pixels); choose a smaller width");
    return height;
}

DrawnMap drawMap(BoundaryData& data, const Bounds& bounds, int width, UsLand source,
                 const MapStyle& style) {
    checkedHeight(bounds, width);  // before the data is read
    return drawMap(data.layers(source), bounds, width, style);
}

DrawnMap drawMap(const MapLayers& layers, const Bounds& bounds, int width, const MapStyle& style) {
    const int height = checkedHeight(bounds, width);
    DrawnMap map{bounds, Canvas(width, height, style.water)};
    drawBaseMap(map.canvas, layers, Projection(bounds, width, height), style);
    return map;
}

imaging::Format imagingFormat(render::OutputFormat format) noexcept {
    return format;  // the render library's formats are the imaging layer's
}

fs::path writeMap(DrawnMap& map, const fs::path& picture, render::OutputFormat format) {
    const std::vector<uint8_t> bytes = imaging::encode(map.canvas.picture(), imagingFormat(format));
    {
        Descriptor out{::open(picture.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)};
        if (out.fd < 0)
            throw fileError(errno, std::string(kSource), picture.string(), picture.string());
        if (!writeAll(out.fd, bytes.data(), bytes.size()))
            throw fileError(errno, std::string(kSource), picture.string(), picture.string());
        const int fd = out.fd;
        out.fd = -1;
        if (::close(fd) != 0)
            throw fileError(errno, std::string(kSource), picture.string(), picture.string());
    }
    fs::path world = render::worldFilePath(picture);
    render::writeWorldFile(world, map.bounds, map.canvas.width(), map.canvas.height());
    return world;
}

TemporaryMap::TemporaryMap(const MapLayers& layers, const Bounds& bounds, int width,
                           const MapStyle& style)
    : bounds_(bounds) {
    const int height = checkedHeight(bounds, width);
    // The pixels start on a page of their own, so Cairo draws on page-aligned memory.
    constexpr uint32_t kPixelsAt = 4096;
    const std::vector<uint8_t> header = imaging::bmpHeaderRgba(width, height, kPixelsAt);
    const size_t pixelBytes = size_t(width) * size_t(height) * 4;
    const size_t fileSize = kPixelsAt + pixelBytes;
    const auto fail = [this](int error) {
        if (fd_ >= 0) ::close(fd_);
        return fileError(error, std::string(kSource), "memfd", "a map in memory");
    };
    fd_ = ::memfd_create("zembra-map", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(fileSize)) != 0) throw fail(errno);
    void* mapped = ::mmap(nullptr, fileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (mapped == MAP_FAILED) throw fail(errno);
    auto* bytes = static_cast<uint8_t*>(mapped);
    populate(bytes, fileSize);
    std::copy(header.begin(), header.end(), bytes);
    try {
        // In the decoded pictures' own layout, so the engine uses the pixels in place.
        Canvas canvas(width, height, style.water, {bytes + kPixelsAt, pixelBytes},
                      PixelOrder::Rgba);
        drawBaseMap(canvas, layers, Projection(bounds, width, height), style);
        (void)canvas.pixels();  // flushed into the file
    } catch (...) {
        ::munmap(mapped, fileSize);
        ::close(fd_);
        throw;
    }
    // Sealed once drawn: the picture can no longer change, so the engine may keep the
    // pixels where they are rather than copy them.
    ::munmap(mapped, fileSize);
    if (::fcntl(fd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE) != 0)
        throw fail(errno);
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

TemporaryMap::~TemporaryMap() { ::close(fd_); }

}  // namespace zembra::draw
