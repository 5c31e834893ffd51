#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <zembra/draw/regionmap.hpp>
#include <zembra/draw/thematic.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/runtime.hpp>

#include "imaging.hpp"
#include "legend.hpp"

namespace zembra::draw {

namespace fs = std::filesystem;
using render::AreaTotal;
using render::PlacedEntry;
using render::Rgb;

namespace {

// The style row's choices are the names of the styles, in the order of Style.
const render::Parameter& styleRow() { return render::parameter("style"); }

// The shipped maps' land: the class colours keep their distance from it.
constexpr Rgb kLand{240, 235, 220};

Colour colourOf(const Rgb& c, double alpha = 1) { return {c.r, c.g, c.b, alpha}; }

// The size of text, circles and legend for a map of this width: the 2000-pixel USA map
// gets 14-pixel text.
double textSizeFor(int width) { return std::clamp(width / 140.0, 11.0, 20.0); }

std::vector<PixelPoint> project(const std::vector<PlacedEntry>& placed, const Projection& p) {
    std::vector<PixelPoint> out;
    out.reserve(placed.size());
    for (const PlacedEntry& e : placed) out.push_back(p.toPixel({e.position.lon, e.position.lat}));
    return out;
}

// The value a code is sized, weighted or counted by: its values' sum with a value column,
// else its rows.
double measureOf(const render::CodeRows& e, bool withValues) {
    return withValues ? e.sum : static_cast<double>(e.rows);
}

bool hasValues(const render::RowTable& rows) {
    return std::any_of(rows.entries().begin(), rows.entries().end(),
                       [](const render::CodeRows& e) { return e.valued > 0; });
}

// The largest of 1, 2 and 5 times a power of ten that is at most v.
double niceFloor(double v) {
    if (!(v > 0)) return 0;
    const double p = std::pow(10.0, std::floor(std::log10(v)));
    for (const double m : {5.0, 2.0, 1.0}) {
        if (m * p <= v * (1 + 1e-9)) return m * p;
    }
    return p;
}

// A number for the legend: whole from 100 on, else three significant digits.
std::string label(double v) {
    if (std::abs(v) >= 100) return formatNumber(std::round(v));
    if (v == 0) return "0";
    const double scale = std::pow(10.0, 2 - std::floor(std::log10(std::abs(v))));
    return formatNumber(std::round(v * scale) / scale);
}

std::string rangeLabel(double lo, double hi) {
    return lo == hi ? label(lo) : label(lo) + " \xE2\x80\x93 " + label(hi);  // en dash
}

std::vector<std::vector<Polygon>> polygonsOf(const std::vector<Feature>& features,
                                             const std::vector<size_t>& which) {
    std::vector<std::vector<Polygon>> out;
    out.reserve(which.size());
    for (const size_t i : which) out.push_back(features[i].polygons);
    return out;
}

std::vector<render::Area> areasOf(const std::vector<Feature>& features, bool counties) {
    std::vector<render::Area> out;
    for (const Feature& f : features) {
        render::Area a;
        a.fips = f.id;
        a.name = f.name;
        const StateInfo* state = nullptr;
        for (const StateInfo& s : states()) {
            if (f.id.substr(0, 2) == s.fips) state = &s;
        }
        if (state != nullptr) {
            a.abbr = std::string(state->postal);
            if (!counties) a.name = std::string(state->name);
        }
        for (const Polygon& polygon : f.polygons) {
            for (const Line& line : polygon) {
                render::Ring ring;
                ring.reserve(line.size());
                for (const LonLat& p : line) ring.push_back({p.lat, p.lon});
                a.rings.push_back(std::move(ring));
            }
        }
        out.push_back(std::move(a));
    }
    return out;
}

void writeFile(const fs::path& path, const std::string_view bytes) {
    const fs::path temp = path.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) throw fileError(errno, "zembra", temp.string(), temp.string());
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            const int saved = errno;
            std::remove(temp.c_str());
            throw fileError(saved, "zembra", temp.string(), temp.string());
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        std::remove(temp.c_str());
        throw fileError(saved, "zembra", path.string(), path.string());
    }
}

// Circle radius of the category markers: 3.5 pixels on the 2000-pixel USA map.
double markerRadius(int width) { return std::clamp(width / 570.0, 2.5, 7.0); }

