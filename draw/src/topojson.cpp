#include <simdjson.h>

#include <cerrno>
#include <cmath>
#include <zembra/draw/topojson.hpp>
#include <zembra/runtime.hpp>

namespace zembra::draw {

namespace {

namespace dom = simdjson::dom;

[[noreturn]] void malformed(std::string_view name, const std::string& what) {
    throw Error::standard(err::kInvalidArgument, std::string(kSource),
                          std::string(name) + ": " + what);
}

// An arc reference: i names arc i forwards, ~i (= -i - 1) names arc i backwards.
int arcIndex(int ref) { return ref >= 0 ? ref : ~ref; }

class Reader {
  public:
    Reader(std::string_view name, size_t arcCount) : name_(name), arcCount_(arcCount) {}

    int ref(dom::element v) const {
        int64_t r = 0;
        if (v.get_int64().get(r) != simdjson::SUCCESS)
            malformed(name_, "arc reference is not an integer");
        if (r < -static_cast<int64_t>(arcCount_) || r >= static_cast<int64_t>(arcCount_))
            throw Error::standard(err::kSubscript, std::string(kSource),
                                  std::string(name_) + ": arc reference " + std::to_string(r) +
                                      " outside the " + std::to_string(arcCount_) + " arcs");
        return static_cast<int>(r);
    }

    dom::array array(dom::element v, const char* what) const {
        dom::array a;
        if (v.get_array().get(a) != simdjson::SUCCESS)
            malformed(name_, std::string(what) + " are not an array");
        return a;
    }

    std::vector<int> refs(dom::element v) const {
        std::vector<int> out;
        for (dom::element r : array(v, "ring arcs")) out.push_back(ref(r));
        return out;
    }

    std::vector<std::vector<int>> polygon(dom::element v) const {
        std::vector<std::vector<int>> rings;
        for (dom::element ring : array(v, "polygon arcs")) rings.push_back(refs(ring));
        return rings;
    }

    void collect(dom::element g, std::vector<Topology::Geometry>& out, int depth = 0) const {
        if (depth > 32) malformed(name_, "geometry collections nested too deeply");
        dom::object object;
        if (g.get_object().get(object) != simdjson::SUCCESS)
            malformed(name_, "a geometry is not an object");
        std::string_view type;
        if (object["type"].get_string().get(type) != simdjson::SUCCESS)
            malformed(name_, "a geometry has no type");
        if (type == "GeometryCollection") {
            dom::element members;
            if (object["geometries"].get(members) != simdjson::SUCCESS) return;
            for (dom::element m : array(members, "geometries")) collect(m, out, depth + 1);
            return;
        }
        Topology::Geometry geometry;
        dom::element id;
        if (object["id"].get(id) == simdjson::SUCCESS) {
            std::string_view text;
            int64_t number = 0;
            if (id.get_string().get(text) == simdjson::SUCCESS)
                geometry.id = text;
            else if (id.get_int64().get(number) == simdjson::SUCCESS)
                geometry.id = std::to_string(number);
        }
        std::string_view name;
        if (object.at_pointer("/properties/name").get_string().get(name) == simdjson::SUCCESS)
            geometry.name = name;
        dom::element arcs;
        const bool hasArcs = object["arcs"].get(arcs) == simdjson::SUCCESS;
        if (type == "Polygon" && hasArcs) {
            geometry.polygons.push_back(polygon(arcs));
        } else if (type == "MultiPolygon" && hasArcs) {
            for (dom::element p : array(arcs, "multipolygon arcs"))
                geometry.polygons.push_back(polygon(p));
        } else if (type == "LineString" && hasArcs) {
            geometry.lineArcs = refs(arcs);
        } else if (type == "MultiLineString" && hasArcs) {
            for (dom::element l : array(arcs, "line arcs"))
                for (int r : refs(l)) geometry.lineArcs.push_back(r);
        }
        // Points and null geometries carry no arcs; they are kept so ids stay visible.
        out.push_back(std::move(geometry));
    }

