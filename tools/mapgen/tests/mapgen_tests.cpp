#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <zembra/draw/basemap.hpp>
#include <zembra/render/catalogue.hpp>
#include <zembra/runtime.hpp>

#include "marker.hpp"

using namespace zembra::mapgen;
using zembra::draw::Bounds;
using zembra::draw::heightForWidth;
using zembra::draw::MapStyle;
using zembra::draw::Projection;

namespace {

double colourDistance(QRgb a, const QColor& b) {
    const double dr = qRed(a) - b.red(), dg = qGreen(a) - b.green(), db = qBlue(a) - b.blue();
    return std::sqrt(dr * dr + dg * dg + db * db);
}

QColor qcolour(const zembra::draw::Colour& c) { return QColor(c.r, c.g, c.b); }

}  // namespace

TEST(Marker, EdgesAreWhiteOrTheMarkersOwnColours) {
    for (const MarkerShape shape : {MarkerShape::Dot, MarkerShape::Pin}) {
        for (const int size : {9, 11, 21}) {
            MarkerSpec spec;
            spec.shape = shape;
            spec.size = size;
            spec.fill = QColor(242, 197, 0);  // a light fill makes a white fringe easy to miss
            spec.outline = QColor(92, 74, 0);
            const QImage m = renderMarker(spec);
            ASSERT_EQ(m.format(), QImage::Format_RGB888);
            int white = 0;
            for (int y = 0; y < m.height(); ++y) {
                for (int x = 0; x < m.width(); ++x) {
                    const QRgb p = m.pixel(x, y);
                    if (p == qRgb(255, 255, 255)) {
                        ++white;
                        continue;
                    }
                    EXPECT_GT(colourDistance(p, Qt::white), 60)
                        << "near-white pixel at " << x << "," << y;
                }
            }
            EXPECT_GT(white, 0);
            // The engine centres the picture on the point; the centre pixel is the dot's
            // middle or the pin's tip.
            EXPECT_NE(m.pixel(m.width() / 2, m.height() / 2), qRgb(255, 255, 255));
            EXPECT_EQ(m.pixel(0, 0), qRgb(255, 255, 255));
            if (shape == MarkerShape::Dot) {
                EXPECT_EQ(m.size(), QSize(size, size));
            } else {
                EXPECT_EQ(m.width() % 2, 1);
                EXPECT_EQ(m.height(), 2 * size - 1);
                for (int x = 0; x < m.width(); ++x)
                    EXPECT_EQ(m.pixel(x, m.height() / 2 + 1), qRgb(255, 255, 255))
                        << "below the tip";
            }
        }
    }
}

TEST(Marker, ParsesShapesAndColours) {
    EXPECT_EQ(parseShape("PIN"), MarkerShape::Pin);
    EXPECT_EQ(parseColour("#d62728"), QColor(214, 39, 40));
    EXPECT_EQ(parseColour("000000"), QColor(0, 0, 0));
    EXPECT_THROW(parseShape("star"), zembra::Error);
    for (const char* bad : {"12345", "1234567", "gg0000", ""})
        EXPECT_THROW(parseColour(bad), zembra::Error) << bad;
    MarkerSpec tiny;
    tiny.size = 2;
    EXPECT_THROW(renderMarker(tiny), zembra::Error);
}

// The committed pictures: their sizes follow the tool's rule and well-known places carry
// the documented colours, at the pixel where the engine puts them.
TEST(ShippedMaps, PlacesLieOnTheRightColour) {
    enum Kind { Water, Us, Foreign };
    struct Place {
        double lat, lon;
        Kind kind;
        const char* what;
    };
    struct Map {
        const char* file;
        Bounds bounds;
        std::vector<Place> places;
    };
    const std::vector<Map> maps{
        {"usa.jpg",
         *zembra::render::boundsForMapName("usa.jpg"),
         {{38.5, -98.5, Us, "Kansas"},
          {33, -70, Water, "Atlantic"},
          {26, -90, Water, "Gulf of Mexico"},
          {43.8, -87.0, Water, "Lake Michigan"},
          {48.3, -87.5, Water, "Lake Superior, Canadian side"},
          {42.45, -81.0, Water, "Lake Erie, Canadian side"},
          {44.5, -77.5, Foreign, "Ontario"},
          {28, -106, Foreign, "Chihuahua"}}},
        {"alaska.jpg",
         *zembra::render::boundsForMapName("alaska.jpg"),
         {{64.84, -147.72, Us, "Fairbanks"},
          {66.5, -173, Foreign, "Chukotka"},
          {63, -135, Foreign, "Yukon"},
          {58, -175, Water, "Bering Sea"},
          {57, -145, Water, "Gulf of Alaska"}}},
        {"hawaii.jpg",
         *zembra::render::boundsForMapName("hawaii.jpg"),
         {{19.6, -155.5, Us, "Hawaii island"},
          {21.45, -157.97, Us, "Oahu"},
          {22.05, -159.5, Us, "Kauai"},
          {21.2, -157.5, Water, "Kaiwi Channel"}}},
    };
    const MapStyle style;
    const QColor colours[] = {qcolour(style.water), qcolour(style.usLand),
                              qcolour(style.foreignLand)};
    for (const Map& m : maps) {
        QImage img;
        ASSERT_TRUE(img.load(QStringLiteral(ZEMBRA_ASSETS_IMAGES "/Maps/") + m.file)) << m.file;
        EXPECT_EQ(img.height(), heightForWidth(m.bounds, img.width())) << m.file;
        for (const Place& p : m.places) {
            const auto px = Projection(m.bounds, img.width(), img.height()).toPixel({p.lon, p.lat});
            const QRgb c = img.pixel(static_cast<int>(std::nearbyint(px.x)),
                                     static_cast<int>(std::nearbyint(px.y)));
            EXPECT_LT(colourDistance(c, colours[p.kind]), 12) << m.file << ": " << p.what;
        }
    }
}
