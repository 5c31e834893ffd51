// A picture to draw on: a Cairo image surface with anti-aliased fills, strokes, circles
// and text in pixel coordinates whose pixel (i, j) is centred on (i, j), as the engine
// places points. Geographic shapes go through a Projection first.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>
#include <zembra/draw/geo.hpp>

using cairo_t = struct _cairo;
using cairo_surface_t = struct _cairo_surface;

namespace zembra::imaging {
struct Picture;
}

namespace zembra::draw {

struct Colour {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    double alpha = 1;
    friend bool operator==(const Colour&, const Colour&) = default;
};

// How a canvas keeps its pixels in memory: Cairo's own order (bytes blue, green, red and
// one unused), or the decoded pictures' red, green, blue and opaque alpha, drawn as such by
// giving Cairo every colour with red and blue exchanged.
enum class PixelOrder { Bgrx, Rgba };

class Canvas {
  public:
    // A width x height picture filled with `background`. Raises error 5 for a side
    // outside 1..kMaxSide and error 51 when the surface cannot be made.
    Canvas(int width, int height, Colour background);
    // The same, drawing into `pixels` (width * height * 4 bytes, 4-byte aligned, rows from
    // the top, each pixel in `order`), which must outlive the canvas.
    Canvas(int width, int height, Colour background, std::span<uint8_t> pixels,
           PixelOrder order = PixelOrder::Bgrx);
    // A canvas holding a copy of the picture (its alpha is ignored).
    explicit Canvas(const imaging::Picture& picture);
    Canvas(Canvas&&) noexcept;
    Canvas& operator=(Canvas&&) noexcept;
    ~Canvas();

    int width() const { return width_; }
    int height() const { return height_; }

    // Fills each group of polygons as one shape, holes cut by the even-odd rule whatever
    // the rings' orientation. Groups entirely outside the picture are skipped.
    void fillPolygons(const std::vector<std::vector<Polygon>>& groups, const Projection& projection,
                      Colour colour);
    // Strokes the lines, `width` pixels wide, with round joins and caps.
    void strokeLines(const std::vector<Line>& lines, const Projection& projection, Colour colour,
                     double width);
    // A filled circle of `radius` pixels, with an outline of `outlineWidth` when it is > 0.
    void circle(PixelPoint centre, double radius, Colour fill, Colour outline,
                double outlineWidth = 0);
    // Text in the DejaVu Sans face with its baseline starting at `origin`.
    void text(PixelPoint origin, std::string_view utf8, double size, Colour colour);
    // The same in the bold face when `bold` is set.
    void text(PixelPoint origin, std::string_view utf8, double size, Colour colour, bool bold);
    // The advance width of the text in pixels.
    double textWidth(std::string_view utf8, double size, bool bold = false);
    // A rectangle, filled, and outlined when `outlineWidth` > 0.
    void rectangle(double x, double y, double w, double h, Colour fill, Colour outline,
                   double outlineWidth);
    // Composites a raster of the canvas's size, RGBA premultiplied by alpha, over the picture.
    void overlay(const std::vector<uint8_t>& premultipliedRgba);

    // The picture drawn so far, 8-bit RGBA with opaque alpha.
    imaging::Picture picture();
    // The picture drawn so far as the canvas holds it: rows from the top, each pixel four
    // bytes in the canvas's pixel order.
    std::span<const uint8_t> pixels();
    PixelOrder order() const { return order_; }

  private:
    struct SurfaceDeleter {
        void operator()(cairo_surface_t* s) const noexcept;
    };
    struct ContextDeleter {
        void operator()(cairo_t* c) const noexcept;
    };
    void setColour(Colour colour);
    // Adds the projected line to the current path; false when it is entirely outside.
    bool addPath(const Line& line, const Projection& projection, bool close);

    int width_ = 0;
    int height_ = 0;
    PixelOrder order_ = PixelOrder::Bgrx;
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface_;
    std::unique_ptr<cairo_t, ContextDeleter> cr_;
    std::vector<PixelPoint> points_;  // the path being added, reused
};

}  // namespace zembra::draw
