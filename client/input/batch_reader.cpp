#include "batch_reader.hpp"

#include <algorithm>
#include <cstring>
#include <zembra/dataaccess.hpp>
#include <zembra/render/csv.hpp>
#include <zembra/render/rows.hpp>
#include <zembra/runtime.hpp>

#include "main_module.hpp"
#include "text_file.hpp"

namespace zembra::client {

std::size_t ZipSet::find(std::string_view zip, uint64_t hash) const noexcept {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.item == 0) {
            return i;
        }
        if (slot.hash != hash) {
            continue;
        }
        if (zip.size() <= kInline) {
            // An empty view may have no data pointer at all, which memcmp must not see.
            if (slot.length == zip.size() &&
                (zip.empty() || std::memcmp(slot.bytes.data(), zip.data(), zip.size()) == 0)) {
                return i;
            }
        } else if (slot.length == kLong && items_[slot.item - 1] == zip) {
            return i;
        }
    }
}

void ZipSet::grow() {
    std::vector<Slot> old(std::max<std::size_t>(64, slots_.size() * 2));
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.item == 0) {
            continue;
        }
        std::size_t i = static_cast<std::size_t>(slot.hash) & mask;
        while (slots_[i].item != 0) {
            i = (i + 1) & mask;
        }
        slots_[i] = slot;
    }
}

bool ZipSet::contains(std::string_view zip) const {
    if (slots_.empty()) {
        return false;
    }
    return slots_[find(zip, std::hash<std::string_view>{}(zip))].item != 0;
}

bool ZipSet::add(std::string_view zip) {
    if ((items_.size() + 1) * 2 > slots_.size()) {
        grow();
    }
    const uint64_t hash = std::hash<std::string_view>{}(zip);
    Slot& slot = slots_[find(zip, hash)];
    if (slot.item != 0) {
        return false;
    }
    items_.emplace_back(zip);
    slot.hash = hash;
    slot.item = static_cast<uint32_t>(items_.size());
    if (zip.size() <= kInline) {
        slot.length = static_cast<uint8_t>(zip.size());
        if (!zip.empty()) {
            std::memcpy(slot.bytes.data(), zip.data(), zip.size());
        }
    } else {
        slot.length = kLong;
    }
    return true;
}

std::string bracketName(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 2);
    out.push_back('[');
    for (const char c : name) {
        out.push_back(c);
        if (c == ']') {
            out.push_back(']');
        }
    }
    out.push_back(']');
    return out;
}

std::string accessConnectionString(std::string_view path) {
    return "Driver={Microsoft Access Driver (*.mdb)}; DBQ=" + std::string(path);
}

std::string excelConnectionString(std::string_view path) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + std::string(path) +
           ";Extended Properties=\"Excel 8.0;\"";
}

std::string fieldQuery(std::string_view table, std::string_view field) {
    return "SELECT " + bracketName(field) + " FROM " + bracketName(table);
}

std::string sheetQuery(std::string_view sheet) {
    // The "$" that marks a sheet sits inside the brackets, after the escaped name.
    std::string name(sheet);
    name.push_back('$');
    return "SELECT * FROM " + bracketName(name);
}

