#include "serve/style_order.hpp"

#include <cmath>
#include <nlohmann/json.hpp>
#include <zembra/render/csv.hpp>
#include <zembra/runtime.hpp>

#include "core/text.hpp"
#include "serve/order.hpp"

namespace zembra::serve {

namespace {

using nlohmann::json;

std::string text(const json& body, const char* name, std::string fallback) {
    const auto it = body.find(name);
    if (it == body.end() || it->is_null()) return fallback;
    if (!it->is_string()) throw badRequest(std::string("\"") + name + "\" must be a text.");
    return it->get<std::string>();
}

json parse(std::string_view body) {
    json parsed = json::parse(body.begin(), body.end(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        throw badRequest("The body must be a JSON object.");
    }
    return parsed;
}

}  // namespace

std::optional<draw::ThematicOptions> styleOf(const render::ParameterValues& values) {
    try {
        return draw::thematicOptions(values);
    } catch (const render::ParameterError& e) {
        throw badRequest(e.message("\"" + e.parameter().name + "\"") + ".");
    }
}

render::RowTable rowsFromJson(std::string_view body, const draw::ThematicOptions& style,
                              const Limits& limits) {
    const json parsed = parse(body);
    render::RowTable table(style.style == draw::Style::Category);
    const json empty = json::array();
    const json& zips = parsed.contains("zips") ? parsed["zips"] : empty;
    const json& rows = parsed.contains("rows") ? parsed["rows"] : empty;
    if (!zips.is_array() || !rows.is_array()) {
        throw badRequest("\"zips\" and \"rows\" must be arrays.");
    }
    checkCount(zips.size() + rows.size(), limits, "rows");
    for (size_t i = 0; i < zips.size(); ++i) {
        if (!zips[i].is_string()) {
            throw badRequest("Zip code " + std::to_string(i + 1) +
                             " must be a text (\"08873\"): a number loses its leading zeros.");
        }
        table.add(zips[i].get<std::string>(), "", std::nullopt);
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        const json& row = rows[i];
        const std::string where = "Row " + std::to_string(i + 1);
        if (!row.is_object() || !row.contains("zip") || !row["zip"].is_string()) {
            throw badRequest(where +
                             " must be {\"zip\": text, \"category\": text, \"value\": number}.");
        }
        const std::string category = text(row, "category", "");
        std::optional<double> value;
        if (row.contains("value") && !row["value"].is_null()) {
            if (!row["value"].is_number() || !std::isfinite(row["value"].get<double>())) {
                throw badRequest(where + ": \"value\" must be a number.");
            }
            value = row["value"].get<double>();
        }
        table.add(row["zip"].get<std::string>(), category, value);
    }
    return table;
}

render::RowTable rowsFromCsv(std::string_view csv, std::string_view column,
                             const draw::ThematicOptions& style, const Limits& limits,
                             const std::string& sheet) {
    if (cli::trim(column).empty())
        throw badRequest("Name the CSV column that holds the zip codes.");
    render::RowTable table(style.style == draw::Style::Category);
    const MemoryFile file(csv);
    try {
        const auto reader = openUpload(file, sheet);
        std::vector<std::string> header;
        if (!reader->next(header)) throw badRequest("The upload is empty.");
        const render::RowColumns columns{std::string(cli::trim(column)), style.categoryName,
                                         style.valueName};
        std::string missing;
        const auto positions =
            render::findColumns(header, columns, render::NameMatch::IgnoreCase, &missing);
        if (!positions) {
            std::string names;
            for (const auto& n : header)
                names += (names.empty() ? "" : ", ") + std::string(cli::trim(n));
            throw badRequest("The upload has no column \"" + missing +
                             "\"; its columns are: " + names + ".");
        }
        render::readRows(*reader, *positions, columns, table);
    } catch (const Error& e) {
        throw badRequest(e.description());
    }
    checkCount(table.rowCount(), limits, "rows");
    return table;
}

json rowsJson(const render::RowTable& table) {
    json rows = json::array();
    for (const render::CodeRows& entry : table.entries()) {
        for (size_t i = 0; i < entry.rows; ++i) {
            json row = {{"zip", entry.code}};
            if (!entry.category.empty()) row["category"] = entry.category;
            if (i < entry.valued) row["value"] = i == 0 ? entry.sum : 0.0;
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

}  // namespace zembra::serve
