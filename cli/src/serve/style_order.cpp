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

ApiError badRequest(const std::string& message) { return ApiError(400, "bad_request", message); }

void checkCount(size_t count, const Limits& limits) {
    if (count > limits.maxCodes) {
        throw ApiError(413, "too_many_codes",
                       "The request holds " + std::to_string(count) + " rows; at most " +
                           std::to_string(limits.maxCodes) + " are accepted in one render.");
    }
}

std::string text(const json& body, const char* name, std::string fallback) {
    const auto it = body.find(name);
    if (it == body.end() || it->is_null()) return fallback;
    if (!it->is_string()) throw badRequest(std::string("\"") + name + "\" must be a text.");
    return it->get<std::string>();
}

bool flag(const json& body, const char* name, bool fallback) {
    const auto it = body.find(name);
    if (it == body.end() || it->is_null()) return fallback;
    if (!it->is_boolean()) throw badRequest(std::string("\"") + name + "\" must be true or false.");
    return it->get<bool>();
}

double number(const json& body, const char* name) {
    const auto it = body.find(name);
    if (it == body.end() || it->is_null()) return 0;
    if (!it->is_number()) throw badRequest(std::string("\"") + name + "\" must be a number.");
    return it->get<double>();
}

json parse(std::string_view body) {
    json parsed = json::parse(body.begin(), body.end(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        throw badRequest("The body must be a JSON object.");
    }
    return parsed;
}

bool isTrue(const std::string& v) { return v == "1" || v == "true" || v == "on" || v == "yes"; }

}  // namespace

StyleOrder styleFromJson(std::string_view body) {
    StyleOrder order;
    // A body that is no JSON object is the plain render's to refuse, with its own words.
    const json parsed = json::parse(body.begin(), body.end(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return order;
    order.style = text(parsed, "style", order.style);
    order.category = text(parsed, "category", "");
    order.value = text(parsed, "value", "");
    order.bandwidth = number(parsed, "bandwidth");
    order.classes = text(parsed, "classes", order.classes);
    order.title = text(parsed, "title", "");
    order.subtitle = text(parsed, "subtitle", "");
    order.legend = flag(parsed, "legend", true);
    order.table = flag(parsed, "table", false);
    (void)optionsOf(order);  // refuses bad settings before any work
    return order;
}

StyleOrder styleFromForm(const std::function<std::string(const char*)>& field) {
    StyleOrder order;
    if (const auto s = field("style"); !s.empty()) order.style = s;
    order.category = field("category");
    order.value = field("value");
    if (const auto b = field("bandwidth"); !b.empty()) {
        if (!isNumericText(b)) throw badRequest("\"bandwidth\" must be a number of pixels.");
        order.bandwidth = parseNumber(b);
    }
    if (const auto c = field("classes"); !c.empty()) order.classes = c;
    order.title = field("title");
    order.subtitle = field("subtitle");
    if (const auto l = field("legend"); !l.empty()) order.legend = isTrue(l);
    order.table = isTrue(field("table"));
    (void)optionsOf(order);
    return order;
}

draw::ThematicOptions optionsOf(const StyleOrder& order) {
    draw::ThematicOptions options;
    try {
        options.style = draw::parseStyle(order.style);
        options.classing = render::parseClassing(order.classes);
    } catch (const Error& e) {
        throw badRequest(e.description());
    }
    if (options.style == draw::Style::Category && order.category.empty()) {
        throw badRequest("The category style needs the \"category\" column.");
    }
    if (!order.category.empty() && options.style != draw::Style::Category) {
        throw badRequest("\"category\" goes with the category style.");
    }
    if (order.bandwidth != 0 &&
        !(order.bandwidth >= render::kMinBandwidth && order.bandwidth <= render::kMaxBandwidth)) {
        throw badRequest("\"bandwidth\" must lie between " + formatNumber(render::kMinBandwidth) +
                         " and " + formatNumber(render::kMaxBandwidth) + " pixels.");
    }
    options.bandwidth = order.bandwidth;
    options.title = order.title;
    options.subtitle = order.subtitle;
    options.legend = order.legend;
    options.valueName = order.value;
    options.categoryName = order.category;
    return options;
}

render::RowTable rowsFromJson(std::string_view body, const StyleOrder& order,
                              const Limits& limits) {
    const json parsed = parse(body);
    render::RowTable table(order.style == "category");
    const json empty = json::array();
    const json& zips = parsed.contains("zips") ? parsed["zips"] : empty;
    const json& rows = parsed.contains("rows") ? parsed["rows"] : empty;
    if (!zips.is_array() || !rows.is_array()) {
        throw badRequest("\"zips\" and \"rows\" must be arrays.");
    }
    checkCount(zips.size() + rows.size(), limits);
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

render::RowTable rowsFromCsv(std::string_view csv, std::string_view column, const StyleOrder& order,
                             const Limits& limits, const std::string& sheet) {
    if (cli::trim(column).empty())
        throw badRequest("Name the CSV column that holds the zip codes.");
    render::RowTable table(order.style == "category");
    const MemoryFile file(csv);
    try {
        const auto reader = openUpload(file, sheet);
        std::vector<std::string> header;
        if (!reader->next(header)) throw badRequest("The upload is empty.");
        const render::RowColumns columns{std::string(cli::trim(column)), order.category,
                                         order.value};
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
    checkCount(table.rowCount(), limits);
    return table;
}

}  // namespace zembra::serve