void drawCategories(Canvas& canvas, const render::RowTable& rows,
                    const std::vector<PlacedEntry>& placed, const std::vector<PixelPoint>& px,
                    const std::vector<AreaTotal>& totals, Legend& legend,
                    const ThematicOptions& options) {
    std::unordered_map<std::string_view, size_t> rank;
    for (size_t i = 0; i < totals.size(); ++i) rank.emplace(totals[i].category, i);
    const double r = markerRadius(canvas.width());
    // The largest categories first, so that the smaller ones stay visible on top.
    std::vector<size_t> order(placed.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto rankOf = [&](size_t i) { return rank.at(rows.entries()[placed[i].entry].category); };
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return rankOf(a) < rankOf(b); });
    for (const size_t i : order) {
        const Rgb c = render::categoryColour(rankOf(i));
        canvas.circle(px[i], r, colourOf(c), colourOf(render::kMarkerOutline), 0.7);
    }
    legend.heading(options.categoryName.empty() ? "Category" : options.categoryName);
    size_t otherCodes = 0, others = 0;
    for (size_t i = 0; i < totals.size(); ++i) {
        const std::string name = totals[i].category.empty() ? "(none)" : totals[i].category;
        if (i < render::kCategoryColours.size()) {
            legend.swatchCircle(colourOf(render::categoryColour(i)), name,
                                withThousands(totals[i].codes));
        } else {
            otherCodes += totals[i].codes;
            ++others;
        }
    }
    if (others > 0) {
        legend.swatchCircle(colourOf(render::kOtherCategory),
                            std::to_string(others) + " other" + (others == 1 ? "" : "s"),
                            withThousands(otherCodes));
    }
}

void drawValues(Canvas& canvas, const render::RowTable& rows,
                const std::vector<PlacedEntry>& placed, const std::vector<PixelPoint>& px,
                Legend& legend, const ThematicOptions& options) {
    const bool withValues = hasValues(rows);
    double top = 0;
    for (const PlacedEntry& p : placed)
        top = std::max(top, measureOf(rows.entries()[p.entry], withValues));
    // The largest circle: a 60th of the width, less when many circles share the picture
    // (some 10 pixels for every code on the USA map).
    const double crowd = 1.4 * std::sqrt(double(canvas.width()) * canvas.height() /
                                         double(std::max<size_t>(placed.size(), 1)));
    const double maxRadius = std::clamp(std::min(canvas.width() / 60.0, crowd), 6.0, 60.0);
    const auto radiusOf = [top, maxRadius](double v) {
        return top > 0 ? maxRadius * std::sqrt(v / top) : 0;
    };
    std::vector<size_t> order;
    for (size_t i = 0; i < placed.size(); ++i) {
        if (measureOf(rows.entries()[placed[i].entry], withValues) > 0) order.push_back(i);
    }
    // Largest first, so that small circles are drawn over the large ones.
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return measureOf(rows.entries()[placed[a].entry], withValues) >
               measureOf(rows.entries()[placed[b].entry], withValues);
    });
    const Colour fill = colourOf(render::kCategoryColours[3], 0.6);
    for (const size_t i : order) {
        const double r =
            std::max(1.5, radiusOf(measureOf(rows.entries()[placed[i].entry], withValues)));
        canvas.circle(px[i], r, fill, colourOf(render::kMarkerOutline, 0.9), 0.7);
    }
    legend.heading(withValues ? (options.valueName.empty() ? "Value" : options.valueName)
                              : "Rows per zip code");
    const double big = niceFloor(top);
    std::vector<double> sizes;
    for (const double v : {big, niceFloor(big / 4), niceFloor(big / 16)}) {
        if (v > 0 && (sizes.empty() || v < sizes.back())) sizes.push_back(v);
    }
    legend.sizeCircles(
        sizes, [radiusOf](double v) { return std::max(1.5, radiusOf(v)); }, fill,
        colourOf(render::kMarkerOutline, 0.9), label);
    if (order.size() < placed.size()) {
        legend.note(withThousands(placed.size() - order.size()) +
                    " with no positive value not drawn");
    }
}

