// Canvas operations of the thematic styles: starting from a map picture, compositing a
// density overlay, rectangles and measured text for legends.
#include <cairo.h>

#include <cstring>
#include <string>
#include <zembra/draw/canvas.hpp>
#include <zembra/runtime.hpp>

#include "imaging.hpp"

namespace zembra::draw {

Canvas::Canvas(const imaging::Picture& picture) : Canvas(picture.width, picture.height, Colour{}) {
    cairo_surface_flush(surface_.get());
    unsigned char* data = cairo_image_surface_get_data(surface_.get());
    const int stride = cairo_image_surface_get_stride(surface_.get());
    const uint8_t* src = picture.rgba.data();
    for (int y = 0; y < height_; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
        for (int x = 0; x < width_; ++x, src += 4) {
            row[x] = 0xFF000000u | (uint32_t(src[0]) << 16) | (uint32_t(src[1]) << 8) | src[2];
        }
    }
    cairo_surface_mark_dirty(surface_.get());
}

void Canvas::overlay(const std::vector<uint8_t>& premultipliedRgba) {
    const size_t expected = static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4;
    if (premultipliedRgba.size() != expected) {
        throw Error::standard(err::kInvalidArgument, std::string(kSource),
                              "an overlay of another size than the picture");
    }
    cairo_surface_flush(surface_.get());
    unsigned char* data = cairo_image_surface_get_data(surface_.get());
    const int stride = cairo_image_surface_get_stride(surface_.get());
    const uint8_t* src = premultipliedRgba.data();
    // The source's channel held in bits 16..23 of a pixel and the one in bits 0..7.
    const int high = order_ == PixelOrder::Rgba ? 2 : 0;
    const int low = 2 - high;
    for (int y = 0; y < height_; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
        for (int x = 0; x < width_; ++x, src += 4) {
            const uint32_t a = src[3];
            if (a == 0) continue;
            const uint32_t p = row[x];
            const auto over = [&](uint32_t dst, uint32_t s) {
                return s + (dst * (255 - a) + 127) / 255;
            };
            row[x] = 0xFF000000u | (over((p >> 16) & 0xFF, src[high]) << 16) |
                     (over((p >> 8) & 0xFF, src[1]) << 8) | over(p & 0xFF, src[low]);
        }
    }
    cairo_surface_mark_dirty(surface_.get());
}

void Canvas::rectangle(double x, double y, double w, double h, Colour fill, Colour outline,
                       double outlineWidth) {
    cairo_t* cr = cr_.get();
    cairo_new_path(cr);
    cairo_rectangle(cr, x, y, w, h);
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

double Canvas::textWidth(std::string_view utf8, double size, bool bold) {
    cairo_t* cr = cr_.get();
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    const std::string text(utf8);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    return extents.x_advance;
}

void Canvas::text(PixelPoint origin, std::string_view utf8, double size, Colour colour, bool bold) {
    cairo_t* cr = cr_.get();
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    setColour(colour);
    cairo_move_to(cr, origin.x, origin.y);
    const std::string text(utf8);
    cairo_show_text(cr, text.c_str());
    cairo_new_path(cr);
}

}  // namespace zembra::draw
