#include "marker.hpp"

#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <numbers>
#include <zembra/runtime.hpp>

namespace zembra::mapgen {

namespace {

[[noreturn]] void raise(int32_t number, std::string_view detail) {
    throw Error::standard(number, "zembra-mapgen", detail);
}

}  // namespace
namespace {

constexpr int kSuper = 8;  // subsamples per pixel side

// Mixes two colours; t = 0 gives a.
QColor mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// Reduces a supersampled drawing on a transparent background to whole pixels. A pixel
// less than half covered becomes pure white (transparent to the engine); any other takes
// the average colour of its covered subsamples only, so no edge fades towards white.
QImage downsample(const QImage& big, int w, int h) {
    QImage out(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < kSuper; ++sy) {
                const QRgb* line =
                    reinterpret_cast<const QRgb*>(big.constScanLine(y * kSuper + sy));
                for (int sx = 0; sx < kSuper; ++sx) {
                    const QRgb p = line[x * kSuper + sx];  // premultiplied
                    r += qRed(p);
                    g += qGreen(p);
                    b += qBlue(p);
                    a += qAlpha(p);
                }
            }
            QRgb colour = qRgb(255, 255, 255);
            if (a >= 0.5 * 255 * kSuper * kSuper) {
                colour = qRgb(static_cast<int>(std::lround(255 * r / a)),
                              static_cast<int>(std::lround(255 * g / a)),
                              static_cast<int>(std::lround(255 * b / a)));
                // Exactly white would be a hole in the marker.
                if (colour == qRgb(255, 255, 255)) colour = qRgb(254, 254, 254);
            }
            out.setPixel(x, y, colour);
        }
    }
    return out;
}

}  // namespace

MarkerShape parseShape(const QString& text) {
    if (text.compare("dot", Qt::CaseInsensitive) == 0) return MarkerShape::Dot;
    if (text.compare("pin", Qt::CaseInsensitive) == 0) return MarkerShape::Pin;
    raise(err::kInvalidArgument,
          "marker shape must be dot or pin, not \"" + text.toStdString() + "\"");
}

QColor parseColour(const QString& text) {
    QString t = text.trimmed();
    if (t.startsWith('#')) t.remove(0, 1);
    bool ok = t.size() == 6;
    const uint v = ok ? t.toUInt(&ok, 16) : 0;
    if (!ok)
        raise(err::kInvalidArgument,
              "colour must be six hex digits RRGGBB, not \"" + text.toStdString() + "\"");
    return QColor::fromRgb(v);
}

QImage renderMarker(const MarkerSpec& spec) {
    if (spec.size < 3 || spec.size > 101)
        raise(err::kInvalidArgument, "marker size must be 3..101 pixels");
    const double s = spec.size;
    int w = spec.size;
    int h = spec.size;
    if (spec.shape == MarkerShape::Pin) {
        w = static_cast<int>(std::lround(s * 0.62)) | 1;
        h = 2 * spec.size - 1;
    }
    QImage big(w * kSuper, h * kSuper, QImage::Format_ARGB32_Premultiplied);
    big.fill(Qt::transparent);
    QPainter painter(&big);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.scale(kSuper, kSuper);
    const double ring = std::max(1.0, s / 9.0);  // outline thickness in pixels

    if (spec.shape == MarkerShape::Dot) {
        const QRectF outer(0, 0, s, s);
        painter.setPen(Qt::NoPen);
        painter.setBrush(spec.outline);
        painter.drawEllipse(outer);
        painter.setBrush(spec.fill);
        painter.drawEllipse(outer.adjusted(ring, ring, -ring, -ring));
        // A soft highlight up and to the left gives the dot some body from 11 pixels up.
        if (spec.size >= 11) {
            const double r = s * 0.16;
            painter.setBrush(mix(spec.fill, Qt::white, 0.45));
            painter.drawEllipse(QPointF(s * 0.38, s * 0.36), r, r);
        }
    } else {
        // Round head on top, sides tangent to it running down to the tip at the bottom
        // of the picture's middle row.
        const double cx = w / 2.0;
        const double tipY = spec.size;
        const double radius = w / 2.0;
        const double cy = radius;
        const double d = tipY - cy;
        const double angle = std::asin(std::min(1.0, radius / d));
        QPainterPath pin;
        pin.moveTo(cx, tipY);
        const double tx = radius * std::cos(angle);
        const double ty = cy + radius * std::sin(angle);
        pin.lineTo(cx + tx, ty);
        const double startDeg =
            -angle * 180 / std::numbers::pi;  // right tangent point, Qt angles run anticlockwise
        pin.arcTo(QRectF(cx - radius, cy - radius, 2 * radius, 2 * radius), startDeg,
                  180 + 2 * angle * 180 / std::numbers::pi);
        pin.lineTo(cx, tipY);
        pin.closeSubpath();
        painter.setPen(Qt::NoPen);
        painter.setBrush(spec.outline);
        painter.drawPath(pin);
        // The fill is the same outline shrunk by the ring thickness.
        QPainterPathStroker stroker;
        stroker.setWidth(2 * ring);
        const QPainterPath inner = pin.subtracted(stroker.createStroke(pin));
        painter.setBrush(spec.fill);
        painter.drawPath(inner);
        painter.setBrush(mix(spec.fill, Qt::white, 0.55));
        painter.drawEllipse(QPointF(cx, cy), radius * 0.33, radius * 0.33);
    }
    painter.end();
    QImage out = downsample(big, w, h);
    // The tip is too thin to cover half its pixel, yet that pixel is the plotted point.
    if (spec.shape == MarkerShape::Pin) out.setPixelColor(w / 2, h / 2, spec.outline);
    return out;
}

}  // namespace zembra::mapgen
