// The legend of a thematic map: a box of headings, swatches, size circles, a colour ramp,
// notes and the source line, measured first and then drawn in the corner of the picture
// that covers the fewest codes.
#pragma once

#include <functional>
#include <string>
#include <vector>
#include <zembra/draw/canvas.hpp>

namespace zembra::draw {

// 12345 as "12,345".
std::string withThousands(size_t n);

class Legend {
  public:
    explicit Legend(double textSize) : size_(textSize) {}

    void heading(std::string text);
    // A coloured circle or square, a label and a count on the right.
    void swatchCircle(Colour colour, std::string label, std::string count);
    void swatchBox(Colour colour, std::string label, std::string count);
    // Nested circles of the given values (largest first) with their labels.
    void sizeCircles(std::vector<double> values, std::function<double(double)> radius, Colour fill,
                     Colour outline, std::function<std::string(double)> label);
    // A horizontal bar of the ramp over 0..1 with labels at its ends.
    void ramp(std::function<Colour(double)> colour, std::string low, std::string high);
    void note(std::string text);
    void source(std::string text) { source_ = std::move(text); }

    // Draws the box in the corner whose box holds the fewest of `points`, keeping the top
    // left free when `titleAtTopLeft`. Without entries only the source line is drawn.
    void drawAvoiding(Canvas& canvas, const std::vector<PixelPoint>& points, bool titleTaken);

  private:
    enum class Kind { Heading, Circle, Box, Sizes, Ramp, Note };
    struct Item {
        Kind kind;
        std::string text;
        std::string count;
        Colour colour;
    };
    double itemHeight(const Item& item) const;
    double sizesHeight() const;

    double size_;
    std::vector<Item> items_;
    std::vector<double> sizeValues_;
    std::function<double(double)> sizeRadius_;
    Colour sizeFill_, sizeOutline_;
    std::function<std::string(double)> sizeLabel_;
    std::function<Colour(double)> rampColour_;
    std::string rampLow_, rampHigh_;
    std::string source_;
};

// The title (and subtitle) at the top of the picture, on a light band of their width, in
// the top corner that covers fewer of `points`; returns true when it went to the top left.
bool drawTitle(Canvas& canvas, const std::string& title, const std::string& subtitle, double size,
               const std::vector<PixelPoint>& points);

// How many of `points` lie in the rectangle.
size_t pointsIn(const std::vector<PixelPoint>& points, double x, double y, double w, double h);

}  // namespace zembra::draw
