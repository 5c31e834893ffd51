// Reading TopoJSON topologies: arcs are decoded once (quantisation transform and
// delta encoding undone), and polygons and border lines are stitched from them.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>
#include <zembra/runtime.hpp>

namespace zembra::mapgen {

// Failures are zembra::Error values with the source "zembra-mapgen": 53 for a file that
// does not exist, 70 for one that cannot be read or written, 9 for an arc reference
// outside the arcs, 5 for malformed data and bad argument values. `detail` follows the
// classic description.
[[noreturn]] void raise(int32_t number, std::string_view detail);

struct LonLat {
    double lon = 0;
    double lat = 0;
    friend bool operator==(const LonLat&, const LonLat&) = default;
};

// A polyline; a ring when its first and last points coincide.
using Line = std::vector<LonLat>;

// One polygon: the outer ring followed by its holes.
using Polygon = std::vector<Line>;

// A feature of a topology object, flattened out of nested geometry collections.
struct Feature {
    QString id;                     // "id" member as text ("840", "06"), empty if absent
    QString name;                   // properties.name, empty if absent
    std::vector<Polygon> polygons;  // empty for point and line geometries
    std::vector<int> arcs;          // every arc the feature uses, as a non-negative index
};

class Topology {
  public:
    // Parses a TopoJSON document. Raises error 5 when the text is not JSON, is not a
    // Topology, or an arc is malformed.
    static Topology parse(const QByteArray& json);
    // Reads and parses a file. Raises error 53 or 70 naming the file when it cannot be
    // read, and the errors of parse() with the file's name.
    static Topology load(const QString& path);

    // Decoded arcs in degrees (longitude, latitude), in file order.
    const std::vector<Line>& arcs() const { return arcs_; }

    bool hasObject(const QString& name) const { return objects_.contains(name); }

    // The features of a named object, with their polygons stitched from the arcs.
    // Raises error 5 when the object is absent, 9 when it refers to an arc that does not exist.
    std::vector<Feature> features(const QString& object) const;

    // The arcs of a named object for which keep(a, b) holds, where a and b are the two
    // features on either side of the arc; b is a for an arc used by one feature only
    // (a coastline). Each arc is returned once.
    using MeshFilter = std::function<bool(const Feature& a, const Feature& b)>;
    std::vector<Line> mesh(const QString& object, const MeshFilter& keep) const;

  private:
    std::vector<Line> arcs_;
    QJsonObject objects_;
};

}  // namespace zembra::mapgen
