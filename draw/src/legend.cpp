#include "legend.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace zembra::draw {

namespace {

constexpr Colour kText{30, 30, 30};
constexpr Colour kMuted{90, 90, 90};
constexpr Colour kPanel{255, 255, 255, 0.88};
constexpr Colour kPanelEdge{120, 120, 120};

struct Corner {
    bool right;
    bool bottom;
};

}  // namespace

std::string withThousands(size_t n) {
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, 1, ',');
    return digits;
}

size_t pointsIn(const std::vector<PixelPoint>& points, double x, double y, double w, double h) {
    return static_cast<size_t>(std::count_if(
        points.begin(), points.end(),
        [&](const PixelPoint& p) { return p.x >= x && p.x <= x + w && p.y >= y && p.y <= y + h; }));
}

void Legend::heading(std::string text) {
    items_.push_back({Kind::Heading, std::move(text), {}, {}});
}

void Legend::swatchCircle(Colour colour, std::string label, std::string count) {
    items_.push_back({Kind::Circle, std::move(label), std::move(count), colour});
}

void Legend::swatchBox(Colour colour, std::string label, std::string count) {
    items_.push_back({Kind::Box, std::move(label), std::move(count), colour});
}

void Legend::sizeCircles(std::vector<double> values, std::function<double(double)> radius,
                         Colour fill, Colour outline, std::function<std::string(double)> label) {
    sizeValues_ = std::move(values);
    sizeRadius_ = std::move(radius);
    sizeFill_ = fill;
    sizeOutline_ = outline;
    sizeLabel_ = std::move(label);
    items_.push_back({Kind::Sizes, {}, {}, {}});
}

void Legend::ramp(std::function<Colour(double)> colour, std::string low, std::string high) {
    rampColour_ = std::move(colour);
    rampLow_ = std::move(low);
    rampHigh_ = std::move(high);
    items_.push_back({Kind::Ramp, {}, {}, {}});
}

void Legend::note(std::string text) { items_.push_back({Kind::Note, std::move(text), {}, {}}); }

double Legend::sizesHeight() const {
    if (sizeValues_.empty()) return 0;
    return 2 * sizeRadius_(sizeValues_.front()) + size_ * 1.9;
}

double Legend::itemHeight(const Item& item) const {
    switch (item.kind) {
        case Kind::Heading:
            return size_ * 1.6;
        case Kind::Circle:
        case Kind::Box:
            return size_ * 1.45;
        case Kind::Sizes:
            return sizesHeight();
        case Kind::Ramp:
            return size_ * 2.9;
        case Kind::Note:
            return size_ * 1.3;
    }
    return 0;
}