  private:
    std::string_view name_;
    size_t arcCount_;
};

double number(dom::element v, std::string_view name, const char* what) {
    double d = 0;
    if (v.get_double().get(d) != simdjson::SUCCESS) malformed(name, what);
    return d;
}

// Joins the arcs of one ring; consecutive arcs share their end point, kept once.
Line stitch(const std::vector<Line>& arcs, const std::vector<int>& refs, std::vector<int>& used) {
    Line out;
    for (const int ref : refs) {
        used.push_back(arcIndex(ref));
        const Line& arc = arcs[static_cast<size_t>(arcIndex(ref))];
        const auto skip =
            static_cast<std::ptrdiff_t>(std::min<size_t>(out.empty() ? 0 : 1, arc.size()));
        if (ref >= 0)
            out.insert(out.end(), arc.begin() + skip, arc.end());
        else
            out.insert(out.end(), arc.rbegin() + skip, arc.rend());
    }
    return out;
}

}  // namespace

Topology Topology::parse(std::string_view json, std::string_view name,
                         const std::optional<Bounds>& detailWithin) {
    return parsePadded(simdjson::padded_string(json), name, detailWithin);
}

Topology Topology::parsePadded(const simdjson::padded_string& padded, std::string_view name,
                               const std::optional<Bounds>& detailWithin) {
    // The arcs, nearly all of the text, are read on demand straight into lines; the
    // small members are taken as text and parsed whole.
    namespace od = simdjson::ondemand;
    od::parser parser;
    od::document doc;
    if (auto error = parser.iterate(padded).get(doc); error != simdjson::SUCCESS)
        malformed(name, std::string("not valid JSON: ") + simdjson::error_message(error));
    std::string_view type;
    if (doc["type"].get_string().get(type) != simdjson::SUCCESS || type != "Topology")
        malformed(name, "not a TopoJSON topology");
    dom::parser small;
    const auto member = [&](const char* key, dom::element& out) {
        od::object object;
        std::string_view text;
        if (auto error = doc[key].get_object().get(object); error != simdjson::SUCCESS)
            return error == simdjson::NO_SUCH_FIELD
                       ? false
                       : (malformed(name, std::string(key) + " is not an object"), false);
        if (object.raw_json().get(text) != simdjson::SUCCESS ||
            small.parse(simdjson::padded_string(text)).get(out) != simdjson::SUCCESS)
            malformed(name, std::string(key) + " is not valid JSON");
        return true;
    };

    // Quantised topologies store integer deltas; the transform scales them back to degrees.
    bool quantised = false;
    double sx = 1, sy = 1, tx = 0, ty = 0;
    dom::element transform;
    if (member("transform", transform)) {
        dom::array scale, translate;
        if (transform["scale"].get_array().get(scale) != simdjson::SUCCESS ||
            transform["translate"].get_array().get(translate) != simdjson::SUCCESS ||
            scale.size() != 2 || translate.size() != 2)
            malformed(name, "transform needs scale and translate pairs");
        sx = number(scale.at(0).value_unsafe(), name, "scale is not a number");
        sy = number(scale.at(1).value_unsafe(), name, "scale is not a number");
        tx = number(translate.at(0).value_unsafe(), name, "translate is not a number");
        ty = number(translate.at(1).value_unsafe(), name, "translate is not a number");
        quantised = true;
    }

    Topology topo;
    od::array arcs;
    if (doc["arcs"].get_array().get(arcs) != simdjson::SUCCESS)
        malformed(name, "arcs are not an array");
    Line line;  // the arc being decoded, its memory reused
    for (auto a : arcs) {
        od::array points;
        if (a.get_array().get(points) != simdjson::SUCCESS)
            malformed(name, "an arc is not an array");
        line.clear();
        double x = 0, y = 0;
        for (auto pv : points) {
            od::array p;
            if (pv.get_array().get(p) != simdjson::SUCCESS)
                malformed(name, "an arc position is not a number pair");
            double pair[2] = {0, 0};
            size_t count = 0;
            for (auto v : p) {
                double d = 0;
                if (v.get_double().get(d) != simdjson::SUCCESS)
                    malformed(name, "an arc position is not a number pair");
                if (count < 2) pair[count] = d;
                ++count;
            }
            if (count < 2) malformed(name, "an arc position is not a number pair");
            if (quantised) {
                x += pair[0];
                y += pair[1];
                line.push_back({x * sx + tx, y * sy + ty});
            } else {
                line.push_back({pair[0], pair[1]});
            }
        }
        if (detailWithin && line.size() > 2) {
            const Bounds box = lineBox(line);
            // An arc away from the window keeps its ends: the chord between them stays in
            // the arc's box, so rings still join and a fill inside the window is unchanged
            // (the arc and its chord wind around no point outside that box).
            if (!boxMeets(box, *detailWithin)) {
                topo.arcs_.push_back(Line{line.front(), line.back()});
                continue;
            }
        }
        topo.arcs_.push_back(line);
    }

    const Reader reader(name, topo.arcs_.size());
    dom::element objects;
    if (member("objects", objects)) {
        for (auto [key, value] : dom::object(objects)) {
            std::vector<Geometry> geometries;
            reader.collect(value, geometries);
            topo.objects_.emplace(std::string(key), std::move(geometries));
        }
    }
    return topo;
}

Topology Topology::load(const std::filesystem::path& path,
                        const std::optional<Bounds>& detailWithin) {
    simdjson::padded_string text;
    if (simdjson::padded_string::load(path.string()).get(text) != simdjson::SUCCESS) {
        std::error_code ec;
        const bool exists = std::filesystem::exists(path, ec);
        throw Error::standard(exists ? err::kPermissionDenied : err::kFileNotFound,
                              std::string(kSource), path.string());
    }
    return parsePadded(text, path.string(), detailWithin);
}

std::vector<Feature> Topology::features(std::string_view object) const {
    const auto found = objects_.find(object);
    if (found == objects_.end())
        throw Error::standard(err::kInvalidArgument, std::string(kSource),
                              "topology has no object \"" + std::string(object) + "\"");
    std::vector<Feature> out;
    out.reserve(found->second.size());
    for (const Geometry& g : found->second) {
        Feature f;
        f.id = g.id;
        f.name = g.name;
        for (const auto& rings : g.polygons) {
            Polygon polygon;
            for (const auto& ring : rings) polygon.push_back(stitch(arcs_, ring, f.arcs));
            f.polygons.push_back(std::move(polygon));
        }
        for (const int ref : g.lineArcs) f.arcs.push_back(arcIndex(ref));
        out.push_back(std::move(f));
    }
    return out;
}

std::vector<Line> Topology::mesh(std::string_view object, const MeshFilter& keep) const {
    const std::vector<Feature> fs = features(object);
    // For every arc, the first two features that use it (a coast has one).
    std::map<int, std::pair<int, int>> sides;
    for (size_t i = 0; i < fs.size(); ++i) {
        for (const int arc : fs[i].arcs) {
            const int fi = static_cast<int>(i);
            auto [it, inserted] = sides.try_emplace(arc, fi, fi);
            if (!inserted && it->second.first == it->second.second && it->second.first != fi)
                it->second.second = fi;
        }
    }
    std::vector<Line> out;
    for (const auto& [arc, s] : sides) {
        if (keep(fs[static_cast<size_t>(s.first)], fs[static_cast<size_t>(s.second)]))
            out.push_back(arcs_[static_cast<size_t>(arc)]);
    }
    return out;
}

}  // namespace zembra::draw
