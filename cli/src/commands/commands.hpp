// The subcommands of `zembra`. Each takes its options as parsed from the command line
// and the program's standard streams; each returns the exit status on success and
// raises UsageError (exit 2) or zembra::Error (exit 1) on failure.
#pragma once

#include <cstddef>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>
#include <zembra/render/render.hpp>

namespace zembra::cli {

struct Io {
    int inFd;  // standard input, read through the CSV reader
    std::ostream& out;
    std::ostream& err;
    bool stdinIsTerminal = false;
    bool stdoutIsTerminal = false;
    bool stderrIsTerminal = false;
};

// Options naming the map picture and its geographic bounds, shared by every command.
struct MapOptions {
    std::string map = "usa";  // a path, or a name looked up in <images>/Maps
    std::string bounds;       // "minLat,maxLat,minLon,maxLon"; empty: from the catalogue
    std::string images;       // images folder; empty: the one beside the program
    std::string connection;   // zip-code database; empty: the engine's default
};

// Options of the commands that write a picture.
struct OutputOptions {
    std::string output;  // "-": standard output
    std::string format;  // empty: from the output's extension
    size_t chunkSize = render::kDefaultChunkSize;
};

// A map drawn for the render instead of a map picture: "NJ", "NY,NJ,CT", "fit" or
// "minLat,maxLat,minLon,maxLon", at a width in pixels (0: the default).
struct RegionOptions {
    std::string region;
    int width = 0;
};

// Options of `zembra map`: a region drawn and written with its world file.
struct MapCommandOptions {
    RegionOptions region;
    OutputOptions output;
    std::string connection;
    std::vector<std::string> zips;  // the codes a fit region is fitted to
    std::string file;
};

// The styles beside the plain markers (see zembra/draw/thematic.hpp).
struct StyleOptions {
    std::string style = "markers";
    std::string category;  // CSV column
    std::string value;     // CSV column
    double bandwidth = 0;  // pixels; 0: from the map's width
    std::string classes = "quantile";
    std::string title;
    std::string subtitle;
    bool noLegend = false;
    std::string table;  // the per-area (or per-category) CSV to write
};

struct RenderOptions {
    MapOptions map;
    StyleOptions style;
    OutputOptions output;
    std::vector<std::string> zips;
    std::string file;       // "-": standard input
    std::string column;     // CSV column holding the codes
    std::string separator;  // empty: detected from the header line (with a column)
    std::string marker;     // a path, or a name looked up in <images>/Overlays
    bool noTowns = false;   // leave codes without an area of their own unplaced
    bool exact = false;     // codes only as written (no ZIP+4 or leading-zero second lookup)
    RegionOptions region;
};

struct PointsOptions {
    MapOptions map;
    OutputOptions output;
    std::vector<std::string> points;  // "LAT,LON"
    std::string file;                 // "-": standard input
    std::string marker;
};

struct LookupOptions {
    MapOptions map;
    int x = 0;
    int y = 0;
};

int runRender(const RenderOptions& options, Io& io);
// The styles other than the plain markers; runRender hands them over.
int runThematic(const RenderOptions& options, Io& io);
// True when the options ask for anything but the plain markers.
bool wantsThematic(const StyleOptions& style);
int runPoints(const PointsOptions& options, Io& io);
int runLookup(const LookupOptions& options, Io& io);
int runList(const std::string& images, Io& io);
int runMap(const MapCommandOptions& options, Io& io);

// Shared by the commands: the images folder, the map file and its bounds.
struct ResolvedMap {
    std::filesystem::path images;
    std::filesystem::path map;
    render::Bounds bounds;
};
ResolvedMap resolveMap(const MapOptions& options);

// The marker file: named by `marker` or the default of the images folder.
std::filesystem::path resolveMarker(const std::string& marker, const std::filesystem::path& images);

// Checks, before any work, that the output's format is known, that its folder exists
// and that a picture for standard output does not go to a terminal.
render::OutputFormat checkOutput(const OutputOptions& output, const Io& io);

// Raises UsageError when the output names one of the input pictures (the map or the
// marker), which the save would overwrite.
void refuseOutputOver(const OutputOptions& output,
                      const std::vector<std::filesystem::path>& inputs);

// Sets the output of a request: the file, or in memory for standard output.
void setOutput(render::RenderRequest& request, const OutputOptions& output);

// Writes the picture of a request for standard output there, or the path written.
void reportOutput(const render::RenderResult& result, const OutputOptions& output, Io& io);

}  // namespace zembra::cli