void Legend::drawAvoiding(Canvas& canvas, const std::vector<PixelPoint>& points, bool titleTaken) {
    const double pad = size_ * 0.7;
    const double small = size_ * 0.8;
    const double swatch = size_ * 0.9;
    // Measure: the widest line decides the width.
    double labelWidth = 0, countWidth = 0, width = 0;
    for (const Item& item : items_) {
        switch (item.kind) {
            case Kind::Heading:
                width = std::max(width, canvas.textWidth(item.text, size_ * 1.05, true));
                break;
            case Kind::Circle:
            case Kind::Box:
                labelWidth = std::max(labelWidth, canvas.textWidth(item.text, size_));
                countWidth = std::max(countWidth, canvas.textWidth(item.count, size_));
                break;
            case Kind::Sizes: {
                // Side by side, each as wide as its circle or its label.
                double row = 0;
                for (const double v : sizeValues_) {
                    row += std::max(2 * sizeRadius_(v), canvas.textWidth(sizeLabel_(v), size_)) +
                           size_;
                }
                width = std::max(width, row);
                break;
            }
            case Kind::Ramp:
                width = std::max(width, size_ * 12);
                break;
            case Kind::Note:
                width = std::max(width, canvas.textWidth(item.text, small));
                break;
        }
    }
    width = std::max(width,
                     swatch + size_ * 0.6 + labelWidth + (countWidth > 0 ? size_ + countWidth : 0));
    if (!source_.empty()) width = std::max(width, canvas.textWidth(source_, small));
    double height = 0;
    for (const Item& item : items_) height += itemHeight(item);
    if (!source_.empty()) height += size_ * 1.4;
    const double boxW = width + 2 * pad;
    const double boxH = height + 2 * pad - size_ * 0.3;

    if (items_.empty()) {
        // Only the source line, at the bottom right, on a light band.
        const double w = canvas.textWidth(source_, small) + size_ * 0.8;
        const double x = canvas.width() - w - size_ * 0.3, y = canvas.height() - size_ * 1.5;
        canvas.rectangle(x, y, w, size_ * 1.3, kPanel, kPanel, 0);
        canvas.text({x + size_ * 0.4, y + size_ * 0.95}, source_, small, kMuted);
        return;
    }

    const double margin = size_ * 0.8;
    const std::array<Corner, 4> order{{{false, true}, {true, true}, {true, false}, {false, false}}};
    double bx = margin, by = canvas.height() - boxH - margin;
    size_t best = static_cast<size_t>(-1);
    for (const Corner& c : order) {
        if (titleTaken && !c.right && !c.bottom) continue;
        const double x = c.right ? canvas.width() - boxW - margin : margin;
        const double y = c.bottom ? canvas.height() - boxH - margin : margin;
        const size_t n = pointsIn(points, x, y, boxW, boxH);
        if (n < best) {
            best = n;
            bx = x;
            by = y;
        }
    }

    canvas.rectangle(bx, by, boxW, boxH, kPanel, kPanelEdge, 0.8);
    const double x = bx + pad;
    double y = by + pad;
    for (const Item& item : items_) {
        const double h = itemHeight(item);
        switch (item.kind) {
            case Kind::Heading:
                canvas.text({x, y + size_ * 1.05}, item.text, size_ * 1.05, kText, true);
                break;
            case Kind::Circle:
            case Kind::Box: {
                const double cy = y + size_ * 0.62;
                if (item.kind == Kind::Circle) {
                    canvas.circle({x + swatch / 2, cy}, swatch / 2 - 0.5, item.colour, {40, 40, 40},
                                  0.8);
                } else {
                    canvas.rectangle(x, cy - swatch / 2, swatch, swatch, item.colour,
                                     {110, 110, 110}, 0.6);
                }
                canvas.text({x + swatch + size_ * 0.6, y + size_ * 1.0}, item.text, size_, kText);
                if (!item.count.empty()) {
                    canvas.text(
                        {bx + boxW - pad - canvas.textWidth(item.count, size_), y + size_ * 1.0},
                        item.count, size_, kMuted);
                }
                break;
            }
            case Kind::Sizes: {
                if (sizeValues_.empty()) break;
                const double baseY = y + 2 * sizeRadius_(sizeValues_.front()) + size_ * 0.3;
                double cx = x;
                for (const double v : sizeValues_) {
                    const double r = sizeRadius_(v);
                    const std::string text = sizeLabel_(v);
                    const double w = std::max(2 * r, canvas.textWidth(text, size_));
                    canvas.circle({cx + w / 2, baseY - r}, r, sizeFill_, sizeOutline_, 0.8);
                    canvas.text({cx + (w - canvas.textWidth(text, size_)) / 2, baseY + size_ * 1.3},
                                text, size_, kText);
                    cx += w + size_;
                }
                break;
            }
            case Kind::Ramp: {
                const double w = width;
                const int steps = std::max(1, static_cast<int>(w));
                for (int i = 0; i < steps; ++i) {
                    canvas.rectangle(x + i * w / steps, y + size_ * 0.2, w / steps + 0.6, size_,
                                     rampColour_((i + 0.5) / steps), {0, 0, 0, 0}, 0);
                }
                canvas.rectangle(x, y + size_ * 0.2, w, size_, {0, 0, 0, 0}, {110, 110, 110}, 0.6);
                canvas.text({x, y + size_ * 2.4}, rampLow_, small, kMuted);
                canvas.text({x + w - canvas.textWidth(rampHigh_, small), y + size_ * 2.4},
                            rampHigh_, small, kMuted);
                break;
            }
            case Kind::Note:
                canvas.text({x, y + size_ * 0.95}, item.text, small, kMuted);
                break;
        }
        y += h;
    }
    if (!source_.empty()) canvas.text({x, y + size_ * 1.0}, source_, small, kMuted);
}

bool drawTitle(Canvas& canvas, const std::string& title, const std::string& subtitle, double size,
               const std::vector<PixelPoint>& points) {
    if (title.empty() && subtitle.empty()) return false;
    const double big = size * 1.6;
    const double pad = size * 0.6;
    const double w =
        std::max(canvas.textWidth(title, big, true), canvas.textWidth(subtitle, size * 1.1)) +
        2 * pad;
    const double h = (title.empty() ? 0 : big * 1.3) + (subtitle.empty() ? 0 : size * 1.5) + pad;
    const double margin = size * 0.8;
    const double leftX = margin, rightX = canvas.width() - w - margin;
    const bool left =
        pointsIn(points, leftX, margin, w, h) <= pointsIn(points, rightX, margin, w, h);
    const double x = left ? leftX : rightX;
    canvas.rectangle(x, margin, w, h, kPanel, kPanel, 0);
    double y = margin + pad * 0.6;
    if (!title.empty()) {
        y += big;
        canvas.text({x + pad, y}, title, big, kText, true);
        y += big * 0.3;
    }
    if (!subtitle.empty()) canvas.text({x + pad, y + size * 1.15}, subtitle, size * 1.1, kMuted);
    return left;
}

}  // namespace zembra::draw
