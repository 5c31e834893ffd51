// The subcommands of `zembra`. Each takes its options as parsed from the command line
// and the program's standard streams; each returns the exit status on success and
// raises UsageError (exit 2) or zembra::Error (exit 1) on failure.
#pragma once

#include <cstddef>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>
#include <zembra/render/pictures.hpp>
#include <zembra/render/render.hpp>

#include "core/parameter_options.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

struct Io {
    int inFd;  // standard input, read through the CSV reader
    std::ostream& out;
    std::ostream& err;
    bool stdinIsTerminal = false;
    bool stdoutIsTerminal = false;
    bool stderrIsTerminal = false;
};

// The options of the commands that render or look up: the render parameters given (see
// zembra/render/parameters.hpp) and the command's own inputs.

// A map drawn for the render instead of a map picture: "NJ", "NY,NJ,CT", "fit" or
// "minLat,maxLat,minLon,maxLon", at a width in pixels (0: the default).
struct RegionOptions {
    std::string region;
    int width = 0;
};

// The region and width given among the values.
RegionOptions regionOptions(const render::ParameterValues& values);

// Options of `zembra map`: a region drawn and written with its world file.
struct MapCommandOptions {
    ParameterOptions parameters;  // the region and its width
    std::string output;
    std::string connection;
    std::vector<std::string> zips;  // the codes a fit region is fitted to
    std::string file;
};

struct RenderOptions {
    ParameterOptions parameters;  // with the style's settings
    std::vector<std::string> zips;
    std::string file;       // "-": standard input
    std::string separator;  // empty: detected from the header line (with a column)
};

struct PointsOptions {
    ParameterOptions parameters;
    std::vector<std::string> points;  // "LAT,LON"
    std::string file;                 // "-": standard input
};

struct LookupOptions {
    ParameterOptions parameters;
    int x = 0;
    int y = 0;
};

int runRender(const RenderOptions& options, Io& io);
// The styles other than the plain markers; runRender hands them over.
int runThematic(const RenderOptions& options, Io& io);
// True when the values ask for anything but the plain markers; UsageError for style
// settings that do not go together.
bool wantsThematic(const render::ParameterValues& values);
int runPoints(const PointsOptions& options, Io& io);
int runLookup(const LookupOptions& options, Io& io);
int runList(const std::string& images, Io& io);
int runMap(const MapCommandOptions& options, Io& io);

// A value the table refuses, as a usage error naming the long option.
UsageError refused(const render::ParameterError& e);

// Shared by the commands: the images folders, the map file and its bounds.
struct ResolvedMap {
    render::PictureFolders folders;
    std::filesystem::path map;
    render::Bounds bounds;
};
ResolvedMap resolveMap(const render::ParameterValues& values);

// The marker file: the one named by the "marker" value or the default of the folders.
std::filesystem::path resolveMarker(const render::ParameterValues& values,
                                    const render::PictureFolders& folders);

// Checks, before any work, that the output's format is known, that its folder exists
// and that a picture for standard output does not go to a terminal.
render::OutputFormat checkOutput(const render::ParameterValues& values, const Io& io);

// Sets the request's parameters from the values (the format found by checkOutput) and its
// output: the file, or in memory for standard output.
void setParameters(render::RenderRequest& request, render::ParameterValues values,
                   render::OutputFormat format);

// Raises UsageError when the output names one of the input pictures (the map or the
// marker), which the save would overwrite.
void refuseOutputOver(const render::ParameterValues& values,
                      const std::vector<std::filesystem::path>& inputs);

// Writes the picture of a request for standard output there, or the path written.
void reportOutput(const render::RenderResult& result, const render::ParameterValues& values,
                  Io& io);

}  // namespace zembra::cli
