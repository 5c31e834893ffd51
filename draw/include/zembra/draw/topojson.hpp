// Reading TopoJSON topologies: arcs are decoded once (quantisation transform and delta
// encoding undone), and polygons and border lines are stitched from them.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/draw/geo.hpp>

namespace simdjson {
struct padded_string;
}

namespace zembra::draw {

// A feature of a topology object, flattened out of nested geometry collections.
struct Feature {
    std::string id;                 // "id" member as text ("840", "06"), empty if absent
    std::string name;               // properties.name, empty if absent
    std::vector<Polygon> polygons;  // empty for point and line geometries
    std::vector<int> arcs;          // every arc the feature uses, as a non-negative index
};

class Topology {
  public:
    // Parses a TopoJSON document; `name` names it in messages. Raises error 5 when the
    // text is not JSON, is not a Topology, or an arc or geometry is malformed, and 9 for
    // an arc reference outside the arcs.
    // With `detailWithin`, an arc whose bounding box misses those bounds (longitudes
    // modulo 360) keeps only its two end points: enough for a map of that area, for a
    // fraction of the memory.
    static Topology parse(std::string_view json, std::string_view name = "TopoJSON",
                          const std::optional<Bounds>& detailWithin = std::nullopt);
    // Reads and parses a file. Raises error 53 or 70 naming the file when it cannot be
    // read, and the errors of parse() with the file's name.
    static Topology load(const std::filesystem::path& path,
                         const std::optional<Bounds>& detailWithin = std::nullopt);

    // The compiled form of a topology (see topology_file.cpp): what parse() made of the
    // text, read back by mapping the file. parseCompiled() and loadCompiled() take the
    // same `detailWithin` and give the same topology as parse() of the text; malformed
    // bytes raise error 5 naming the file, an arc reference outside the arcs error 9.
    static bool isCompiled(std::string_view head);
    std::string compiled() const;
    void writeCompiled(const std::filesystem::path& path) const;
    static Topology parseCompiled(std::span<const uint8_t> bytes, const std::string& name,
                                  const std::optional<Bounds>& detailWithin = std::nullopt);
    static Topology loadCompiled(const std::filesystem::path& path,
                                 const std::optional<Bounds>& detailWithin = std::nullopt);

    // Decoded arcs in degrees (longitude, latitude), in file order.
    const std::vector<Line>& arcs() const { return arcs_; }

    bool hasObject(std::string_view name) const { return objects_.contains(std::string(name)); }

    // The features of a named object, with their polygons stitched from the arcs.
    // Raises error 5 when the object is absent.
    std::vector<Feature> features(std::string_view object) const;

    // The arcs of a named object for which keep(a, b) holds, where a and b are the two
    // features on either side of the arc; b is a for an arc used by one feature only
    // (a coastline). Each arc is returned once.
    using MeshFilter = std::function<bool(const Feature& a, const Feature& b)>;
    std::vector<Line> mesh(std::string_view object, const MeshFilter& keep) const;

    // One geometry as read: arc references of its rings (i forwards, ~i backwards).
    struct Geometry {
        std::string id;
        std::string name;
        std::vector<std::vector<std::vector<int>>> polygons;  // polygon -> ring -> refs
        std::vector<int> lineArcs;                            // line geometries' arcs
    };

  private:
    static Topology parsePadded(const simdjson::padded_string& json, std::string_view name,
                                const std::optional<Bounds>& detailWithin);

    std::vector<Line> arcs_;
    std::map<std::string, std::vector<Geometry>, std::less<>> objects_;
};

}  // namespace zembra::draw
