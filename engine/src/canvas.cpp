// The canvas: map and marker pictures kept as PNG bytes, reset, output and save.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "cmap.hpp"
#include "imaging.hpp"

namespace zembra::engine {

namespace {

// Reads a picture file the one way the canvas does for both the map and the marker:
// load it, keep it as PNG bytes with its size. The outputs change only when all of it
// was read, so a failed load leaves the previous picture in place.
void loadPictureFile(const std::string& path, std::vector<uint8_t>& png, int32_t& width,
                     int32_t& height) {
    imaging::Imaging image;
    image.loadFromFile(path);
    std::vector<uint8_t> bytes = image.pngBytes();
    const int32_t w = image.pictureWidth();
    const int32_t h = image.pictureHeight();
    png = std::move(bytes);
    width = w;
    height = h;
}

}  // namespace

bool CMap::clear() {
    if (inputMapFile_.empty()) throw engineError("No input map supplied");
    loadPictureFile(inputMapFile_, mapImage_, mapWidth_, mapHeight_);
    return true;
}

const std::vector<uint8_t>& CMap::getMapImage() {
    if (mapImage_.empty()) clear();
    return mapImage_;
}

const std::vector<uint8_t>& CMap::getOverlayImage() {
    // No emptiness check on the path: an empty one reaches the loader, which reports it.
    if (overlayImage_.empty()) {
        loadPictureFile(inputOverlayFile_, overlayImage_, overlayWidth_, overlayHeight_);
    }
    return overlayImage_;
}

int32_t CMap::getMapWidth() {
    if (mapWidth_ == 0) getMapImage();
    return mapWidth_;
}

int32_t CMap::getMapHeight() {
    if (mapHeight_ == 0) getMapImage();
    return mapHeight_;
}

int32_t CMap::getOverlayWidth() {
    if (overlayWidth_ == 0) getOverlayImage();
    return overlayWidth_;
}

int32_t CMap::getOverlayHeight() {
    if (overlayHeight_ == 0) getOverlayImage();
    return overlayHeight_;
}

std::vector<uint8_t> CMap::outputMap() {
    // The map is loaded and decoded before the type is checked, so a missing map is
    // reported first.
    imaging::Imaging image;
    image.loadFromBytes("png", getMapImage());
    const std::string& type = outputImageType_;
    if (type == "gif") return image.gifBytes();
    if (type == "jpg") return image.jpegBytes();
    if (type == "bmp") return image.bmpBytes();
    if (type == "png") return image.pngFileBytes();
    throw engineError("Invalid File Type: \"" + type + "\"");
}

namespace {

Error fileError(int error, const std::string& path) {
    return zembra::fileError(error, kRuntimeSource, path, path);
}

// The process's file-creation mask, read without changing it (umask() would, and
// that is process-wide state another thread may be relying on).
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            try {
                return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
            } catch (const std::exception&) {
                break;
            }
        }
    }
    return 022;
}

// A temporary file next to the target; removed on destruction unless released.
class TempFile {
  public:
    explicit TempFile(const std::string& target) : path_(target + ".XXXXXX") {
        fd_ = ::mkstemp(path_.data());
        if (fd_ < 0) {
            const int error = errno;
            path_.clear();
            throw fileError(error, target);
        }
    }
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // Closes the descriptor, reporting the error a delayed write may surface there.
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }
    void release() { path_.clear(); }

  private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace

void CMap::saveMap(const std::string& requestedPath) {
    // Encode first: a wrong type or a missing map must not touch the file at sPath.
    const std::vector<uint8_t> bytes = outputMap();
    if (requestedPath.empty()) {
        throw Error(err::kPathFileAccess, kRuntimeSource, "Path/File access error: empty file name");
    }
    // Writing to a symbolic link writes the file it points to, not a file in its place.
    std::string path = requestedPath;
    std::error_code ec;
    if (std::filesystem::is_symlink(requestedPath, ec)) {
        const std::filesystem::path target = std::filesystem::weakly_canonical(requestedPath, ec);
        if (!ec) path = target.string();
    }

    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        throw Error(err::kPathFileAccess, kRuntimeSource, "Path/File access error: " + path);
    }
    if (exists && ::access(path.c_str(), W_OK) != 0) throw fileError(errno, path);

    TempFile temp(path);
    const uint8_t* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(temp.fd(), data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw fileError(errno, path);
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    // An existing file keeps its permissions; a new one gets the usual 0666 & ~umask.
    const mode_t mode = exists ? (existing.st_mode & 07777) : (0666 & ~currentUmask());
    if (::fchmod(temp.fd(), mode) != 0) throw fileError(errno, path);
    if (temp.close() != 0) throw fileError(errno, path);
    if (::rename(temp.path().c_str(), path.c_str()) != 0) throw fileError(errno, path);
    temp.release();
}

}  // namespace zembra::engine
