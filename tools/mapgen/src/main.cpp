// zembra-mapgen: draws the shipped map pictures from the boundary data installed with
// Zembra (the same drawing as `zembra map`), and the marker pictures for the overlay list.
//
//   zembra-mapgen --map usa --width 2000 --out usa.jpg       (also writes usa.jgw)
//   zembra-mapgen --bounds 40,45,-80,-70 --width 1200 --out northeast.jpg
//   zembra-mapgen --marker dot --size 11 --fill d62728 --outline 461010 --out red_dot_11.png
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <cstdio>
#include <zembra/draw/regionmap.hpp>
#include <zembra/render/catalogue.hpp>
#include <zembra/runtime.hpp>

#include "marker.hpp"

using namespace zembra::mapgen;
namespace err = zembra::err;
namespace draw = zembra::draw;

namespace {

[[noreturn]] void raise(int32_t number, const std::string& detail) {
    throw zembra::Error::standard(number, "zembra-mapgen", detail);
}

int positiveInt(const QString& text, const char* what) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v <= 0)
        raise(err::kInvalidArgument, std::string(what) + " must be a positive whole number");
    return v;
}

void saveMarker(const QImage& image, const QString& path) {
    QImageWriter writer(path);
    if (!writer.write(image))
        raise(QFileInfo(path).absoluteDir().exists() ? err::kPermissionDenied : err::kPathNotFound,
              path.toStdString() + " (" + writer.errorString().toStdString() + ")");
}

int run(const QCommandLineParser& args) {
    const QString out = args.value("out");
    if (out.isEmpty()) raise(err::kInvalidArgument, "--out is required");

    if (args.isSet("marker")) {
        MarkerSpec spec;
        spec.shape = parseShape(args.value("marker"));
        if (args.isSet("size")) spec.size = positiveInt(args.value("size"), "--size");
        if (args.isSet("fill")) spec.fill = parseColour(args.value("fill"));
        if (args.isSet("outline")) spec.outline = parseColour(args.value("outline"));
        saveMarker(renderMarker(spec), out);
        return 0;
    }

    if (!args.isSet("bounds") && !args.isSet("map"))
        raise(err::kInvalidArgument, "--map, --bounds or --marker is required");
    draw::Bounds bounds;
    if (args.isSet("map")) {
        // A shipped map: its bounds come from the map catalogue.
        const auto known = zembra::render::boundsForMapName(args.value("map").toStdString());
        if (!known)
            raise(err::kInvalidArgument,
                  "--map names none of the shipped maps (usa, alaska, hawaii)");
        bounds = *known;
    } else {
        bounds = draw::parseBounds(args.value("bounds").toStdString());
    }
    const int width = positiveInt(args.value("width"), "--width");
    const std::string path = out.toStdString();
    const auto format = zembra::render::formatForExtension(QFileInfo(out).suffix().toStdString());
    if (!format)
        raise(err::kInvalidArgument, "--out must end in " + zembra::imaging::formatNames("."));

    draw::BoundaryData data(args.isSet("data")
                                ? std::filesystem::path(args.value("data").toStdString())
                                : draw::defaultBoundaryDirectory());
    draw::DrawnMap map =
        draw::drawMap(data, bounds, width, draw::parseUsLand(args.value("us-land").toStdString()));
    const auto world = draw::writeMap(map, path, *format);
    std::printf("%s: %d x %d, %s\n", path.c_str(), map.canvas.width(), map.canvas.height(),
                world.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("zembra-mapgen");
    QCoreApplication::setApplicationVersion("2.0");

    QCommandLineParser args;
    args.setApplicationDescription(
        "Draws a map picture (water, US states, neighbouring countries) for the given bounds\n"
        "in the straight latitude/longitude mapping Zembra plots with, or a marker picture.\n"
        "`zembra map --region ...` draws the same maps for states and other places.");
    args.addHelpOption();
    args.addVersionOption();
    args.addOptions({
        {"bounds", "Map bounds in degrees, west longitudes negative.",
         "minLat,maxLat,minLon,maxLon"},
        {"map", "A shipped map (usa, alaska, hawaii): its bounds from the map catalogue.", "name"},
        {"width", "Picture width in pixels; the height keeps the ground's proportions.", "pixels",
         "2000"},
        {"out", "Output picture (.jpg for maps, .png for markers).", "file"},
        {"data", "Folder holding the boundary data (default: the one installed with Zembra).",
         "dir"},
        {"us-land",
         "Land of the United States from the census \"states\" (best on the mainland) or the "
         "world data's \"country\" (more detailed islands).",
         "source", "states"},
        {"marker", "Draw a marker instead of a map: dot or pin.", "shape"},
        {"size", "Marker size in pixels (dot diameter, pin height).", "pixels"},
        {"fill", "Marker fill colour.", "RRGGBB"},
        {"outline", "Marker outline colour.", "RRGGBB"},
    });
    args.process(app);
    try {
        return run(args);
    } catch (const zembra::Error& e) {
        std::fprintf(stderr, "zembra-mapgen: error %d: %s\n", e.number(), e.description().c_str());
        return 1;
    }
}
