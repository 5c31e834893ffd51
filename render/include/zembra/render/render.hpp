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
// The format for a file extension or format name of the format table, case-insensitive,
// with or without the dot. Nothing for any other text.
std::optional<OutputFormat> formatForExtension(std::string_view extension);

// Zip codes handed to the engine per MapZips call: large lists go in pieces so that
// progress shows and a cancel takes effect between pieces.
inline constexpr size_t kDefaultChunkSize = 2000;

// Codes outside the map whose position is read to suggest a map that holds them.
inline constexpr size_t kMaxSuggestionLookups = 2000;

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
    // Codes only as written: no second lookup of a ZIP+4 by its first five digits or of a
    // three- or four-digit code with its leading zeros restored (see rewrittenCode).
    bool exact = false;
    std::function<void(const Progress&)>
        progress;                               // called after each piece, on the caller's thread
    const std::atomic<bool>* cancel = nullptr;  // checked before each piece and before saving
};

// A shipped map that holds codes found outside the map rendered on.
struct MapSuggestion {
    std::string map;  // its key in the name rule ("usa", "alaska", "hawaii")
    size_t codes = 0;
};

// Every code asked for is counted once: placed (at its area as written, after a rewrite, or
// at its post-office town), outside the map, or not found. Lists keep the order asked.
struct RenderResult {
    size_t requested = 0;                         // zip codes asked for
    size_t placedAtArea = 0;                      // found as written, inside the map
    std::vector<std::string> placedWithoutPlus4;  // found by the first five digits of a ZIP+4
    std::vector<std::string> placedWithZeros;     // found with their leading zeros restored
    std::vector<std::string> placedAtTown;        // placed at their post-office town
    std::vector<std::string> outside;             // found, but outside this map's picture
    std::vector<MapSuggestion> suggestions;       // shipped maps holding outside codes, most first
    std::string suggestedRegion;  // the region map (suggestRegion) for those no shipped map holds
    std::vector<std::string> notFound;             // in the order asked
    size_t points = 0;                             // latitude/longitude points plotted
    size_t pointsOutside = 0;                      // of those, outside the map's picture
    std::vector<uint8_t> bytes;                    // the picture, when the request named no output
    std::optional<std::filesystem::path> written;  // the file written, when it named one

    size_t placed() const noexcept {
        return placedAtArea + placedWithoutPlus4.size() + placedWithZeros.size() +
               placedAtTown.size();
    }
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
// engine: it is reported in notFound and the rest goes on. Unless the request is exact,
// codes the engine did not find are looked up again the way people write them
// (rewrittenCode), then at their post-office town. A code whose marker centre falls
// outside the picture is counted in outside, not as placed; the shipped maps that hold
// such codes are suggested (judged by the first kMaxSuggestionLookups of them). A request with
// neither zip codes nor points hands the engine an empty list, which it refuses with error 9, as a
// render of an empty batch always has.
RenderResult render(const RenderRequest& request);

// True when the text holds a control character: NUL and the rest of C0, DEL, or a C1
// control written in UTF-8. Such a code cannot be a zip code, and echoing it raw would
// let it drive a terminal.
bool hasControlCharacter(std::string_view text) noexcept;

// The text for display: control characters (as above) and backslashes written as \xNN
// and \\, everything else as it is.
std::string escapeForDisplay(std::string_view text);
// A message for one line of a terminal, as escapeForDisplay shows it, except that its line
// breaks (a driver's message often has several lines) read "; " and trailing ones go:
// "[driver] connection failed\nserver not found\n" -> "[driver] connection failed; server
// not found".
std::string messageForDisplay(std::string_view text);

// What became of the codes, in the words every front end shows: "placed 2 of 2 zip codes",
// or with codes placed in other ways or outside the map "placed 3 of 5: 1 as written, 1
// after dropping the +4, 1 after restoring leading zeros; 1 outside this map". With
// `listed`, the outside and not-found codes follow their counts (": 99501 (alaska holds
// it)", "; not found: 99999"), at most `listed` of each and "and N more"; escaped for
// display.
std::string summarize(const RenderResult& result, std::optional<size_t> listed = std::nullopt);

// The shipped maps that hold the outside codes: "alaska holds them", "usa holds 2, hawaii
// holds 1"; then the region map for the others, named after `regionPrefix`: "try region
// PR", "alaska holds 1; try --region PR"; empty when there is neither.
std::string suggestionText(const RenderResult& result, std::string_view regionPrefix = "region ");

// The shipped maps other than the one showing `shown` that hold the positions, the map
// holding most first.
std::vector<MapSuggestion> suggestMaps(const std::vector<LatLon>& positions, const Bounds& shown);

// An outside code as the region suggestion judges it: its position, when known, and its
// state as the zip table's state column holds it (empty when the table has none).
struct OutsideCode {
    std::optional<LatLon> position;
    std::string state;
};

// The region map that draws the outside codes no shipped map other than the one showing
// `shown` holds, as --region reads it: their state's postal code when they share one ("PR"),
// "fit" when they lie in several. Codes without a two-letter state count for nothing; empty
// when no code is left.
std::string suggestRegion(const std::vector<OutsideCode>& codes, const Bounds& shown);

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
