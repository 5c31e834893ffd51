// Compiled topologies: the arcs already decoded to degrees, each with its bounding box, and
// the objects' arc references, in one binary file read by mapping it. A map of a small
// area then reads only the arcs near it and the two ends of every other one, instead of
// parsing megabytes of text. The layout (all numbers little-endian):
//
//   magic "ZTOPO\0\0\1"
//   u32 arc count, u32 object count, u64 point count, u64 size of the objects section
//   per arc: u64 first point, u64 point count, f64 south, north, west, east
//   per point: f64 longitude, f64 latitude
//   objects: per object its name and u32 geometry count; per geometry its id, its name,
//            u32 polygon count, per polygon u32 ring count, per ring u32 count and the
//            i32 arc references; then u32 count and the i32 references of its lines.
//            A name is a u32 length and its bytes.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <zembra/draw/topojson.hpp>
#include <zembra/runtime.hpp>

namespace zembra::draw {

static_assert(std::endian::native == std::endian::little);

namespace {

constexpr std::array<char, 8> kMagic{'Z', 'T', 'O', 'P', 'O', '\0', '\0', '\1'};
constexpr size_t kHeaderBytes = 8 + 4 + 4 + 8 + 8;

struct ArcEntry {
    uint64_t first;
    uint64_t count;
    double south, north, west, east;
};
static_assert(sizeof(ArcEntry) == 48);
static_assert(sizeof(LonLat) == 16);

[[noreturn]] void malformed(const std::string& name, const std::string& what) {
    throw Error::standard(err::kInvalidArgument, std::string(kSource),
                          name + ": not a compiled topology (" + what + ")");
}

// A read-only mapping of a whole file.
class MappedFile {
  public:
    explicit MappedFile(const std::filesystem::path& path) {
        const auto fail = [&](int error) {
            return fileError(error, std::string(kSource), path.string(), path.string());
        };
        struct Descriptor {
            int fd;
            ~Descriptor() {
                if (fd >= 0) ::close(fd);
            }
        } file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
        if (file.fd < 0) throw fail(errno);
        struct stat info {};
        if (::fstat(file.fd, &info) != 0) throw fail(errno);
        if (!S_ISREG(info.st_mode)) throw fail(S_ISDIR(info.st_mode) ? EISDIR : EACCES);
        size_ = size_t(info.st_size);
        if (size_ == 0) return;
        void* at = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, file.fd, 0);
        if (at == MAP_FAILED) throw fail(errno);
        at_ = static_cast<const uint8_t*>(at);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile() {
        if (at_) ::munmap(const_cast<uint8_t*>(at_), size_);
    }
    const uint8_t* data() const { return at_; }
    size_t size() const { return size_; }

  private:
    const uint8_t* at_ = nullptr;
    size_t size_ = 0;
};

// Reads fixed-size values and names from a byte range, refusing to pass its end.
class Cursor {
  public:
    Cursor(const uint8_t* at, size_t size, const std::string& name)
        : at_(at), end_(at + size), name_(name) {}

    template <typename T>
    T get() {
        T value;
        std::memcpy(&value, take(sizeof(T)), sizeof(T));
        return value;
    }
    // A u32 count of items of at least `itemBytes` each, checked against what is left
    // before `make` reads them.
    template <typename Make>
    auto count(size_t itemBytes, Make make) {
        const size_t n = get<uint32_t>();
        if (n > size_t(end_ - at_) / itemBytes) malformed(name_, "a count runs past the end");
        return make(n);
    }
    std::string text() {
        return count(1, [&](size_t n) { return std::string(chars(n), n); });
    }
    std::vector<int> refs(size_t arcCount) {
        return count(4, [&](size_t n) {
            std::vector<int> out(n);
            const uint8_t* from = take(n * 4);
            if (n > 0) std::memcpy(out.data(), from, n * 4);  // an empty vector's data may be null
            for (const int r : out) {
                if (r < -static_cast<int64_t>(arcCount) || r >= static_cast<int64_t>(arcCount))
                    throw Error::standard(err::kSubscript, std::string(kSource),
                                          name_ + ": arc reference " + std::to_string(r) +
                                              " outside the " + std::to_string(arcCount) + " arcs");
            }
            return out;
        });
    }
    bool atEnd() const { return at_ == end_; }

  private:
    const uint8_t* take(size_t n) {
        if (n > size_t(end_ - at_)) malformed(name_, "truncated");
        const uint8_t* at = at_;
        at_ += n;
        return at;
    }
    const char* chars(size_t n) { return reinterpret_cast<const char*>(take(n)); }

    const uint8_t* at_;
    const uint8_t* end_;
    const std::string& name_;
};

class Writer {
  public:
    template <typename T>
    void put(const T& value) {
        const auto* bytes = reinterpret_cast<const char*>(&value);
        out_.insert(out_.end(), bytes, bytes + sizeof(T));
    }
    void text(std::string_view s) {
        put(countOf(s.size()));
        out_.insert(out_.end(), s.begin(), s.end());
    }
    void refs(const std::vector<int>& r) {
        put(countOf(r.size()));
        for (const int v : r) put(int32_t(v));
    }
    static uint32_t countOf(size_t n) {
        if (n > std::numeric_limits<uint32_t>::max())
            throw Error::standard(err::kOverflow, std::string(kSource), "a topology too large");
        return uint32_t(n);
    }
    std::string& bytes() { return out_; }

