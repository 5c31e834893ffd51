#include <algorithm>
#include <cmath>
#include <numbers>
#include <zembra/render/areas.hpp>
#include <zembra/runtime.hpp>

namespace zembra::render {

namespace {

constexpr double kCell = 1.0;  // degrees per grid cell

// Squared distance in degrees of latitude from p to the segment a-b, longitudes shrunk by
// the cosine of p's latitude so that a degree east counts what it measures on the ground.
double segmentDistance2(const LatLon& p, const LatLon& a, const LatLon& b, double k) {
    const double ax = (a.lon - p.lon) * k, ay = a.lat - p.lat;
    const double bx = (b.lon - p.lon) * k, by = b.lat - p.lat;
    const double dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? -(ax * dx + ay * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double x = ax + t * dx, y = ay + t * dy;
    return x * x + y * y;
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

}  // namespace

AreaIndex::AreaIndex(std::vector<Area> areas) : areas_(std::move(areas)) {
    double minLat = 1e300, maxLat = -1e300, minLon = 1e300, maxLon = -1e300;
    for (size_t i = 0; i < areas_.size(); ++i) {
        Box box{1e300, -1e300, 1e300, -1e300};
        for (const Ring& ring : areas_[i].rings) {
            for (const LatLon& p : ring) {
                box.minLat = std::min(box.minLat, p.lat);
                box.maxLat = std::max(box.maxLat, p.lat);
                box.minLon = std::min(box.minLon, p.lon);
                box.maxLon = std::max(box.maxLon, p.lon);
            }
        }
        boxes_.push_back(box);
        byState_[areas_[i].abbr].push_back(i);
        if (box.minLat > box.maxLat) continue;  // no outline
        minLat = std::min(minLat, box.minLat);
        maxLat = std::max(maxLat, box.maxLat);
        minLon = std::min(minLon, box.minLon);
        maxLon = std::max(maxLon, box.maxLon);
    }
    if (minLat > maxLat) return;
    gridMinLat_ = std::floor(minLat);
    gridMinLon_ = std::floor(minLon);
    gridRows_ = static_cast<int>(std::floor((maxLat - gridMinLat_) / kCell)) + 1;
    gridCols_ = static_cast<int>(std::floor((maxLon - gridMinLon_) / kCell)) + 1;
    grid_.resize(static_cast<size_t>(gridRows_) * static_cast<size_t>(gridCols_));
    for (size_t i = 0; i < areas_.size(); ++i) {
        const Box& b = boxes_[i];
        if (b.minLat > b.maxLat) continue;
        const int r0 = static_cast<int>((b.minLat - gridMinLat_) / kCell);
        const int r1 = static_cast<int>((b.maxLat - gridMinLat_) / kCell);
        const int c0 = static_cast<int>((b.minLon - gridMinLon_) / kCell);
        const int c1 = static_cast<int>((b.maxLon - gridMinLon_) / kCell);
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c)
                grid_[static_cast<size_t>(r) * static_cast<size_t>(gridCols_) +
                      static_cast<size_t>(c)]
                    .push_back(i);
    }
}

bool AreaIndex::contains(size_t area, const LatLon& p) const {
    const Box& b = boxes_[area];
    if (p.lat < b.minLat || p.lat > b.maxLat || p.lon < b.minLon || p.lon > b.maxLon) return false;
    bool inside = false;
    for (const Ring& ring : areas_[area].rings) {
        const size_t n = ring.size();
        for (size_t i = 0, j = n - 1; i < n; j = i++) {
            const LatLon& a = ring[i];
            const LatLon& c = ring[j];
            if ((a.lat > p.lat) != (c.lat > p.lat) &&
                p.lon < (c.lon - a.lon) * (p.lat - a.lat) / (c.lat - a.lat) + a.lon) {
                inside = !inside;
            }
        }
    }
    return inside;
}

std::vector<size_t> AreaIndex::cellAreas(const LatLon& p) const {
    if (grid_.empty()) return {};
    const double r = std::floor((p.lat - gridMinLat_) / kCell);
    const double c = std::floor((p.lon - gridMinLon_) / kCell);
    if (!(r >= 0 && r < gridRows_ && c >= 0 && c < gridCols_)) return {};
    return grid_[static_cast<size_t>(r) * static_cast<size_t>(gridCols_) + static_cast<size_t>(c)];
}

size_t AreaIndex::pointInPolygon(const LatLon& p, const std::vector<size_t>* among) const {
    for (const size_t i : cellAreas(p)) {
        if (among != nullptr && !std::binary_search(among->begin(), among->end(), i)) continue;
        if (contains(i, p)) return i;
    }
    return kNoArea;
}

size_t AreaIndex::nearest(const LatLon& p, const std::vector<size_t>* among) const {
    const double k = std::cos(p.lat * std::numbers::pi / 180.0);
    // Areas by the distance to their box, so that the search stops once no box is nearer
    // than the best outline found.
    std::vector<std::pair<double, size_t>> order;
    const auto consider = [&](size_t i) {
        const Box& b = boxes_[i];
        if (b.minLat > b.maxLat) return;
        const double dLat = std::max({b.minLat - p.lat, 0.0, p.lat - b.maxLat});
        const double dLon = std::max({b.minLon - p.lon, 0.0, p.lon - b.maxLon}) * k;
        order.emplace_back(dLat * dLat + dLon * dLon, i);
    };
    if (among != nullptr) {
        for (const size_t i : *among) consider(i);
    } else {
        for (size_t i = 0; i < areas_.size(); ++i) consider(i);
    }
    std::sort(order.begin(), order.end());
    double best = std::numeric_limits<double>::infinity();
    size_t found = order.empty() ? kNoArea : order.front().second;
    for (const auto& [boxDistance, i] : order) {
        if (boxDistance > best) break;
        for (const Ring& ring : areas_[i].rings) {
            for (size_t a = 0, b = ring.size() - 1; a < ring.size(); b = a++) {
                const double d = segmentDistance2(p, ring[a], ring[b], k);
                if (d < best) {
                    best = d;
                    found = i;
                }
            }
        }
    }
    return found;
}

size_t AreaIndex::assign(const LatLon& position, std::string_view state) const {
    if (areas_.empty()) return kNoArea;
    const std::vector<size_t>* among = nullptr;
    if (!state.empty()) {
        const auto it = byState_.find(std::string(state));
        if (it != byState_.end()) among = &it->second;
    }
    if (among != nullptr && among->size() == 1) return among->front();
    const size_t inside = pointInPolygon(position, among);
    if (inside != kNoArea) return inside;
    return nearest(position, among);
}

std::vector<AreaTotal> totalsByArea(const AreaIndex& index, const RowTable& table,
                                    const std::vector<PlacedEntry>& placed) {
    std::vector<AreaTotal> totals(index.areas().size());
    std::vector<std::unordered_map<std::string_view, bool>> seen(totals.size());
    const auto& entries = table.entries();
    for (const PlacedEntry& p : placed) {
        const size_t area = index.assign(p.position, p.state);
        if (area == kNoArea) continue;
        const CodeRows& e = entries[p.entry];
        AreaTotal& t = totals[area];
        t.area = area;
        if (seen[area].try_emplace(e.code, true).second) ++t.codes;
        t.rows += e.rows;
        t.sum += e.sum;
    }
    std::erase_if(totals, [](const AreaTotal& t) { return t.area == kNoArea; });
    return totals;
}

std::vector<AreaTotal> totalsByCategory(const RowTable& table,
                                        const std::vector<PlacedEntry>& placed) {
    std::unordered_map<std::string, size_t> at;
    std::vector<AreaTotal> totals;
    const auto& entries = table.entries();
    for (const PlacedEntry& p : placed) {
        const CodeRows& e = entries[p.entry];
        auto [it, added] = at.try_emplace(e.category, totals.size());
        if (added) totals.push_back({kNoArea, e.category, 0, 0, 0});
        AreaTotal& t = totals[it->second];
        ++t.codes;  // a code's rows of one category are one entry
        t.rows += e.rows;
        t.sum += e.sum;
    }
    std::sort(totals.begin(), totals.end(), [](const AreaTotal& a, const AreaTotal& b) {
        if (a.codes != b.codes) return a.codes > b.codes;
        if (a.rows != b.rows) return a.rows > b.rows;
        return a.category < b.category;
    });
    return totals;
}

void writeAreaTable(std::ostream& out, const std::vector<Area>& areas,
                    const std::vector<AreaTotal>& totals, bool withValues) {
    out << "fips,abbr,name,codes,rows,sum\n";
    for (const AreaTotal& t : totals) {
        const Area& a = areas.at(t.area);
        out << csvField(a.fips) << ',' << csvField(a.abbr) << ',' << csvField(a.name) << ','
            << t.codes << ',' << t.rows << ',' << (withValues ? formatNumber(t.sum) : "") << '\n';
    }
}

void writeCategoryTable(std::ostream& out, const std::vector<AreaTotal>& totals, bool withValues) {
    out << "category,codes,rows,sum\n";
    for (const AreaTotal& t : totals) {
        out << csvField(t.category) << ',' << t.codes << ',' << t.rows << ','
            << (withValues ? formatNumber(t.sum) : "") << '\n';
    }
}

}  // namespace zembra::render
