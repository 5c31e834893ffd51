#include "render.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>

namespace zembra::mapgen {
namespace {

const QString kUnitedStates = QStringLiteral("840");

QPolygonF toPolygon(const Line& line, const Projection& proj) {
    const Line wrapped = proj.wrap(line);
    QPolygonF poly;
    poly.reserve(static_cast<qsizetype>(wrapped.size()));
    for (const LonLat& p : wrapped) poly.append(proj.toPixel(p));
    return poly;
}

void fillFeatures(QPainter& painter, const std::vector<std::vector<Polygon>>& features,
                  const Projection& proj, const QColor& colour) {
    const QRectF view(-2, -2, proj.width() + 4, proj.height() + 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    for (const auto& feature : features) {
        // Holes are cut by the even-odd rule, whatever the rings' orientation.
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        for (const Polygon& polygon : feature) {
            for (const Line& ring : polygon) {
                const QPolygonF poly = toPolygon(ring, proj);
                if (poly.size() >= 3 && poly.boundingRect().intersects(view)) path.addPolygon(poly);
            }
        }
        if (!path.isEmpty()) painter.drawPath(path);
    }
}

void strokeLines(QPainter& painter, const std::vector<Line>& lines, const Projection& proj,
                 const QColor& colour, double width) {
    const QRectF view(-2, -2, proj.width() + 4, proj.height() + 4);
    QPen pen(colour, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    for (const Line& line : lines) {
        const QPolygonF poly = toPolygon(line, proj);
        if (poly.size() >= 2 && poly.boundingRect().intersects(view)) painter.drawPolyline(poly);
    }
}

std::vector<Polygon> polygonsOf(Feature&& f) { return std::move(f.polygons); }

}  // namespace

UsLand parseUsLand(const QString& text) {
    if (text == "states") return UsLand::States;
    if (text == "country") return UsLand::Country;
    raise(err::kInvalidArgument,
          "US land must be states or country, not \"" + text.toStdString() + "\"");
}

MapLayers buildLayers(const Topology& us, const Topology& world, const Topology* lakes,
                      UsLand source) {
    MapLayers layers;
    const bool fromStates = source == UsLand::States;
    if (fromStates) {
        for (Feature& f : us.features("states")) layers.usLand.push_back(polygonsOf(std::move(f)));
    }
    for (Feature& f : world.features("countries")) {
        if (f.id != kUnitedStates)
            layers.foreignLand.push_back(polygonsOf(std::move(f)));
        else if (!fromStates)
            layers.usLand.push_back(polygonsOf(std::move(f)));
    }
    // Borders between two states; from the states, everything on the nation's edge is
    // drawn as an outline.
    layers.stateBorders =
        us.mesh("states", [](const Feature& a, const Feature& b) { return &a != &b; });
    if (fromStates)
        layers.outlines =
            us.mesh("states", [](const Feature& a, const Feature& b) { return &a == &b; });
    // Coasts and borders of the world data; the United States' own edge is left out when
    // it comes from the states, so the line follows the US land's edge exactly.
    auto foreign = world.mesh("countries", [fromStates](const Feature& a, const Feature& b) {
        return !fromStates || (a.id != kUnitedStates && b.id != kUnitedStates);
    });
    foreign = withoutMeridianCuts(foreign);
    layers.outlines.insert(layers.outlines.end(), std::make_move_iterator(foreign.begin()),
                           std::make_move_iterator(foreign.end()));
    if (lakes) {
        for (Feature& f : lakes->features("lakes")) {
            for (const Polygon& p : f.polygons)
                layers.lakeShores.insert(layers.lakeShores.end(), p.begin(), p.end());
            layers.lakes.push_back(polygonsOf(std::move(f)));
        }
    }
    // The country outline holds its lakes (the US half of the Great Lakes among them).
    layers.lakesOverUsLand = !fromStates;
    return layers;
}

QImage renderMap(const MapLayers& layers, const Projection& proj, const MapStyle& style) {
    QImage image(proj.width(), proj.height(), QImage::Format_RGB32);
    image.fill(style.water);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        // Pixel i covers painter coordinates i..i+1; the engine puts x = i at its centre.
        painter.translate(0.5, 0.5);
        fillFeatures(painter, layers.foreignLand, proj, style.foreignLand);
        // Lakes normally go under the states: the states' own outlines already leave out
        // the Great Lakes, and elsewhere the census shoreline is the one zip codes agree with.
        if (layers.lakesOverUsLand) fillFeatures(painter, layers.usLand, proj, style.usLand);
        fillFeatures(painter, layers.lakes, proj, style.water);
        strokeLines(painter, layers.lakeShores, proj, style.outline, style.lakeShoreWidth);
        if (!layers.lakesOverUsLand) fillFeatures(painter, layers.usLand, proj, style.usLand);
        strokeLines(painter, layers.stateBorders, proj, style.stateBorder, style.stateBorderWidth);
        strokeLines(painter, layers.outlines, proj, style.outline, style.outlineWidth);
    }
    return image.convertToFormat(QImage::Format_RGB888);
}

}  // namespace zembra::mapgen
