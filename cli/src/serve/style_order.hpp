// The thematic part of `POST /api/render`: the style and its settings, from JSON members or
// form fields, and the rows (codes with a category and a value) the styles draw.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <zembra/draw/thematic.hpp>
#include <zembra/render/rows.hpp>

#include "serve/limits.hpp"

namespace zembra::serve {

struct StyleOrder {
    std::string style = "markers";
    std::string category;  // the upload's column
    std::string value;     // the upload's column
    double bandwidth = 0;
    std::string classes = "quantile";
    std::string title;
    std::string subtitle;
    bool legend = true;
    bool table = false;  // the per-area table in the answer

    bool thematic() const { return style != "markers"; }
};

// "style", "category", "value", "bandwidth", "classes", "title", "subtitle", "legend" and
// "table" of a JSON body; every member optional; the plain markers for a body that is no
// JSON object. Raises ApiError 400 for a member of the
// wrong kind or an unknown style or classing.
StyleOrder styleFromJson(std::string_view body);

// The same from form fields, read through `field` (empty when absent).
StyleOrder styleFromForm(const std::function<std::string(const char*)>& field);

// The draw options of a style order; raises ApiError 400 for settings that do not go with
// the style (a category for another style, a bandwidth out of range).
draw::ThematicOptions optionsOf(const StyleOrder& order);

// The rows of a JSON body: each of "zips" as a row, then "rows":
// [{"zip": "08873", "category": "Retail", "value": 12.5}, ...]. Raises ApiError 400 for
// malformed rows and 413 past limits.maxCodes.
render::RowTable rowsFromJson(std::string_view body, const StyleOrder& order, const Limits& limits);

// The rows of an upload: the codes' column and the order's category and value columns.
// Raises ApiError 400 for a missing column (listing the columns) or a value that is no
// number, and 413 past limits.maxCodes.
// A workbook upload is read from its sheet `sheet` (empty: the first).
render::RowTable rowsFromCsv(std::string_view csv, std::string_view column, const StyleOrder& order,
                             const Limits& limits, const std::string& sheet = {});

}  // namespace zembra::serve