void drawDensity(Canvas& canvas, const render::RowTable& rows,
                 const std::vector<PlacedEntry>& placed, const std::vector<PixelPoint>& px,
                 Legend& legend, const ThematicOptions& options) {
    const bool withValues = hasValues(rows);
    std::vector<render::WeightedPixel> points;
    double total = 0;
    size_t counted = 0;
    for (size_t i = 0; i < placed.size(); ++i) {
        const double w = measureOf(rows.entries()[placed[i].entry], withValues);
        points.push_back({px[i].x, px[i].y, w});
        if (w > 0) {
            total += w;
            ++counted;
        }
    }
    const double bandwidth =
        options.bandwidth > 0 ? options.bandwidth
                              : render::defaultBandwidth(points, canvas.width(), canvas.height());
    const render::DensityGrid grid(points, canvas.width(), canvas.height(), bandwidth);
    const double mean = counted > 0 ? total / double(counted) : 1;
    canvas.overlay(render::densityOverlay(grid, mean, options.scale));
    legend.heading(withValues ? "Density of " + (options.valueName.empty() ? std::string("value")
                                                                           : options.valueName)
                              : "Density of zip codes");
    legend.ramp([](double t) { return colourOf(render::densityRamp(t)); }, "low", "high");
    legend.note(std::string(options.scale == render::DensityScale::Equalised ? "equalised"
                                                                             : "logarithmic") +
                " scale, bandwidth " + formatNumber(std::round(bandwidth * 10) / 10) + " px");
}

struct FilledAreas {
    std::vector<AreaTotal> totals;
    std::vector<render::Area> areas;
};

FilledAreas drawFilled(Canvas& canvas, const Projection& projection, const render::RowTable& rows,
                       const std::vector<PlacedEntry>& placed, Legend& legend,
                       const ThematicOptions& options, BoundaryData& boundaries) {
    const bool counties = options.style == Style::Counties;
    const Topology& topology = counties ? boundaries.counties() : boundaries.states();
    const std::vector<Feature> features = topology.features(counties ? "counties" : "states");
    FilledAreas out;
    out.areas = areasOf(features, counties);
    const render::AreaIndex index(out.areas);
    out.totals = render::totalsByArea(index, rows, placed);

    const bool withValues = hasValues(rows);
    const auto measure = [&](const AreaTotal& t) {
        return withValues ? t.sum : static_cast<double>(t.codes);
    };
    std::vector<double> values;
    for (const AreaTotal& t : out.totals) values.push_back(measure(t));
    const render::Classes classes = render::classify(values, render::kClasses, options.classing);
    const auto ramp = render::classColours(render::kNoDataColour, kLand);
    // Fewer classes than colours spread over the ramp, keeping its lightest and darkest.
    const auto colourOfClass = [&](size_t c) {
        const size_t n = classes.upper.size();
        const size_t at = n <= 1 ? ramp.size() - 1 : c * (ramp.size() - 1) / (n - 1);
        return ramp[at];
    };
    std::vector<std::vector<size_t>> byClass(std::max<size_t>(classes.upper.size(), 1));
    std::vector<bool> hasData(features.size(), false);
    for (const AreaTotal& t : out.totals) {
        hasData[t.area] = true;
        byClass[classes.classOf(measure(t))].push_back(t.area);
    }
    std::vector<size_t> empty;
    for (size_t i = 0; i < features.size(); ++i) {
        if (!hasData[i]) empty.push_back(i);
    }
    canvas.fillPolygons(polygonsOf(features, empty), projection, colourOf(render::kNoDataColour));
    for (size_t c = 0; c < classes.upper.size(); ++c) {
        canvas.fillPolygons(polygonsOf(features, byClass[c]), projection,
                            colourOf(colourOfClass(c)));
    }
    if (counties) {
        canvas.strokeLines(
            topology.mesh("counties", [](const Feature& a, const Feature& b) { return &a != &b; }),
            projection, {255, 255, 255, 0.6}, 0.3);
    }
    const Topology& stateTopology = boundaries.states();
    canvas.strokeLines(
        stateTopology.mesh("states", [](const Feature&, const Feature&) { return true; }),
        projection, {255, 255, 255, 0.9}, counties ? 0.9 : 0.8);

    const std::string what = withValues
                                 ? (options.valueName.empty() ? "Sum of values" : options.valueName)
                                 : "Zip codes";
    legend.heading(what + (counties ? " per county" : " per state"));
    for (size_t c = classes.upper.size(); c-- > 0;) {
        const size_t count = byClass[c].size();
        legend.swatchBox(colourOf(colourOfClass(c)), rangeLabel(classes.lower[c], classes.upper[c]),
                         withThousands(count) + (counties ? (count == 1 ? " county" : " counties")
                                                          : (count == 1 ? " state" : " states")));
    }
    legend.swatchBox(colourOf(render::kNoDataColour), "no data", "");
    legend.note(std::string(options.classing == render::Classing::Quantile ? "quantile"
                                                                           : "equal-interval") +
                " classes");
    return out;
}

}  // namespace

