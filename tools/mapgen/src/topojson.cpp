#include "topojson.hpp"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <algorithm>
#include <map>

namespace zembra::mapgen {

void raise(int32_t number, std::string_view detail) {
    throw Error::standard(number, "zembra-mapgen", detail);
}

namespace {

[[noreturn]] void fail(const QString& what) { raise(err::kInvalidArgument, what.toStdString()); }

// An arc reference: i names arc i forwards, ~i (= -i - 1) names arc i backwards.
int arcIndex(int ref) { return ref >= 0 ? ref : ~ref; }

int toRef(const QJsonValue& v, std::size_t arcCount) {
    if (!v.isDouble()) fail("arc reference is not a number");
    const double d = v.toDouble();
    if (d != static_cast<int>(d)) fail("arc reference is not an integer");
    const int ref = static_cast<int>(d);
    if (static_cast<std::size_t>(arcIndex(ref)) >= arcCount)
        raise(err::kSubscript, QStringLiteral("arc reference %1 outside the %2 arcs")
                                   .arg(ref)
                                   .arg(arcCount)
                                   .toStdString());
    return ref;
}

class Stitcher {
  public:
    explicit Stitcher(const std::vector<Line>& arcs) : arcs_(arcs) {}

    // Joins the arcs of one ring; consecutive arcs share their end point, kept once.
    Line ring(const QJsonArray& refs, std::vector<int>& used) const {
        Line out;
        for (const auto& v : refs) {
            const int ref = toRef(v, arcs_.size());
            used.push_back(arcIndex(ref));
            const Line& arc = arcs_[static_cast<std::size_t>(arcIndex(ref))];
            const std::size_t skip = out.empty() ? 0 : 1;
            if (ref >= 0) {
                out.insert(out.end(),
                           arc.begin() + static_cast<std::ptrdiff_t>(std::min(skip, arc.size())),
                           arc.end());
            } else {
                out.insert(out.end(),
                           arc.rbegin() + static_cast<std::ptrdiff_t>(std::min(skip, arc.size())),
                           arc.rend());
            }
        }
        return out;
    }

    Polygon polygon(const QJsonValue& rings, std::vector<int>& used) const {
        if (!rings.isArray()) fail("polygon arcs are not an array");
        Polygon p;
        for (const auto& r : rings.toArray()) {
            if (!r.isArray()) fail("ring arcs are not an array");
            p.push_back(ring(r.toArray(), used));
        }
        return p;
    }