namespace {

ZipSet readCsv(const BatchSource& source, const NoticeFn& notice, char* separator) {
    ZipSet zips;
    if (source.csvPath.empty()) {
        throw Error::standard(err::kFileNotFound, kClientErrorSource, "(no file name)");
    }
    requireRegularFile(source.csvPath);
    render::CsvReader reader(source.csvPath, "Zembra", csvOptions());
    if (reader.atEnd()) {
        return zips;
    }

    std::vector<std::string> fields;
    reader.next(fields);
    if (separator != nullptr) *separator = reader.separator();
    const std::optional<std::size_t> position =
        render::findField(fields, source.csvFieldName, render::NameMatch::Exact);
    if (!position) {
        if (notice) {
            notice(kFieldNotFoundMessage);
        }
        return zips;
    }
    // A record too short for the chosen field (an empty line included) adds nothing; a
    // blank field adds the empty text once.
    while (reader.next(fields)) {
        if (fields.size() > *position) {
            zips.add(trimText(fields[*position]));
        }
    }
    return zips;
}

ZipSet readDatabase(const std::string& connectionString, const std::string& query,
                    const BatchSource& source, bool byPosition) {
    ZipSet zips;
    db::Connection connection;
    connection.open(connectionString, "", "");
    db::Recordset rows = connection.execute(query);
    if (!rows.eof()) {
        if (byPosition) {
            // Excel columns go by zero-based position: the index text as a 16-bit integer,
            // half to even; raises 13 or 6.
            const int32_t column = Variant(source.fieldName).toInt16();
            for (; !rows.eof(); rows.moveNext()) {
                const std::string value = CleanValue(rows.field(column));
                if (!value.empty()) {
                    zips.add(value);
                }
            }
        } else {
            for (; !rows.eof(); rows.moveNext()) {
                const std::string value = CleanValue(rows.field(source.fieldName));
                if (!value.empty()) {
                    zips.add(value);
                }
            }
        }
        rows.close();
    }
    // The record set and the connection close in their destructors, also on an error.
    return zips;
}

void readCsvRows(const BatchSource& source, const NoticeFn& notice, render::RowTable& table) {
    if (source.csvPath.empty()) {
        throw Error::standard(err::kFileNotFound, kClientErrorSource, "(no file name)");
    }
    requireRegularFile(source.csvPath);
    render::CsvReader reader(source.csvPath, "Zembra", csvOptions());
    std::vector<std::string> header;
    if (!reader.next(header)) return;
    const render::RowColumns columns{source.csvFieldName, source.categoryField, source.valueField};
    if (!render::findField(header, columns.code, render::NameMatch::Exact)) {
        if (notice) notice(kFieldNotFoundMessage);
        return;
    }
    std::string missing;
    const auto positions = render::findColumns(header, columns, render::NameMatch::Exact, &missing);
    if (!positions) {
        throw Error::standard(err::kInvalidArgument, kClientErrorSource,
                              "Column '" + missing + "' could not be found in the file.");
    }
    render::readRows(reader, *positions, columns, table);
}

// An Excel column index as the written reader reads it: a 16-bit integer, half to even.
render::ColumnRef sheetColumn(const std::string& index) {
    return render::ColumnRef(static_cast<int>(Variant(index).toInt16()));
}

std::optional<render::ColumnRef> optionalColumn(const std::string& field, bool byPosition) {
    if (field.empty()) return std::nullopt;
    return byPosition ? sheetColumn(field) : render::ColumnRef(field);
}

}  // namespace

render::RowTable ReadBatchRows(const BatchSource& source, const NoticeFn& notice, bool byCategory) {
    render::RowTable table(byCategory);
    if (!source.access && !source.excel && !source.sqlServer) {
        readCsvRows(source, notice, table);
        return table;
    }
    const bool byPosition = !source.access && source.excel;
    render::QueryColumns columns{
        byPosition ? sheetColumn(source.fieldName) : render::ColumnRef(source.fieldName),
        optionalColumn(source.categoryField, byPosition),
        optionalColumn(source.valueField, byPosition)};
    if (byPosition) {
        render::readQueryRows(excelConnectionString(source.excelPath), sheetQuery(source.tableName),
                              columns, table);
        return table;
    }
    const render::RowColumns names{source.fieldName, source.categoryField, source.valueField};
    const std::string query = render::rowsQuery(source.tableName, names);
    render::readQueryRows(
        source.access ? accessConnectionString(source.accessPath) : source.connString, query,
        columns, table);
    return table;
}

ZipSet ReadBatchData(const BatchSource& source, const NoticeFn& notice, char* csvSeparator) {
    if (csvSeparator != nullptr) *csvSeparator = 0;
    if (source.access) {
        return readDatabase(accessConnectionString(source.accessPath),
                            fieldQuery(source.tableName, source.fieldName), source, false);
    }
    if (source.excel) {
        return readDatabase(excelConnectionString(source.excelPath), sheetQuery(source.tableName),
                            source, true);
    }
    if (source.sqlServer) {
        return readDatabase(source.connString, fieldQuery(source.tableName, source.fieldName),
                            source, false);
    }
    return readCsv(source, notice, csvSeparator);
}

}  // namespace zembra::client
