// The parameters of a render, described once: the command line's options, the server's
// JSON members and form fields, the page's controls (served as /api/parameters) and the
// desktop client's settings are all made from this table, checked by one function and
// refused with one set of messages.
//
// A new parameter is a row in the table (parameters.cpp) and its use in applyParameters.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/render/catalogue.hpp>
#include <zembra/render/render.hpp>

namespace zembra::render {

enum class ParameterKind {
    Picture,  // a map or marker: a name from the picture library (or a path, where allowed)
    Format,   // a picture format of the imaging adapter's table; `choices` lists them
    Count,    // a whole number from `minimum` to `maximum`
    Bounds,   // "minLat,maxLat,minLon,maxLon"
    Text,     // any text
    Switch,   // on or off; the command line's flag turns it off when it starts "--no-"
    Choice,   // one of `choices`, as spelt there
    Column,   // a column's name in the rows read (a CSV file's header)
};

// Where a parameter is offered.
enum ParameterScope : unsigned {
    kRenderCommand = 1u << 0,  // zembra render
    kPointsCommand = 1u << 1,  // zembra points
    kLookupCommand = 1u << 2,  // zembra lookup
    kWebRender = 1u << 3,      // POST /api/render (JSON member and form field) and the page
    kClientRender = 1u << 4,   // the desktop client's render
    kMapCommand = 1u << 5,     // zembra map
};

struct ParameterChoice {
    std::string value;  // as given, the format table's name
    std::string label;  // as shown, the format table's label
};

struct Parameter {
    std::string name;      // JSON member, form field, page control and setting: "format"
    std::string flags;     // the command line's spelling: "-m,--map"; empty: none
    std::string typeName;  // the command line's placeholder: "FORMAT"
    ParameterKind kind = ParameterKind::Text;
    std::string defaultValue;  // as text; empty: none (or the front end's own)
    std::string help;
    // The page's control: its caption ("Format") and the part of the form it stands in
    // ("map", "marker", "codes", "style"; empty: the picture's options).
    std::string label;
    std::string section;
    std::vector<ParameterChoice> choices;  // Format and Choice only
    uint64_t minimum = 0;                  // Count only
    uint64_t maximum = UINT64_MAX;
    unsigned scope = 0;  // ParameterScope bits
    bool required = false;
    // A setting of the styles other than the plain markers (zembra/draw/thematic.hpp):
    // given with the markers, it is refused.
    bool styling = false;

    bool offeredIn(ParameterScope where) const noexcept { return (scope & where) != 0; }
    // The command line's long option, "--map" of "-m,--map".
    std::string longFlag() const;
};

// Every parameter, in the order the command line's help lists them.
std::span<const Parameter> renderParameters();
// The row named `name`; nullptr for none.
const Parameter* findParameter(std::string_view name) noexcept;
// The row named `name`, which must exist (a front end naming a row it relies on).
const Parameter& parameter(std::string_view name);

// The one check of a value: the problem with `text` as a value of `p`, empty when there is
// none ("use " and the format names, "must be a whole number of at least 1, not '0'").
std::string checkParameter(const Parameter& p, std::string_view text);

// A value the table refuses. message() reads "<spelling> '<text>': <problem>", the
// parameter spelt as the front end shows it ("--format", "\"format\"").
class ParameterError : public std::runtime_error {
  public:
    ParameterError(const Parameter& p, std::string text, std::string problem);
    const Parameter& parameter() const noexcept { return *parameter_; }
    const std::string& text() const noexcept { return text_; }
    const std::string& problem() const noexcept { return problem_; }
    std::string message(std::string_view spelling) const;

  private:
    const Parameter* parameter_;
    std::string text_;
    std::string problem_;
};

// The values given, by parameter name; what is not given reads as the row's default.
class ParameterValues {
  public:
    void set(std::string_view name, std::string text);
    bool given(std::string_view name) const;
    // The value given, or the row's default.
    std::string text(std::string_view name) const;
    // Storage for a front end that fills values in place (the command line's parser).
    std::string& slot(std::string_view name);

  private:
    std::map<std::string, std::string, std::less<>> given_;
};

// Typed readings of a value, each after checkParameter; ParameterError when refused.
OutputFormat formatValue(const Parameter& p, std::string_view text);
uint64_t countValue(const Parameter& p, std::string_view text);
bool switchValue(const Parameter& p, std::string_view text);
// The index of `text` among the choices of a Choice row.
size_t choiceValue(const Parameter& p, std::string_view text);
Bounds boundsValue(const Parameter& p, std::string_view text);
// The one reading of "minLat,maxLat,minLon,maxLon" (blanks around the numbers allowed):
// minLat < maxLat within -90..90, minLon < maxLon at most 360 degrees apart. Nothing when
// the text is not such bounds, with the problem in `problem` when one is given.
std::optional<Bounds> readBounds(std::string_view text, std::string* problem = nullptr);
// "minLat,maxLat,minLon,maxLon" as boundsValue reads it back.
std::string boundsText(const Bounds& bounds);

// The use of every parameter that sets a part of the request itself (format, pieces per
// call, towns, bounds when given); the map, the marker and the output are resolved by each
// front end through the picture library. Raises ParameterError for the first value
// refused, in table order.
void applyParameters(const ParameterValues& values, RenderRequest& request);

}  // namespace zembra::render