  private:
    const std::vector<Line>& arcs_;
};

QString idText(const QJsonValue& v) {
    if (v.isString()) return v.toString();
    if (v.isDouble()) return QString::number(v.toDouble(), 'g', 15);
    return {};
}

void collect(const QJsonObject& geometry, const Stitcher& stitch, std::size_t arcCount,
             std::vector<Feature>& out, int depth = 0) {
    if (depth > 32) fail("geometry collections nested too deeply");
    const QString type = geometry.value("type").toString();
    if (type == "GeometryCollection") {
        for (const auto& g : geometry.value("geometries").toArray())
            collect(g.toObject(), stitch, arcCount, out, depth + 1);
        return;
    }
    Feature f;
    f.id = idText(geometry.value("id"));
    f.name = geometry.value("properties").toObject().value("name").toString();
    const QJsonValue arcs = geometry.value("arcs");
    if (type == "Polygon") {
        f.polygons.push_back(stitch.polygon(arcs, f.arcs));
    } else if (type == "MultiPolygon") {
        if (!arcs.isArray()) fail("multipolygon arcs are not an array");
        for (const auto& p : arcs.toArray()) f.polygons.push_back(stitch.polygon(p, f.arcs));
    } else if (type == "LineString") {
        for (const auto& v : arcs.toArray()) f.arcs.push_back(arcIndex(toRef(v, arcCount)));
    } else if (type == "MultiLineString") {
        for (const auto& l : arcs.toArray())
            for (const auto& v : l.toArray()) f.arcs.push_back(arcIndex(toRef(v, arcCount)));
    }
    // Points and null geometries carry no arcs; they are kept so ids stay visible.
    out.push_back(std::move(f));
}

}  // namespace

Topology Topology::parse(const QByteArray& json) {
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
    if (err.error != QJsonParseError::NoError)
        fail(QStringLiteral("not valid JSON: %1 at offset %2")
                 .arg(err.errorString())
                 .arg(err.offset));
    const QJsonObject root = doc.object();
    if (root.value("type").toString() != "Topology") fail("not a TopoJSON topology");

    // Quantised topologies store integer deltas; the transform scales them back to degrees.
    bool quantised = false;
    double sx = 1, sy = 1, tx = 0, ty = 0;
    if (root.contains("transform")) {
        const QJsonObject t = root.value("transform").toObject();
        const QJsonArray scale = t.value("scale").toArray();
        const QJsonArray translate = t.value("translate").toArray();
        if (scale.size() != 2 || translate.size() != 2)
            fail("transform needs scale and translate pairs");
        sx = scale[0].toDouble();
        sy = scale[1].toDouble();
        tx = translate[0].toDouble();
        ty = translate[1].toDouble();
        quantised = true;
    }

    Topology topo;
    const QJsonArray arcs = root.value("arcs").toArray();
    topo.arcs_.reserve(static_cast<std::size_t>(arcs.size()));
    for (const auto& a : arcs) {
        if (!a.isArray()) fail("an arc is not an array");
        Line line;
        const QJsonArray points = a.toArray();
        line.reserve(static_cast<std::size_t>(points.size()));
        double x = 0, y = 0;
        for (const auto& pv : points) {
            const QJsonArray p = pv.toArray();
            if (p.size() < 2 || !p[0].isDouble() || !p[1].isDouble())
                fail("an arc position is not a number pair");
            if (quantised) {
                x += p[0].toDouble();
                y += p[1].toDouble();
                line.push_back({x * sx + tx, y * sy + ty});
            } else {
                line.push_back({p[0].toDouble(), p[1].toDouble()});
            }
        }
        topo.arcs_.push_back(std::move(line));
    }
    topo.objects_ = root.value("objects").toObject();
    return topo;
}

Topology Topology::load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        raise(QFileInfo::exists(path) ? err::kPermissionDenied : err::kFileNotFound,
              path.toStdString());
    try {
        return parse(file.readAll());
    } catch (const Error& e) {
        throw Error(e.number(), e.source(), path.toStdString() + ": " + e.description());
    }
}

std::vector<Feature> Topology::features(const QString& object) const {
    if (!objects_.contains(object))
        fail(QStringLiteral("topology has no object \"%1\"").arg(object));
    std::vector<Feature> out;
    collect(objects_.value(object).toObject(), Stitcher(arcs_), arcs_.size(), out);
    return out;
}

std::vector<Line> Topology::mesh(const QString& object, const MeshFilter& keep) const {
    const std::vector<Feature> fs = features(object);
    // For every arc, the first two features that use it (a coast has one).
    std::map<int, std::pair<int, int>> sides;
    for (std::size_t i = 0; i < fs.size(); ++i) {
        for (const int arc : fs[i].arcs) {
            const int fi = static_cast<int>(i);
            auto [it, inserted] = sides.try_emplace(arc, fi, fi);
            if (!inserted && it->second.first == it->second.second && it->second.first != fi)
                it->second.second = fi;
        }
    }
    std::vector<Line> out;
    for (const auto& [arc, s] : sides) {
        if (keep(fs[static_cast<std::size_t>(s.first)], fs[static_cast<std::size_t>(s.second)]))
            out.push_back(arcs_[static_cast<std::size_t>(arc)]);
    }
    return out;
}

}  // namespace zembra::mapgen
