// The thematic part of `POST /api/render`: the style and its settings, read from the
// parameter values of JSON members or form fields, and the rows (codes with a category and
// a value) the styles draw.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <zembra/draw/thematic.hpp>
#include <zembra/render/rows.hpp>

#include "serve/limits.hpp"

namespace zembra::serve {

// The style a render's parameter values ask for ("style", "category", "value", ...; see
// zembra/render/parameters.hpp): nothing for the plain markers. Raises ApiError 400 for a
// value refused or settings that do not go together, naming the member.
std::optional<draw::ThematicOptions> styleOf(const render::ParameterValues& values);

// The rows of a JSON body: each of "zips" as a row, then "rows":
// [{"zip": "08873", "category": "Retail", "value": 12.5}, ...]. Raises ApiError 400 for
// malformed rows and 413 past limits.maxCodes.
render::RowTable rowsFromJson(std::string_view body, const draw::ThematicOptions& style,
                              const Limits& limits);

// The rows of an upload: the codes' column and the style's category and value columns.
// Raises ApiError 400 for a missing column (listing the columns) or a value that is no
// number, and 413 past limits.maxCodes.
// A workbook upload is read from its sheet `sheet` (empty: the first).
render::RowTable rowsFromCsv(std::string_view csv, std::string_view column,
                             const draw::ThematicOptions& style, const Limits& limits,
                             const std::string& sheet = {});

// `table` as the "rows" of a JSON body that rowsFromJson reads back to the same table: per
// entry, its first row carries the sum of its values and its other valued rows 0, so that
// what is kept for a link has at most as many rows as were read.
nlohmann::json rowsJson(const render::RowTable& table);

}  // namespace zembra::serve