Style parseStyle(std::string_view text) {
    const auto& choices = styleRow().choices;
    for (size_t i = 0; i < choices.size(); ++i) {
        if (text == choices[i].value) return static_cast<Style>(i);
    }
    throw Error::standard(err::kInvalidArgument, "zembra",
                          "style '" + std::string(text) + "': expected one of " + styleNames());
}

std::string_view styleName(Style style) noexcept {
    const auto& choices = styleRow().choices;
    const auto at = static_cast<size_t>(style);
    return at < choices.size() ? std::string_view(choices[at].value) : "markers";
}

std::string styleNames() {
    std::string out;
    for (const auto& c : styleRow().choices) out += (out.empty() ? "" : "|") + c.value;
    return out;
}

std::optional<ThematicOptions> thematicOptions(const render::ParameterValues& values) {
    using render::parameter;
    using render::ParameterError;
    const auto given = [&](const char* name) { return values.given(name); };
    const auto refuse = [&](const char* name, const std::string& problem) {
        return ParameterError(parameter(name), values.text(name), problem);
    };
    const auto style = static_cast<Style>(render::choiceValue(styleRow(), values.text("style")));
    if (style == Style::Markers) {
        // A setting at its default changes nothing, so a form that sends every field is
        // answered; any other is a mistake worth saying.
        for (const render::Parameter& p : render::renderParameters()) {
            if (!p.styling || p.name == "style" || !values.given(p.name)) continue;
            if (values.text(p.name) == p.defaultValue) continue;
            throw ParameterError(p, values.text(p.name), "goes with a style other than markers");
        }
        return std::nullopt;
    }
    ThematicOptions options;
    options.style = style;
    options.categoryName = values.text("category");
    options.valueName = values.text("value");
    if (style == Style::Category && options.categoryName.empty()) {
        throw refuse("style", "needs the column of the categories (category)");
    }
    if (given("category") && style != Style::Category) {
        throw refuse("category", "goes with the category style");
    }
    if (given("bandwidth")) {
        options.bandwidth = static_cast<double>(
            render::countValue(parameter("bandwidth"), values.text("bandwidth")));
        if (style != Style::Density) throw refuse("bandwidth", "goes with the density style");
    }
    options.classing = static_cast<render::Classing>(
        render::choiceValue(parameter("classes"), values.text("classes")));
    if (values.text("classes") != parameter("classes").defaultValue && style != Style::States &&
        style != Style::Counties) {
        throw refuse("classes", "goes with the states and counties styles");
    }
    options.title = values.text("title");
    options.subtitle = values.text("subtitle");
    options.legend = render::switchValue(parameter("legend"), values.text("legend"));
    return options;
}

std::vector<render::Area> stateAreas(BoundaryData& boundaries) {
    return areasOf(boundaries.states().features("states"), false);
}

std::vector<render::Area> countyAreas(BoundaryData& boundaries) {
    return areasOf(boundaries.counties().features("counties"), true);
}

