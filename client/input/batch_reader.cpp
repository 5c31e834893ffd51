#include "batch_reader.hpp"

#include <algorithm>
#include <cstring>
#include <zembra/dataaccess.hpp>
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

bool hasHighBytes(std::string_view text) noexcept {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return true;
        }
    }
    return false;
}

// The field at `position` of a comma-separated line, or false when the line has fewer
// fields. An empty line has none.
bool fieldAt(std::string_view line, std::size_t position, std::string_view& field) noexcept {
    if (line.empty()) {
        return false;
    }
    const char* p = line.data();
    const char* const end = p + line.size();
    for (std::size_t i = 0; i < position; ++i) {
        const void* comma = std::memchr(p, ',', static_cast<std::size_t>(end - p));
        if (comma == nullptr) {
            return false;
        }
        p = static_cast<const char*>(comma) + 1;
    }
    const void* comma = std::memchr(p, ',', static_cast<std::size_t>(end - p));
    const char* stop = comma != nullptr ? static_cast<const char*>(comma) : end;
    field = std::string_view(p, static_cast<std::size_t>(stop - p));
    return true;
}

ZipSet readCsv(const BatchSource& source, const NoticeFn& notice) {
    ZipSet zips;
    TextLineReader reader(source.csvPath);
    if (reader.atEnd()) {
        return zips;
    }

    std::string_view line;
    reader.nextLine(line);
    const std::vector<std::string> header = splitAtCommas(windows1252ToUtf8(line));
    const std::string_view wanted = trimText(source.csvFieldName);
    std::size_t position = 0;
    bool found = false;
    for (; position < header.size(); ++position) {
        if (trimText(header[position]) == wanted) {
            found = true;
            break;
        }
    }
    if (!found) {
        if (notice) {
            notice(kFieldNotFoundMessage);
        }
        return zips;
    }

    // Trimming commutes with the code-page conversion (a blank is one byte in both), so
    // the raw bytes are trimmed and only values with bytes above 0x7F are converted.
    std::string converted;
    std::string_view field;
    while (reader.nextLine(line)) {
        if (!fieldAt(line, position, field)) {
            continue;
        }
        const std::string_view value = trimText(field);
        if (hasHighBytes(value)) {
            converted.clear();
            appendWindows1252AsUtf8(value, converted);
            zips.add(converted);
        } else {
            zips.add(value);
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

}  // namespace

ZipSet ReadBatchData(const BatchSource& source, const NoticeFn& notice) {
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
    return readCsv(source, notice);
}

}  // namespace zembra::client
