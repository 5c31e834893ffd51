// The subcommands of `zembra`. Each takes its options as parsed from the command line
// and the program's standard streams; each returns the exit status on success and
// raises UsageError (exit 2) or zembra::Error (exit 1) on failure.
#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "core/plotting.hpp"

namespace zembra::cli {

struct Io {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool stdinIsTerminal = false;
    bool stderrIsTerminal = false;
};

// Options naming the map picture and its geographic bounds, shared by every command.
struct MapOptions {
    std::string map = "usa";  // a path, or a name looked up in <images>/Maps
    std::string bounds;       // "minLat,maxLat,minLon,maxLon"; empty: from the map's name
    std::string images;       // images folder; empty: the one beside the program
    std::string connection;   // zip-code database; empty: the engine's default
};

struct RenderOptions {
    MapOptions map;
    std::vector<std::string> zips;
    std::string file;    // "-": standard input
    std::string column;  // CSV column holding the codes
    std::string marker;  // a path, or a name looked up in <images>/Overlays
    std::string output;
    size_t chunkSize = kDefaultChunkSize;
    bool noTowns = false;  // leave codes without an area of their own unplaced
};

struct PointsOptions {
    MapOptions map;
    std::vector<std::string> points;  // "LAT,LON"
    std::string file;                 // "-": standard input
    std::string marker;
    std::string output;
    size_t chunkSize = kDefaultChunkSize;
};

struct LookupOptions {
    MapOptions map;
    int x = 0;
    int y = 0;
};

int runRender(const RenderOptions& options, Io& io);
int runPoints(const PointsOptions& options, Io& io);
int runLookup(const LookupOptions& options, Io& io);
int runList(const std::string& images, Io& io);

// Shared by the commands: the images folder, the map file and its bounds.
struct ResolvedMap {
    std::filesystem::path images;
    std::filesystem::path map;
    Bounds bounds;
};
ResolvedMap resolveMap(const MapOptions& options);

// The marker file: named by `marker` or the default of the images folder.
std::filesystem::path resolveMarker(const std::string& marker, const std::filesystem::path& images);

// Checks, before any work, that the output's format is known and its folder exists;
// returns the engine's OutputImageType word.
std::string checkOutput(const std::string& output);

}  // namespace zembra::cli
