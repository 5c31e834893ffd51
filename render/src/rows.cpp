#include <zembra/dataaccess.hpp>
#include <zembra/render/rows.hpp>
#include <zembra/runtime.hpp>

namespace zembra::render {

namespace {

constexpr std::string_view kSource = "Zembra";

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

std::string bracketed(std::string_view name) {
    std::string out = "[";
    for (const char c : name) {
        out += c;
        if (c == ']') out += ']';
    }
    return out + "]";
}

// "1,234,567.5" without its commas when they group thousands, else nothing.
std::optional<std::string> ungrouped(std::string_view text) {
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    size_t digits = 0;
    std::string out;
    for (size_t i = whole.size(); i-- > 0;) {
        const char c = whole[i];
        if (c == ',') {
            if (digits != 3 || i == 0) return std::nullopt;
            digits = 0;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        ++digits;
        out.insert(out.begin(), c);
    }
    if (digits == 0) return std::nullopt;
    if (point != std::string_view::npos) out += text.substr(point);
    return out;
}

std::string cellText(const Variant& value) {
    if (value.isNull()) return {};
    return std::string(trimBlanks(value.toString()));
}

Variant fieldOf(const db::Recordset& rows, const ColumnRef& column) {
    if (const auto* name = std::get_if<std::string>(&column)) return rows.field(*name);
    return rows.field(static_cast<int32_t>(std::get<int>(column)));
}

}  // namespace

void RowTable::add(std::string_view code, std::string_view category, std::optional<double> value) {
    code = trimBlanks(code);
    if (code.empty()) return;
    category = trimBlanks(category);
    std::string key(code);
    if (byCategory_) {
        key += '\0';
        key += category;
    }
    auto [it, added] = index_.try_emplace(std::move(key), entries_.size());
    if (added) entries_.push_back({std::string(code), std::string(category), 0, 0, 0});
    CodeRows& entry = entries_[it->second];
    ++entry.rows;
    if (value) {
        entry.sum += *value;
        ++entry.valued;
    }
    ++rows_;
}

std::vector<std::string> RowTable::codes() const {
    std::vector<std::string> out;
    if (!byCategory_) {
        out.reserve(entries_.size());
        for (const auto& e : entries_) out.push_back(e.code);
        return out;
    }
    std::unordered_map<std::string_view, bool> seen;
    for (const auto& e : entries_) {
        if (seen.try_emplace(e.code, true).second) out.push_back(e.code);
    }
    return out;
}

std::optional<ColumnPositions> findColumns(const std::vector<std::string>& header,
                                           const RowColumns& columns, NameMatch match,
                                           std::string* missing) {
    const auto find = [&](const std::string& name) -> std::optional<size_t> {
        const auto at = findField(header, name, match);
        if (!at && missing != nullptr) *missing = name;
        return at;
    };
    ColumnPositions out;
    const auto code = find(columns.code);
    if (!code) return std::nullopt;
    out.code = *code;
    if (!columns.category.empty()) {
        out.category = find(columns.category);
        if (!out.category) return std::nullopt;
    }
    if (!columns.value.empty()) {
        out.value = find(columns.value);
        if (!out.value) return std::nullopt;
    }
    return out;
}

std::optional<double> parseValue(std::string_view text) {
    text = trimBlanks(text);
    if (text.empty()) return std::nullopt;
    if (isNumericText(text)) return parseNumber(text);
    bool negative = false;
    std::string_view rest = text;
    if (rest.front() == '-') {
        negative = true;
        rest.remove_prefix(1);
    }
    if (!rest.empty() && rest.front() == '$') rest.remove_prefix(1);
    if (rest.find(',') == std::string_view::npos) {
        if (!rest.empty() && rest.size() < text.size() && isNumericText(rest) &&
            rest.front() != '-' && rest.front() != '+' && rest.front() != ' ') {
            const double v = parseNumber(rest);
            return negative ? -v : v;
        }
    } else if (const auto plain = ungrouped(rest)) {
        if (isNumericText(*plain)) {
            const double v = parseNumber(*plain);
            return negative ? -v : v;
        }
    }
    throw Error::standard(err::kTypeMismatch, std::string(kSource),
                          "'" + std::string(text) + "' is not a number");
}

void readRows(RecordSource& in, const ColumnPositions& positions, const RowColumns& names,
              RowTable& table) {
    std::vector<std::string> fields;
    const auto at = [&](const std::optional<size_t>& position) -> std::string_view {
        return position && *position < fields.size() ? std::string_view(fields[*position])
                                                     : std::string_view();
    };
    while (in.next(fields)) {
        if (positions.code >= fields.size()) continue;
        std::optional<double> value;
        try {
            value = parseValue(at(positions.value));
        } catch (const Error& e) {
            throw e.withContext(in.name() + ", " + in.position() + ", column " + names.value);
        }
        table.add(fields[positions.code], at(positions.category), value);
    }
}

std::string rowsQuery(std::string_view table, const RowColumns& columns) {
    std::string query = "SELECT " + bracketed(columns.code);
    if (!columns.category.empty()) query += ", " + bracketed(columns.category);
    if (!columns.value.empty()) query += ", " + bracketed(columns.value);
    return query + " FROM " + bracketed(table);
}

void readQueryRows(const std::string& connectionString, const std::string& query,
                   const QueryColumns& columns, RowTable& table) {
    db::Connection connection;
    connection.open(connectionString, "", "");
    db::Recordset rows = connection.execute(query);
    size_t row = 0;
    for (; !rows.eof(); rows.moveNext()) {
        ++row;
        const std::string code = cellText(fieldOf(rows, columns.code));
        if (code.empty()) continue;
        const std::string category =
            columns.category ? cellText(fieldOf(rows, *columns.category)) : std::string();
        std::optional<double> value;
        if (columns.value) {
            const Variant cell = fieldOf(rows, *columns.value);
            try {
                if (cell.isNumeric()) {
                    value = cell.toDouble();
                } else if (!cell.isNull()) {
                    value = parseValue(cell.toString());
                }
            } catch (const Error& e) {
                throw e.withContext("row " + std::to_string(row));
            }
        }
        table.add(code, category, value);
    }
}

}  // namespace zembra::render