  private:
    std::string out_;
};

}  // namespace

bool Topology::isCompiled(std::string_view head) {
    return head.size() >= kMagic.size() && std::equal(kMagic.begin(), kMagic.end(), head.begin());
}

std::string Topology::compiled() const {
    Writer objects;
    for (const auto& [key, geometries] : objects_) {
        objects.text(key);
        objects.put(Writer::countOf(geometries.size()));
        for (const Geometry& g : geometries) {
            objects.text(g.id);
            objects.text(g.name);
            objects.put(Writer::countOf(g.polygons.size()));
            for (const auto& rings : g.polygons) {
                objects.put(Writer::countOf(rings.size()));
                for (const auto& ring : rings) objects.refs(ring);
            }
            objects.refs(g.lineArcs);
        }
    }
    Writer out;
    for (const char c : kMagic) out.put(c);
    uint64_t points = 0;
    for (const Line& arc : arcs_) points += arc.size();
    out.put(Writer::countOf(arcs_.size()));
    out.put(Writer::countOf(objects_.size()));
    out.put(points);
    out.put(uint64_t(objects.bytes().size()));
    uint64_t first = 0;
    for (const Line& arc : arcs_) {
        const Bounds box = arc.empty() ? Bounds{0, 0, 0, 0} : lineBox(arc);
        out.put(ArcEntry{first, arc.size(), box.minLat, box.maxLat, box.minLon, box.maxLon});
        first += arc.size();
    }
    for (const Line& arc : arcs_)
        for (const LonLat& p : arc) out.put(p);
    out.bytes() += objects.bytes();
    return std::move(out.bytes());
}

void Topology::writeCompiled(const std::filesystem::path& path) const {
    const std::string bytes = compiled();
    // Written beside the target and renamed over it, so a reader never sees half a file.
    const std::filesystem::path partial = path.string() + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) throw fileError(EIO, std::string(kSource), partial.string(), partial.string());
    }
    std::error_code ec;
    std::filesystem::rename(partial, path, ec);
    if (ec) throw fileError(ec.value(), std::string(kSource), path.string(), path.string());
}

Topology Topology::loadCompiled(const std::filesystem::path& path,
                                const std::optional<Bounds>& detailWithin) {
    const MappedFile file(path);
    return parseCompiled({file.data(), file.size()}, path.string(), detailWithin);
}

Topology Topology::parseCompiled(std::span<const uint8_t> bytes, const std::string& name,
                                 const std::optional<Bounds>& detailWithin) {
    if (bytes.size() < kHeaderBytes ||
        !isCompiled({reinterpret_cast<const char*>(bytes.data()), kMagic.size()}))
        malformed(name, "no header");
    Cursor header(bytes.data() + kMagic.size(), kHeaderBytes - kMagic.size(), name);
    const size_t arcCount = header.get<uint32_t>();
    const size_t objectCount = header.get<uint32_t>();
    const uint64_t pointCount = header.get<uint64_t>();
    const uint64_t objectBytes = header.get<uint64_t>();
    const uint64_t room = bytes.size() - kHeaderBytes;
    if (arcCount > room / sizeof(ArcEntry) ||
        pointCount > (room - arcCount * sizeof(ArcEntry)) / sizeof(LonLat) ||
        objectBytes != room - arcCount * sizeof(ArcEntry) - pointCount * sizeof(LonLat))
        malformed(name, "its sections do not match its size");
    const uint8_t* table = bytes.data() + kHeaderBytes;
    const uint8_t* points = table + arcCount * sizeof(ArcEntry);

    Topology topo;
    topo.arcs_.reserve(arcCount);
    const auto point = [&](uint64_t i) {
        LonLat p;
        std::memcpy(&p, points + i * sizeof(LonLat), sizeof p);
        return p;
    };
    for (size_t i = 0; i < arcCount; ++i) {
        ArcEntry e;
        std::memcpy(&e, table + i * sizeof(ArcEntry), sizeof e);
        if (e.first > pointCount || e.count > pointCount - e.first)
            malformed(name, "arc " + std::to_string(i) + " runs past the points");
        // As when reading the text: an arc away from the window keeps its two ends.
        if (detailWithin && e.count > 2 &&
            !boxMeets(Bounds{e.south, e.north, e.west, e.east}, *detailWithin)) {
            topo.arcs_.push_back(Line{point(e.first), point(e.first + e.count - 1)});
            continue;
        }
        Line& line = topo.arcs_.emplace_back(e.count);
        if (e.count > 0)
            std::memcpy(line.data(), points + e.first * sizeof(LonLat), e.count * sizeof(LonLat));
    }

    Cursor objects(points + pointCount * sizeof(LonLat), objectBytes, name);
    for (size_t o = 0; o < objectCount; ++o) {
        std::string key = objects.text();
        std::vector<Geometry> geometries = objects.count(12, [&](size_t n) {
            std::vector<Geometry> out(n);
            for (Geometry& g : out) {
                g.id = objects.text();
                g.name = objects.text();
                g.polygons = objects.count(4, [&](size_t polygons) {
                    std::vector<std::vector<std::vector<int>>> all(polygons);
                    for (auto& rings : all) {
                        rings = objects.count(4, [&](size_t ringCount) {
                            std::vector<std::vector<int>> r(ringCount);
                            for (auto& ring : r) ring = objects.refs(arcCount);
                            return r;
                        });
                    }
                    return all;
                });
                g.lineArcs = objects.refs(arcCount);
            }
            return out;
        });
        topo.objects_.emplace(std::move(key), std::move(geometries));
    }
    if (!objects.atEnd()) malformed(name, "bytes after the objects");
    return topo;
}

}  // namespace zembra::draw
