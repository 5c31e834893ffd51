// Codes counted in areas (states, counties): each placed code goes to exactly one area, the
// one its state names when that settles it, else the one of its state (or of all, when its
// state is unknown) whose outline holds its point, else the nearest of them. Outlines are
// plain rings of latitude/longitude, so any boundary data can supply them.
#pragma once

#include <cstddef>
#include <limits>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>
#include <zembra/render/locate.hpp>
#include <zembra/render/rows.hpp>

namespace zembra::render {

// A ring of positions; the last point joins the first.
using Ring = std::vector<LatLon>;

struct Area {
    std::string fips;         // "34" for a state, "34023" for a county
    std::string abbr;         // the postal code of the state it lies in ("NJ")
    std::string name;         // "New Jersey", "Middlesex"
    std::vector<Ring> rings;  // outer rings and holes alike, by the even-odd rule
};

inline constexpr size_t kNoArea = std::numeric_limits<size_t>::max();

class AreaIndex {
  public:
    explicit AreaIndex(std::vector<Area> areas);

    const std::vector<Area>& areas() const noexcept { return areas_; }

    // The area of a code at `position` whose zip row names `state` (empty: unknown).
    // kNoArea only when there are no areas at all.
    size_t assign(const LatLon& position, std::string_view state) const;

    // True when the area's outline holds the position.
    bool contains(size_t area, const LatLon& position) const;

  private:
    struct Box {
        double minLat, maxLat, minLon, maxLon;
    };
    size_t pointInPolygon(const LatLon& p, const std::vector<size_t>* among) const;
    size_t nearest(const LatLon& p, const std::vector<size_t>* among) const;
    std::vector<size_t> cellAreas(const LatLon& p) const;

    std::vector<Area> areas_;
    std::vector<Box> boxes_;
    std::unordered_map<std::string, std::vector<size_t>> byState_;
    // A grid of 1-degree cells over the areas' boxes, each listing the areas whose box
    // meets it.
    double gridMinLat_ = 0, gridMinLon_ = 0;
    int gridRows_ = 0, gridCols_ = 0;
    std::vector<std::vector<size_t>> grid_;
};

// What falls in one area (or, for the category style, in one category).
struct AreaTotal {
    size_t area = kNoArea;  // index into the areas; kNoArea for a category's total
    std::string category;
    size_t codes = 0;
    size_t rows = 0;
    double sum = 0;
};

// The totals per area of the placed entries of `table`, one per area with data, in the
// areas' order.
std::vector<AreaTotal> totalsByArea(const AreaIndex& index, const RowTable& table,
                                    const std::vector<PlacedEntry>& placed);

// The totals per category of the placed entries, largest (by codes, then rows) first, ties
// by name.
std::vector<AreaTotal> totalsByCategory(const RowTable& table,
                                        const std::vector<PlacedEntry>& placed);

// The per-area table: "fips,abbr,name,codes,rows,sum", one line per total; the sum is empty
// when `withValues` is false. Fields holding a comma or a quote are quoted.
void writeAreaTable(std::ostream& out, const std::vector<Area>& areas,
                    const std::vector<AreaTotal>& totals, bool withValues);
// The category table: "category,codes,rows,sum".
void writeCategoryTable(std::ostream& out, const std::vector<AreaTotal>& totals, bool withValues);

}  // namespace zembra::render
