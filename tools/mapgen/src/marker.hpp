// Marker pictures for the overlay list: dots and pins on pure white, which the engine
// treats as transparent. There is no alpha channel, so edges are never blended towards
// white: a pixel is either fully white or a mix of the marker's own colours.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>

namespace zembra::mapgen {

enum class MarkerShape { Dot, Pin };

struct MarkerSpec {
    MarkerShape shape = MarkerShape::Dot;
    int size = 11;  // dot: diameter; pin: height from the top of the head to the tip
    QColor fill{214, 39, 40};
    QColor outline{70, 16, 16};
};

// Parses "dot" or "pin". Raises error 5 for anything else.
MarkerShape parseShape(const QString& text);

// Parses "RRGGBB" or "#RRGGBB". Raises error 5 for anything else.
QColor parseColour(const QString& text);

// Draws the marker (RGB888). A dot is size x size; a pin is an odd width by 2*size-1
// high, with its tip on the centre pixel, because the engine centres the marker picture
// on the plotted point. Raises error 5 when size is outside 3..101.
QImage renderMarker(const MarkerSpec& spec);

}  // namespace zembra::mapgen
