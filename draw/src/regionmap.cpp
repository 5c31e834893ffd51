#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <string>
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
    const uint64_t bytes = uint64_t(width) * uint64_t(height) * 4;
    if (bytes > imaging::maxPictureBytes())
        throw Error::standard(err::kInvalidArgument, std::string(kSource),
                              "a map of " + std::to_string(width) + " x " + std::to_string(height) +
                                  " pixels is larger than pictures may be (" +
                                  std::to_string(imaging::maxPictureBytes() / 4) +
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
    switch (format) {
        case render::OutputFormat::Gif:
            return imaging::Format::Gif;
        case render::OutputFormat::Jpeg:
            return imaging::Format::Jpeg;
        case render::OutputFormat::Bmp:
            return imaging::Format::Bmp;
        case render::OutputFormat::Png:
            break;
    }
    return imaging::Format::Png;
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

TemporaryMap::TemporaryMap(DrawnMap& map) : bounds_(map.bounds) {
    fd_ = ::memfd_create("zembra-map", MFD_CLOEXEC);
    if (fd_ < 0) throw fileError(errno, std::string(kSource), "memfd", "a map in memory");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
    const std::vector<uint8_t> header =
        imaging::bmpHeaderBgrx(map.canvas.width(), map.canvas.height());
    const std::span<const uint8_t> pixels = map.canvas.bgrx();
    if (!writeAll(fd_, header.data(), header.size()) ||
        !writeAll(fd_, pixels.data(), pixels.size())) {
        const int saved = errno;
        ::close(fd_);
        throw fileError(saved, std::string(kSource), "memfd", "a map in memory");
    }
}

TemporaryMap::~TemporaryMap() { ::close(fd_); }

}  // namespace zembra::draw
