// The canvas: map and marker pictures kept decoded, reset, output and save.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "cmap.hpp"
#include "imaging.hpp"

namespace zembra::engine {

namespace {

// Reads a picture file the one way the canvas does for both the map and the marker.
// The outputs change only when all of it was read, so a failed load leaves the previous
// picture in place.
void loadPictureFile(const std::string& path, imaging::Picture& picture, int32_t& width,
                     int32_t& height) {
    imaging::Picture loaded = imaging::readPicture(path);
    width = loaded.width;
    height = loaded.height;
    picture = std::move(loaded);
}

}  // namespace

bool CMap::clear() {
    if (inputMapFile_.empty()) throw engineError("No input map supplied");
    loadPictureFile(inputMapFile_, mapImage_, mapWidth_, mapHeight_);
    return true;
}

imaging::Picture& CMap::getMapImage() {
    if (mapImage_.rgba.empty()) clear();
    return mapImage_;
}

const imaging::Picture& CMap::getOverlayImage() {
    // No emptiness check on the path: an empty one reaches the loader, which reports it.
    if (overlayImage_.rgba.empty()) {
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
    // The map is loaded before the type is checked, so a missing map is reported first.
    const imaging::Picture& map = getMapImage();
    const std::string& type = outputImageType_;
    if (type == "gif") return imaging::encode(map, imaging::Format::Gif);
    if (type == "jpg") return imaging::encode(map, imaging::Format::Jpeg);
    if (type == "bmp") return imaging::encode(map, imaging::Format::Bmp);
    if (type == "png") return imaging::encode(map, imaging::Format::Png);
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

// Temporary files of a save are named "<file>.zembra-save.<pid>.XXXXXX" beside the
// file, so that one a killed process left behind is recognisable as such.
constexpr std::string_view kTempInfix = ".zembra-save.";

// The part of the file name a temporary name keeps: short enough that the infix, a pid
// of up to seven digits and ".XXXXXX" still fit in a 255-byte file name.
constexpr size_t kMaxTempStem = 255 - kTempInfix.size() - 7 - 7;

std::string tempStem(const std::filesystem::path& target) {
    std::string name = target.filename().string();
    if (name.size() > kMaxTempStem) name.resize(kMaxTempStem);
    return name + std::string(kTempInfix);
}

// A temporary file next to the target; removed on destruction unless released.
class TempFile {
  public:
    // Returns without a file (fd() < 0, error() set) when none can be created there.
    explicit TempFile(const std::string& target)
        : path_((std::filesystem::path(target).parent_path() / tempStem(target)).string() +
                std::to_string(::getpid()) + ".XXXXXX") {
        fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
        if (fd_ < 0) {
            error_ = errno;
            path_.clear();
        }
    }
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    int error() const { return error_; }
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
    int error_ = 0;
};

// Removes the temporary files that saves to `target` by processes no longer running
// left behind (a save killed between creating and renaming its file).
void removeStaleTempFiles(const std::string& target) {
    const std::filesystem::path path(target);
    const std::string prefix = tempStem(path);
    std::error_code ec;
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string rest = name.substr(prefix.size());
        const size_t dot = rest.find('.');
        char* digitsEnd = nullptr;
        const long pid = std::strtol(rest.c_str(), &digitsEnd, 10);
        if (dot == std::string::npos || digitsEnd != rest.c_str() + dot || pid <= 0 ||
            rest.size() - dot - 1 != 6) {
            continue;
        }
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH) ::unlink(it->path().c_str());
    }
}

// The file a path names once symbolic links are followed, whether that file exists or
// not: a dangling link is written through to the file it names, like any other link.
std::string followLinks(const std::string& requested) {
    std::string path = requested;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string target(size_t(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) throw fileError(errno, requested);
        if (size_t(length) >= target.size()) throw fileError(ENAMETOOLONG, requested);
        target.resize(size_t(length));
        const std::filesystem::path link(path);
        path = target.starts_with('/') || !link.has_parent_path()
                   ? target
                   : (link.parent_path() / target).string();
    }
    throw fileError(ELOOP, requested);
}

void writeAll(int fd, const std::vector<uint8_t>& bytes, const std::string& path) {
    const uint8_t* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw fileError(errno, path);
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
}

// Writes over an existing file where no temporary file can be made beside it (a
// writable file in a read-only folder). Not atomic: the file is cut to nothing before
// the new bytes go in, so a write that fails (disk full, I/O error) is reported and
// may leave the file truncated. Only reached with the bytes ready, so nothing else
// can fail in between.
void writeInPlace(const std::string& path, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) throw fileError(errno, path);
    try {
        writeAll(fd, bytes, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0) throw fileError(errno, path);
}

}  // namespace

void CMap::saveMap(const std::string& requestedPath) {
    // Encode first: a wrong type or a missing map must not touch the file at sPath.
    const std::vector<uint8_t> bytes = outputMap();
    if (requestedPath.empty()) {
        throw Error(err::kPathFileAccess, kRuntimeSource,
                    "Path/File access error: empty file name");
    }
    // Writing to a symbolic link writes the file it names, not a file in its place.
    const std::string path = followLinks(requestedPath);

    // Only a regular file is replaced: a device, a FIFO, a socket or a folder stays
    // as it is.
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        throw Error(err::kPathFileAccess, kRuntimeSource,
                    "Path/File access error: " + requestedPath);
    }
    if (exists && ::access(path.c_str(), W_OK) != 0) throw fileError(errno, path);

    removeStaleTempFiles(path);
    TempFile temp(path);
    if (temp.fd() < 0) {
        const int error = temp.error();
        // A folder we may not write to can still hold a file we may write.
        if (exists && (error == EACCES || error == EPERM || error == EROFS)) {
            writeInPlace(path, bytes);
            return;
        }
        throw fileError(error, path);
    }
    writeAll(temp.fd(), bytes, path);
    // An existing file keeps its permissions; a new one gets the usual 0666 & ~umask.
    const mode_t mode = exists ? (existing.st_mode & 07777) : (0666 & ~currentUmask());
    if (::fchmod(temp.fd(), mode) != 0) throw fileError(errno, path);
    if (temp.close() != 0) throw fileError(errno, path);
    if (::rename(temp.path().c_str(), path.c_str()) != 0) throw fileError(errno, path);
    temp.release();
}

}  // namespace zembra::engine
