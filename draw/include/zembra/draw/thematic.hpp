// Maps that show a pattern: markers coloured by category or sized by value, a kernel
// density, or states and counties filled by what falls in them, each with a legend, an
// optional title and a source line, drawn on any map picture.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/draw/boundaries.hpp>
#include <zembra/draw/canvas.hpp>
#include <zembra/render/areas.hpp>
#include <zembra/render/density.hpp>
#include <zembra/render/locate.hpp>
#include <zembra/render/palette.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/render/render.hpp>
#include <zembra/render/rows.hpp>

#include "imaging.hpp"

namespace zembra::draw {

enum class Style { Markers, Category, Value, Density, States, Counties };

// "markers", "category", "value", "density", "states", "counties"; raises error 5 for
// anything else, naming the styles.
Style parseStyle(std::string_view text);
std::string_view styleName(Style style) noexcept;
// The style names, for help texts: "markers|category|...".
std::string styleNames();

struct ThematicOptions {
    Style style = Style::Category;
    double bandwidth = 0;  // density, pixels; 0: render::defaultBandwidth for the codes shown
    render::Classing classing = render::Classing::Quantile;
    render::DensityScale scale = render::DensityScale::Logarithmic;
    std::string title;
    std::string subtitle;
    bool legend = true;
    // What the numbers are called in the legend: the value column's name, or empty for
    // counts of codes.
    std::string valueName;
    std::string categoryName;
};

// The style settings of the parameter table ("style", "category", "value", "bandwidth",
// "classes", "title", "subtitle", "legend"), checked together: nothing for the plain
// markers. Raises render::ParameterError for a value refused or a setting that does not go
// with the style (a category for another style, a bandwidth for another than density,
// a setting of the styles given with the plain markers).
std::optional<ThematicOptions> thematicOptions(const render::ParameterValues& values);

// The picture and the numbers behind it.
struct ThematicPicture {
    imaging::Picture picture;
    std::vector<render::AreaTotal> totals;  // per area (filled styles) or per category
    std::vector<render::Area> areas;        // the areas the totals index (filled styles)
};

// Draws the style onto `base`, a map showing `bounds`, for the placed entries of `rows`.
// Filled states and counties come from `boundaries`. Raises error 5 for Style::Markers,
// which the engine draws.
ThematicPicture drawThematic(const imaging::Picture& base, const Bounds& bounds,
                             const render::RowTable& rows,
                             const std::vector<render::PlacedEntry>& placed,
                             const ThematicOptions& options, BoundaryData& boundaries);

// The states (id, postal code, name) and counties of the boundary data as areas to count in.
std::vector<render::Area> stateAreas(BoundaryData& boundaries);
std::vector<render::Area> countyAreas(BoundaryData& boundaries);

// One thematic render from a row table to a picture file or bytes.
struct ThematicRequest {
    std::filesystem::path map;  // the map picture; unused when `base` is given
    std::optional<imaging::Picture> base;
    Bounds bounds;
    std::string connection;  // empty: the engine's default zip-code database
    bool towns = true;
    render::OutputFormat format = render::OutputFormat::Jpeg;
    std::optional<std::filesystem::path> output;  // nothing: the picture in memory
    std::optional<std::filesystem::path> table;   // the per-area or per-category table
    bool tableText = false;                       // the table also in the result, as text
    ThematicOptions options;
    std::filesystem::path boundaries;  // empty: defaultBoundaryDirectory()
};

struct ThematicResult {
    size_t requested = 0;  // distinct codes
    size_t rows = 0;       // rows read
    size_t placed = 0;
    std::vector<std::string> placedAtTown;         // placed at their post-office town
    std::vector<std::string> notFound;             // in the order of first appearance
    std::vector<std::string> outside;              // placed, but outside the map's bounds
    std::string table;                             // with tableText: the table's CSV
    std::vector<uint8_t> bytes;                    // when the request named no output
    std::optional<std::filesystem::path> written;  // when it named one
};

// Locates the codes of `rows`, draws, encodes and writes the picture (and the table). The
// table is written as "<output>.tmp" and renamed, so a failure leaves no half table.
ThematicResult renderThematic(const ThematicRequest& request, const render::RowTable& rows);

}  // namespace zembra::draw
