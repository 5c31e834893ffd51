// The one render path of every front end (desktop client, command line, web server):
// a typed request in, a typed result out. It reaches the map engine only through
// createObject("Zembra.CMap") and member names, and needs no display.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/render/catalogue.hpp>

#include "picture_formats.hpp"

namespace zembra::render {

struct LatLon {
    double lat = 0;
    double lon = 0;
    friend bool operator==(const LatLon&, const LatLon&) = default;
};

// The picture formats the engine writes: those of the imaging adapter's format table.
using OutputFormat = imaging::Format;

// The engine's OutputImageType text of a format, its name in the format table.
std::string_view formatName(OutputFormat format) noexcept;
// The format for a file extension or format name, case-insensitive, with or without the
// dot ("JPG", ".png", "jpeg"). Nothing for any other text.
std::optional<OutputFormat> formatForExtension(std::string_view extension);

// Zip codes handed to the engine per MapZips call: large lists go in pieces so that
// progress shows and a cancel takes effect between pieces.
inline constexpr size_t kDefaultChunkSize = 2000;

// How far a render has come: items (codes or points) handed to the engine of `total`.
struct Progress {
    size_t done = 0;
    size_t total = 0;
};

struct RenderRequest {
    std::filesystem::path map;     // the map picture
    std::filesystem::path marker;  // the marker picture; empty leaves it unset
    Bounds bounds;
    std::string connection;         // empty: the engine's default zip-code database
    std::vector<std::string> zips;  // plotted with MapZips, in order
    std::vector<LatLon> points;     // plotted with MapCoordinates, after the zips
    OutputFormat format = OutputFormat::Jpeg;
    std::optional<std::filesystem::path> output;  // nothing: the picture is returned in memory
    bool worldFile = false;  // with an output file, also write its world file beside it
    size_t chunkSize = kDefaultChunkSize;  // at least 1
    bool towns = true;  // place codes without an area at their post-office town (zip_towns)
    std::function<void(const Progress&)>
        progress;                               // called after each piece, on the caller's thread
    const std::atomic<bool>* cancel = nullptr;  // checked before each piece and before saving
};

struct RenderResult {
    size_t requested = 0;                          // zip codes asked for
    size_t placedAtArea = 0;                       // placed by the engine (their own area)
    std::vector<std::string> placedAtTown;         // placed at their post-office town
    std::vector<std::string> notFound;             // in the order asked
    size_t points = 0;                             // latitude/longitude points plotted
    std::vector<uint8_t> bytes;                    // the picture, when the request named no output
    std::optional<std::filesystem::path> written;  // the file written, when it named one

    size_t placed() const noexcept { return placedAtArea + placedAtTown.size(); }
};

// Raised by render() when the request's cancel flag was set; nothing is saved.
class Cancelled : public std::exception {
  public:
    const char* what() const noexcept override { return "Rendering was cancelled."; }
};

// Creates one engine object, plots the request's codes and points and saves or returns
// the picture. Engine, database and file errors propagate as zembra::Error unchanged,
// with one addition: when a zip code's row holds a Null, non-numeric or out-of-range
// coordinate (94, 13, 6), the description gains the code that caused it. Cancelled when
// the cancel flag was seen set.
//
// A code holding a control character (see hasControlCharacter) is never sent to the
// engine: it is reported in notFound and the rest goes on. A request with neither zip
// codes nor points hands the engine an empty list, which it refuses with error 9, as a
// render of an empty batch always has.
RenderResult render(const RenderRequest& request);

// True when the text holds a control character: NUL and the rest of C0, DEL, or a C1
// control written in UTF-8. Such a code cannot be a zip code, and echoing it raw would
// let it drive a terminal.
bool hasControlCharacter(std::string_view text) noexcept;

// The text for display: control characters (as above) and backslashes written as \xNN
// and \\, everything else as it is.
std::string escapeForDisplay(std::string_view text);

struct LookupRequest {
    std::filesystem::path map;  // the picture the pixel belongs to
    Bounds bounds;
    std::string connection;  // empty: the engine's default zip-code database
    int32_t x = 0;
    int32_t y = 0;
};

struct LookupResult {
    LatLon position;                 // the pixel's latitude/longitude
    std::optional<std::string> zip;  // the nearest zip code, nothing when none is near
    std::string city;                // city and state of that code, when the table has them
    std::string state;
};

// Reverse lookup of one pixel through a fresh engine object.
LookupResult lookupPixel(const LookupRequest& request);

}  // namespace zembra::render