ThematicPicture drawThematic(const imaging::Picture& base, const Bounds& bounds,
                             const render::RowTable& rows, const std::vector<PlacedEntry>& placed,
                             const ThematicOptions& options, BoundaryData& boundaries) {
    if (options.style == Style::Markers) {
        throw Error::standard(err::kInvalidArgument, "zembra",
                              "the plain markers are drawn by the engine");
    }
    Canvas canvas(base);
    const Projection projection(bounds, canvas.width(), canvas.height());
    const std::vector<PixelPoint> px = project(placed, projection);
    Legend legend(textSizeFor(canvas.width()));
    ThematicPicture out;
    switch (options.style) {
        case Style::Category:
            out.totals = render::totalsByCategory(rows, placed);
            drawCategories(canvas, rows, placed, px, out.totals, legend, options);
            break;
        case Style::Value:
            drawValues(canvas, rows, placed, px, legend, options);
            break;
        case Style::Density:
            drawDensity(canvas, rows, placed, px, legend, options);
            break;
        case Style::States:
        case Style::Counties: {
            FilledAreas filled =
                drawFilled(canvas, projection, rows, placed, legend, options, boundaries);
            out.totals = std::move(filled.totals);
            out.areas = std::move(filled.areas);
            break;
        }
        case Style::Markers:
            break;
    }
    const bool filledStyle = options.style == Style::States || options.style == Style::Counties;
    const bool titleLeft =
        drawTitle(canvas, options.title, options.subtitle, textSizeFor(canvas.width()), px);
    if (!options.legend) legend = Legend(textSizeFor(canvas.width()));  // the source line only
    legend.source(filledStyle ? "Outlines: US Census Bureau (us-atlas)"
                              : "Zip positions: US Census ZCTA centroids");
    legend.drawAvoiding(canvas, px, titleLeft);
    out.picture = canvas.picture();
    return out;
}

ThematicResult renderThematic(const ThematicRequest& request, const render::RowTable& rows) {
    ThematicResult result;
    result.rows = rows.rowCount();
    const std::vector<std::string> codes = rows.codes();
    result.requested = codes.size();
    const render::Locations locations =
        render::locate(codes, request.connection, request.towns, request.exact);
    const Bounds& b = request.bounds;
    std::vector<render::LatLon> outsidePositions;
    std::vector<render::OutsideCode> outsideCodes;
    for (const render::Located& l : locations.placed) {
        const std::string& code = codes[l.index];
        const bool inside = l.position.lat >= std::min(b.minLat, b.maxLat) &&
                            l.position.lat <= std::max(b.minLat, b.maxLat) &&
                            l.position.lon >= std::min(b.minLon, b.maxLon) &&
                            l.position.lon <= std::max(b.minLon, b.maxLon);
        if (!inside) {
            result.outside.push_back(code);
            if (outsidePositions.size() < render::kMaxSuggestionLookups) {
                outsidePositions.push_back(l.position);
                outsideCodes.push_back({l.position, l.state});
            }
        } else if (l.atTown) {
            result.placedAtTown.push_back(code);
        } else if (l.rewrite == render::Rewrite::DropPlus4) {
            result.placedWithoutPlus4.push_back(code);
        } else if (l.rewrite == render::Rewrite::RestoreZeros) {
            result.placedWithZeros.push_back(code);
        } else {
            ++result.placedAtArea;
        }
    }
    result.suggestions = render::suggestMaps(outsidePositions, b);
    result.suggestedRegion = render::suggestRegion(outsideCodes, b);
    result.notFound = locations.notFound;
    const std::vector<PlacedEntry> placed = render::placeEntries(rows, locations);

    BoundaryData boundaries(request.boundaries.empty() ? defaultBoundaryDirectory()
                                                       : request.boundaries);
    const imaging::Picture base =
        request.base ? *request.base : imaging::readPicture(request.map.string());
    const ThematicPicture drawn =
        drawThematic(base, request.bounds, rows, placed, request.options, boundaries);
    const std::vector<uint8_t> bytes =
        imaging::encode(drawn.picture, imagingFormat(request.format));

    if (request.table || request.tableText) {
        std::ostringstream table;
        const bool withValues = hasValues(rows);
        if (request.options.style == Style::Category) {
            render::writeCategoryTable(table, drawn.totals, withValues);
        } else if (!drawn.areas.empty()) {
            render::writeAreaTable(table, drawn.areas, drawn.totals, withValues);
        } else {
            // Sized markers and density: the numbers per state.
            const render::AreaIndex index(stateAreas(boundaries));
            render::writeAreaTable(table, index.areas(), render::totalsByArea(index, rows, placed),
                                   withValues);
        }
        if (request.table) writeFile(*request.table, table.str());
        if (request.tableText) result.table = table.str();
    }
    if (request.output) {
        writeFile(*request.output,
                  std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        result.written = *request.output;
    } else {
        result.bytes = bytes;
    }
    return result;
}

}  // namespace zembra::draw
