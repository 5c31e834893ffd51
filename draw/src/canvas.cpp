#include <cairo.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <zembra/draw/canvas.hpp>
#include <zembra/runtime.hpp>

#include "imaging.hpp"

namespace zembra::draw {

// Cairo keeps a pixel as a native 32-bit 0x00RRGGBB: bytes B, G, R, x in memory here.
static_assert(std::endian::native == std::endian::little);

void Canvas::SurfaceDeleter::operator()(cairo_surface_t* s) const noexcept {
    cairo_surface_destroy(s);
}
void Canvas::ContextDeleter::operator()(cairo_t* c) const noexcept { cairo_destroy(c); }

namespace {

void checkSides(int width, int height) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
        throw Error::standard(err::kInvalidArgument, std::string(kSource),
                              "a picture of " + std::to_string(width) + " x " +
                                  std::to_string(height) + " pixels (each side 1 to " +
                                  std::to_string(kMaxSide) + ")");
}

}  // namespace

Canvas::Canvas(int width, int height, Colour background) : Canvas(width, height, background, {}) {}

Canvas::Canvas(int width, int height, Colour background, std::span<uint8_t> pixels,
               PixelOrder order)
    : width_(width), height_(height), order_(order) {
    checkSides(width, height);
    if (pixels.empty()) {
        surface_.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    } else {
        if (pixels.size() != size_t(width) * size_t(height) * 4 ||
            reinterpret_cast<uintptr_t>(pixels.data()) % 4 != 0)
            throw Error::standard(err::kInvalidArgument, std::string(kSource),
                                  "the memory for a picture does not fit it");
        // With alpha, so that the fourth byte is the opaque alpha the pictures want; over
        // an opaque background Cairo's colours come out as without it.
        const cairo_format_t format =
            order == PixelOrder::Rgba ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24;
        surface_.reset(
            cairo_image_surface_create_for_data(pixels.data(), format, width, height, width * 4));
    }
    if (cairo_surface_status(surface_.get()) != CAIRO_STATUS_SUCCESS)
        throw Error::standard(
            err::kInternal, std::string(kSource),
            "a picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    // Rows of exactly width * 4 bytes, so pixels() is the whole picture in one piece.
    if (cairo_image_surface_get_stride(surface_.get()) != width * 4)
        throw Error::standard(err::kInternal, std::string(kSource), "an unexpected row layout");
    cr_.reset(cairo_create(surface_.get()));
    if (cairo_status(cr_.get()) != CAIRO_STATUS_SUCCESS)
        throw Error::standard(err::kInternal, std::string(kSource), "a drawing context");
    setColour(background);
    cairo_paint(cr_.get());
    // Pixel i covers Cairo's i..i+1; the engine puts column i at its centre.
    cairo_translate(cr_.get(), 0.5, 0.5);
    cairo_set_antialias(cr_.get(), CAIRO_ANTIALIAS_DEFAULT);
}

Canvas::Canvas(Canvas&&) noexcept = default;
Canvas& Canvas::operator=(Canvas&&) noexcept = default;
Canvas::~Canvas() = default;

void Canvas::setColour(Colour c) {
    if (order_ == PixelOrder::Rgba) std::swap(c.r, c.b);
    cairo_set_source_rgba(cr_.get(), c.r / 255.0, c.g / 255.0, c.b / 255.0, c.alpha);
}

bool Canvas::addPath(const Line& line, const Projection& projection, bool close) {
    if (line.size() < 2) return false;
    const Bounds& view = projection.bounds();
    // A margin of a few pixels for strokes, in degrees.
    const double marginLon = 4 * std::abs(view.maxLon - view.minLon) / width_;
    const double marginLat = 4 * std::abs(view.maxLat - view.minLat) / height_;
    double minLon = line[0].lon, maxLon = minLon, minLat = line[0].lat, maxLat = minLat;
    for (const LonLat& p : line) {
        minLon = std::min(minLon, p.lon);
        maxLon = std::max(maxLon, p.lon);
        minLat = std::min(minLat, p.lat);
        maxLat = std::max(maxLat, p.lat);
    }
    // Most of the world's outlines lie far outside a map: they are left out before any
    // projecting. A ring outside changes the even-odd count only for points outside, so
    // a fill loses nothing by it.
    const double south = std::min(view.minLat, view.maxLat) - marginLat;
    const double north = std::max(view.minLat, view.maxLat) + marginLat;
    if (maxLat < south || minLat > north) return false;
    if (maxLon - minLon < 180) {
        const double shift = projection.wrapLon(line[0].lon) - line[0].lon;
        const double west = std::min(view.minLon, view.maxLon) - marginLon;
        const double east = std::max(view.minLon, view.maxLon) + marginLon;
        bool near = false;
        for (const double turn : {-360.0, 0.0, 360.0})
            near = near || (maxLon + shift + turn >= west && minLon + shift + turn <= east);
        if (!near) return false;
    }
    points_.clear();
    points_.reserve(line.size());
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (const LonLat& p : projection.wrap(line)) {
        const PixelPoint px = projection.toPixel(p);
        minX = std::min(minX, px.x);
        maxX = std::max(maxX, px.x);
        minY = std::min(minY, px.y);
        maxY = std::max(maxY, px.y);
        points_.push_back(px);
    }
    if (maxX < -4 || minX > width_ + 4 || maxY < -4 || minY > height_ + 4) return false;
    cairo_move_to(cr_.get(), points_.front().x, points_.front().y);
    for (size_t i = 1; i < points_.size(); ++i)
        cairo_line_to(cr_.get(), points_[i].x, points_[i].y);
    if (close) cairo_close_path(cr_.get());
    return true;
}

void Canvas::fillPolygons(const std::vector<std::vector<Polygon>>& groups,
                          const Projection& projection, Colour colour) {
    cairo_t* cr = cr_.get();
    setColour(colour);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    for (const auto& group : groups) {
        bool visible = false;
        for (const Polygon& polygon : group)
            for (const Line& ring : polygon)
                if (ring.size() >= 3 && addPath(ring, projection, true)) visible = true;
        if (visible) cairo_fill(cr);
    }
}

void Canvas::strokeLines(const std::vector<Line>& lines, const Projection& projection,
                         Colour colour, double width) {
    cairo_t* cr = cr_.get();
    setColour(colour);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (const Line& line : lines) {
        if (addPath(line, projection, false)) cairo_stroke(cr);
    }
}

void Canvas::circle(PixelPoint centre, double radius, Colour fill, Colour outline,
                    double outlineWidth) {
    cairo_t* cr = cr_.get();
    cairo_new_path(cr);
    cairo_arc(cr, centre.x, centre.y, radius, 0, 2 * 3.14159265358979323846);
    setColour(fill);
    if (outlineWidth > 0) {
        cairo_fill_preserve(cr);
        setColour(outline);
        cairo_set_line_width(cr, outlineWidth);
        cairo_stroke(cr);
    } else {
        cairo_fill(cr);
    }
}

void Canvas::text(PixelPoint origin, std::string_view utf8, double size, Colour colour) {
    cairo_t* cr = cr_.get();
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    setColour(colour);
    cairo_move_to(cr, origin.x, origin.y);
    const std::string text(utf8);
    cairo_show_text(cr, text.c_str());
    cairo_new_path(cr);
}

std::span<const uint8_t> Canvas::pixels() {
    cairo_surface_flush(surface_.get());
    return {cairo_image_surface_get_data(surface_.get()),
            static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4};
}

imaging::Picture Canvas::picture() {
    cairo_surface_flush(surface_.get());
    const unsigned char* data = cairo_image_surface_get_data(surface_.get());
    const int stride = cairo_image_surface_get_stride(surface_.get());
    imaging::Picture out;
    out.width = width_;
    out.height = height_;
    if (order_ == PixelOrder::Rgba) {
        const std::span<const uint8_t> bytes = pixels();
        out.rgba.assign(bytes.begin(), bytes.end());
        return out;
    }
    out.rgba.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4);
    uint8_t* dst = out.rgba.data();
    for (int y = 0; y < height_; ++y) {
        const auto* row =
            reinterpret_cast<const uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
        for (int x = 0; x < width_; ++x) {
            const uint32_t p = row[x];  // 0x00RRGGBB in native order
            *dst++ = static_cast<uint8_t>(p >> 16);
            *dst++ = static_cast<uint8_t>(p >> 8);
            *dst++ = static_cast<uint8_t>(p);
            *dst++ = 255;
        }
    }
    return out;
}

}  // namespace zembra::draw
