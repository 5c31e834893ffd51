// What a client asks `POST /api/render` for, read from a JSON body or from a CSV upload,
// and the errors that are the client's fault (answered with a 4xx status).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/render/csv.hpp>
#include <zembra/render/parameters.hpp>
#include <zembra/render/pictures.hpp>
#include <zembra/render/render.hpp>

#include "serve/limits.hpp"

namespace zembra::serve {

// A request the server refuses: the HTTP status, a short machine-readable code
// ("too_many_codes") and a sentence for people.
class ApiError : public std::runtime_error {
  public:
    ApiError(int status, std::string code, const std::string& message,
             std::optional<uint64_t> limit = std::nullopt)
        : std::runtime_error(message), status_(status), code_(std::move(code)), limit_(limit) {}
    int status() const noexcept { return status_; }
    const std::string& code() const noexcept { return code_; }
    // The limit a 413 refusal was measured against.
    std::optional<uint64_t> limit() const noexcept { return limit_; }

  private:
    int status_;
    std::string code_;
    std::optional<uint64_t> limit_;
};

// A 400 refusal (bad_request) saying `message`.
ApiError badRequest(const std::string& message);

// Raises ApiError 413 (too_many_codes, with the limit) when `count` exceeds
// limits.maxCodes; `what` names what was counted ("rows").
void checkCount(size_t count, const Limits& limits, std::string_view what);

struct RenderOrder {
    render::ParameterValues values;  // the render parameters given (members or form fields)
    std::string map{render::kDefaultMapName};
    bool mapGiven = false;          // named by the request, not the default
    std::string region;             // a map drawn for a place instead of a map picture
    int width = 0;                  // of the drawn map; 0: the default
    std::string marker;             // empty: the default marker
    std::vector<std::string> zips;  // trimmed, without empties and repeats, in the order given
    std::vector<render::LatLon> points;
    render::OutputFormat format = render::OutputFormat::Jpeg;
    std::string readAs;  // an upload's encoding and separator ("UTF-8, semicolon"), as detected
};

// Reads {"map": "usa", "marker": "red_dot_11", "zips": ["08873", ...],
// "points": [{"lat": 40.7, "lon": -74}, ...], "towns": true}, or
// "region": "NJ" (and "width": 2000) instead of "map": "zips", "points" and the render
// parameters offered to the web (zembra/render/parameters.hpp); every member is optional,
// but a render needs a zip code or a point. Raises ApiError: 400 for malformed JSON, a
// member of the wrong kind or a value the table refuses, 413 (too_many_codes) when zips
// and points together exceed limits.maxCodes, counted before anything else is read.
RenderOrder orderFromJson(std::string_view body, const Limits& limits);

// The render parameters of the form fields given beside an upload ("map", "format", ...),
// checked as orderFromJson checks them. Raises ApiError 400 for a value the table refuses.
RenderOrder orderFromFields(const std::function<std::string(const std::string&)>& field);

// The zip codes of the CSV column `column` (matched ignoring case) added to an order read
// from the form fields; a workbook upload (.xls, .xlsx, .ods, known by its content) is read
// from the sheet the order's "sheet" names, else its first. Raises ApiError 400 for a
// missing or unknown column or sheet (the message lists the columns) and 413 as above.
RenderOrder orderFromCsv(std::string_view csv, std::string_view column, RenderOrder order,
                         const Limits& limits);

// An upload held in an anonymous memory file, so that the one CSV reader reads it as it
// reads any file.
class MemoryFile {
  public:
    explicit MemoryFile(std::string_view bytes);
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    int fd() const noexcept { return fd_; }
    // A path that opens the same file, for readers that take paths (the workbook readers).
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_;
};

// The picture format for a form field or JSON member: a name or extension of the format
// table, in any case.
// Raises ApiError 400 with the parameter table's message.
render::OutputFormat parseFormat(std::string_view text);

// The width of a drawn map from a form field or query parameter; empty: 0 (the default).
// Raises ApiError 400 for anything the table's width refuses.
int parseWidth(std::string_view text);

// An upload read as records: the sheet `sheet` (empty: the first) of a workbook, else CSV
// text with `options`. Raises ApiError 400 for a sheet named for a text upload; the readers'
// own errors (an unknown sheet, a damaged workbook) pass unchanged.
std::unique_ptr<render::RecordSource> openUpload(const MemoryFile& file, const std::string& sheet,
                                                 const render::CsvOptions& options = {});

// How an upload was read, for the answer: "UTF-8, semicolon", or "sheet \"Sheet1\"".
std::string readAsOf(const render::RecordSource& in);

// What the page offers for an upload before it renders: the column names of its header and,
// for a workbook, its sheets and the one read. Raises ApiError 400 for an empty or
// unreadable upload or an unknown sheet.
struct UploadColumns {
    std::vector<std::string> columns;
    std::vector<std::string> sheets;  // empty for CSV text
    std::string readAs;
};
UploadColumns uploadColumns(std::string_view upload, const std::string& sheet);

}  // namespace zembra::serve
