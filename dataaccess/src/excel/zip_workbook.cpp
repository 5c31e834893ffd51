// Office Open XML (.xlsx) and OpenDocument (.ods) spreadsheets: a zip archive read with
// libzip, its XML parts streamed through expat. Parts are never held whole; only the cells
// of the sheet asked for (and an .xlsx file's shared strings) are kept, within the limits.
#include <expat.h>
#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <optional>
#include <unordered_map>

#include "../backend.hpp"
#include "workbook.hpp"

namespace zembra::db::detail {

Workbook::~Workbook() = default;

namespace {

constexpr std::string_view kOdsMimetype = "application/vnd.oasis.opendocument.spreadsheet";
constexpr size_t kChunk = 64 * 1024;

// Raised here rather than through raiseDatabase, so that the reader links on its own.
[[noreturn]] void fail(const std::string& name, const std::string& what) {
    throw Error(err::kDatabase, kSourceExcel, "Workbook '" + name + "': " + what);
}

struct ArchiveClose {
    void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveClose>;
struct EntryClose {
    void operator()(zip_file_t* file) const noexcept { zip_fclose(file); }
};
using EntryPtr = std::unique_ptr<zip_file_t, EntryClose>;
struct ParserFree {
    void operator()(XML_Parser parser) const noexcept { XML_ParserFree(parser); }
};
using ParserPtr = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree>;

std::string zipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

// An element or attribute name without its namespace ("uri|local" from expat).
std::string_view localName(const XML_Char* name) {
    std::string_view text(name);
    const size_t bar = text.rfind('|');
    return bar == std::string_view::npos ? text : text.substr(bar + 1);
}

const XML_Char* attribute(const XML_Char** attrs, std::string_view local) {
    for (size_t i = 0; attrs[i] != nullptr; i += 2) {
        if (localName(attrs[i]) == local) return attrs[i + 1];
    }
    return nullptr;
}

// The receiver of one part's XML events. Handlers may throw; the exception is carried past
// expat's C frames and raised again once the parser has stopped.
class XmlHandler {
  public:
    virtual ~XmlHandler() = default;
    virtual void start(std::string_view name, const XML_Char** attrs) = 0;
    virtual void end(std::string_view name) = 0;
    virtual void text(std::string_view) {}
};

struct ParseContext {
    XML_Parser parser = nullptr;
    XmlHandler* handler = nullptr;
    std::exception_ptr error;
    bool doctype = false;
};

template <class F>
void guarded(void* data, F&& f) {
    auto* context = static_cast<ParseContext*>(data);
    if (context->error) return;
    try {
        f(*context->handler);
    } catch (...) {
        context->error = std::current_exception();
        XML_StopParser(context->parser, XML_FALSE);
    }
}

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attrs) {
    guarded(data, [&](XmlHandler& h) { h.start(localName(name), attrs); });
}
void XMLCALL onEnd(void* data, const XML_Char* name) {
    guarded(data, [&](XmlHandler& h) { h.end(localName(name)); });
}
void XMLCALL onText(void* data, const XML_Char* text, int length) {
    guarded(data, [&](XmlHandler& h) { h.text(std::string_view(text, size_t(length))); });
}
// Spreadsheet parts never carry a document type; one is refused, so that no entity can
// be declared (and expanded) at all.
void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto* context = static_cast<ParseContext*>(data);
    context->doctype = true;
    XML_StopParser(context->parser, XML_FALSE);
}

// Text kept from a workbook, counted against the limit for all of it.
class TextBudget {
  public:
    TextBudget(const std::string& name, uint64_t limit)
        : name_(name), limit_(limit), left_(limit) {}
    void spend(size_t bytes) {
        if (bytes > left_) {
            fail(name_, "it holds more than " + std::to_string(limit_) +
                            " bytes of text, the limit for a workbook");
        }
        left_ -= bytes;
    }

  private:
    const std::string& name_;
    uint64_t limit_;
    uint64_t left_;
};

// A sheet's grid as it is filled, cell by cell, with the limits checked before each cell
// is stored.
class GridBuilder {
  public:
    GridBuilder(const std::string& name, const WorkbookLimits& limits)
        : name_(name), limits_(limits) {}

    void set(uint64_t row, uint64_t column, Variant value) {
        if (value.isNull()) return;
        if (row >= limits_.maxRows) {
            fail(name_, "a sheet has more than " + std::to_string(limits_.maxRows) +
                            " rows, the limit for a sheet");
        }
        if (column >= limits_.maxColumns) {
            fail(name_, "row " + std::to_string(row + 1) + " has more than " +
                            std::to_string(limits_.maxColumns) + " cells, the limit for a row");
        }
        auto& rows = grid_.rows;
        if (row >= rows.size()) rows.resize(size_t(row) + 1);
        auto& cells = rows[size_t(row)];
        if (column >= cells.size()) {
            const uint64_t added = column + 1 - cells.size();
            if (added > limits_.maxCells - cellCount_) {
                fail(name_, "a sheet has more than " + std::to_string(limits_.maxCells) +
                                " cells, the limit for a sheet");
            }
            cellCount_ += added;
            cells.resize(size_t(column) + 1, Variant::null());
        }
        cells[size_t(column)] = std::move(value);
        if (cells.size() > grid_.columns) grid_.columns = cells.size();
    }

    SheetGrid take() { return std::move(grid_); }

  private:
    const std::string& name_;
    const WorkbookLimits& limits_;
    SheetGrid grid_;
    uint64_t cellCount_ = 0;
};

// A number stored as a number: Int32 when whole and in range, so that 8873 reads "8873".
Variant numberCell(double value) {
    if (std::isfinite(value) && value == std::floor(value) && value >= -2147483648.0 &&
        value <= 2147483647.0) {
        return Variant(static_cast<int32_t>(value));
    }
    return Variant(value);
}

std::optional<double> parseDouble(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '+')) text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::optional<uint64_t> parseCount(const XML_Char* text) {
    if (text == nullptr) return std::nullopt;
    std::string_view view(text);
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (ec != std::errc() || end != view.data() + view.size() || view.empty()) return std::nullopt;
    return value;
}

class ZipWorkbook final : public Workbook {
  public:
    ZipWorkbook(ArchivePtr archive, std::string name, const WorkbookLimits& limits)
        : archive_(std::move(archive)), name_(std::move(name)), limits_(limits) {
        const zip_int64_t entries = zip_get_num_entries(archive_.get(), 0);
        if (entries < 0 || uint64_t(entries) > limits_.maxEntries) {
            fail(name_, "the archive has more than " + std::to_string(limits_.maxEntries) +
                            " entries, the limit for a workbook");
        }
        if (isOds()) {
            ods_ = true;
            readOdsSheetNames();
        } else if (has("[Content_Types].xml")) {
            readXlsxWorkbook();
        } else {
            fail(name_, "the file is a zip archive but no .xlsx or .ods spreadsheet");
        }
    }

    const std::vector<std::string>& sheetNames() const override { return names_; }

    SheetGrid readSheet(size_t index) const override {
        if (index >= names_.size()) fail(name_, "it has no sheet " + std::to_string(index + 1));
        return ods_ ? readOdsSheet(index) : readXlsxSheet(index);
    }

  private:
    bool has(const std::string& part) const {
        return zip_name_locate(archive_.get(), part.c_str(), 0) >= 0;
    }

    bool isOds() const {
        const zip_int64_t index = zip_name_locate(archive_.get(), "mimetype", 0);
        if (index < 0) return false;
        zip_stat_t st;
        if (zip_stat_index(archive_.get(), zip_uint64_t(index), 0, &st) != 0 ||
            !(st.valid & ZIP_STAT_SIZE) || st.size > 256) {
            return false;
        }
        EntryPtr file(zip_fopen_index(archive_.get(), zip_uint64_t(index), 0));
        if (!file) return false;
        char bytes[256];
        const zip_int64_t got = zip_fread(file.get(), bytes, sizeof bytes);
        return got > 0 && std::string_view(bytes, size_t(got)) == kOdsMimetype;
    }

    // Streams one part through `handler`, after checking its declared size and compression
    // ratio, and counting the bytes actually inflated against both.
    void parse(const std::string& part, XmlHandler& handler) const {
        const zip_int64_t index = zip_name_locate(archive_.get(), part.c_str(), 0);
        if (index < 0) fail(name_, "the part '" + part + "' is missing");
        zip_stat_t st;
        if (zip_stat_index(archive_.get(), zip_uint64_t(index), 0, &st) != 0 ||
            !(st.valid & ZIP_STAT_SIZE) || !(st.valid & ZIP_STAT_COMP_SIZE)) {
            fail(name_, "the size of part '" + part + "' is unknown");
        }
        const uint64_t declared = st.size;
        if (declared > limits_.maxPartBytes) {
            fail(name_, "the part '" + part + "' is " + std::to_string(declared) +
                            " bytes uncompressed, over the limit of " +
                            std::to_string(limits_.maxPartBytes));
        }
        if (declared > kChunk &&
            declared / std::max<uint64_t>(st.comp_size, 1) > limits_.maxRatio) {
            fail(name_, "the part '" + part + "' expands more than " +
                            std::to_string(limits_.maxRatio) +
                            " times, the limit for a compressed part");
        }
        EntryPtr file(zip_fopen_index(archive_.get(), zip_uint64_t(index), 0));
        if (!file) {
            fail(name_, "cannot read part '" + part +
                            "': " + zip_error_strerror(zip_get_error(archive_.get())));
        }
        ParserPtr parser(XML_ParserCreateNS(nullptr, '|'));
        if (!parser) throw std::bad_alloc();
        ParseContext context{parser.get(), &handler, nullptr, false};
        XML_SetUserData(parser.get(), &context);
        XML_SetElementHandler(parser.get(), onStart, onEnd);
        XML_SetCharacterDataHandler(parser.get(), onText);
        XML_SetStartDoctypeDeclHandler(parser.get(), onDoctype);

        std::vector<char> buffer(kChunk);
        uint64_t total = 0;
        bool last = false;
        while (!last) {
            const zip_int64_t got = zip_fread(file.get(), buffer.data(), buffer.size());
            if (got < 0) {
                fail(name_, "cannot read part '" + part + "': " + zip_file_strerror(file.get()));
            }
            total += uint64_t(got);
            if (total > declared) {
                fail(name_, "the part '" + part + "' holds more than its declared " +
                                std::to_string(declared) + " bytes");
            }
            last = got == 0;
            if (XML_Parse(parser.get(), buffer.data(), int(got), last ? XML_TRUE : XML_FALSE) !=
                XML_STATUS_OK) {
                if (context.error) std::rethrow_exception(context.error);
                if (context.doctype) fail(name_, "the part '" + part + "' declares a DOCTYPE");
                fail(name_, "the part '" + part + "' is not well-formed XML (line " +
                                std::to_string(XML_GetCurrentLineNumber(parser.get())) +
                                "): " + XML_ErrorString(XML_GetErrorCode(parser.get())));
            }
        }
        if (context.error) std::rethrow_exception(context.error);
    }

    // Handlers built from lambdas, for the small parts.
    struct Lambdas final : XmlHandler {
        std::function<void(std::string_view, const XML_Char**)> started;
        std::function<void(std::string_view)> ended;
        void start(std::string_view n, const XML_Char** a) override {
            if (started) started(n, a);
        }
        void end(std::string_view n) override {
            if (ended) ended(n);
        }
    };

    // ---- OpenDocument ----

    void readOdsSheetNames() {
        Lambdas names;
        names.started = [this](std::string_view element, const XML_Char** attrs) {
            if (element != "table") return;
            const XML_Char* name = attribute(attrs, "name");
            names_.push_back(name ? name : "Sheet" + std::to_string(names_.size() + 1));
        };
        parse("content.xml", names);
    }

    SheetGrid readOdsSheet(size_t wanted) const;

    // ---- Office Open XML ----

    // The part a relationship's target names, from the folder of the part that holds it.
    static std::string resolve(const std::string& folder, std::string_view target) {
        std::string path =
            target.starts_with('/') ? std::string(target.substr(1)) : folder + std::string(target);
        // Resolve "name/../" pieces.
        std::vector<std::string> pieces;
        size_t start = 0;
        while (start <= path.size()) {
            size_t slash = path.find('/', start);
            if (slash == std::string::npos) slash = path.size();
            const std::string piece = path.substr(start, slash - start);
            if (piece == "..") {
                if (!pieces.empty()) pieces.pop_back();
            } else if (!piece.empty() && piece != ".") {
                pieces.push_back(piece);
            }
            start = slash + 1;
        }
        std::string out;
        for (const auto& piece : pieces) out += (out.empty() ? "" : "/") + piece;
        return out;
    }

    static std::string folderOf(const std::string& part) {
        const size_t slash = part.rfind('/');
        return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
    }

    static std::string relsOf(const std::string& part) {
        const size_t slash = part.rfind('/');
        const std::string file = slash == std::string::npos ? part : part.substr(slash + 1);
        return folderOf(part) + "_rels/" + file + ".rels";
    }

    // Relationship id -> (type, target part) of one part.
    std::unordered_map<std::string, std::pair<std::string, std::string>> relationships(
        const std::string& part) const {
        std::unordered_map<std::string, std::pair<std::string, std::string>> out;
        const std::string rels = relsOf(part);
        if (!has(rels)) return out;
        const std::string folder = folderOf(part);
        Lambdas handler;
        handler.started = [&](std::string_view element, const XML_Char** attrs) {
            if (element != "Relationship") return;
            const XML_Char* id = attribute(attrs, "Id");
            const XML_Char* type = attribute(attrs, "Type");
            const XML_Char* target = attribute(attrs, "Target");
            const XML_Char* mode = attribute(attrs, "TargetMode");
            if (!id || !target || (mode && std::string_view(mode) == "External")) return;
            out[id] = {type ? type : "", resolve(folder, target)};
        };
        parse(rels, handler);
        return out;
    }

    void readXlsxWorkbook() {
        std::string workbook = "xl/workbook.xml";
        for (const auto& [id, relation] : relationships("")) {
            if (relation.first.ends_with("/officeDocument")) workbook = relation.second;
        }
        if (!has(workbook)) fail(name_, "the file is a zip archive but no .xlsx spreadsheet");
        const auto relations = relationships(workbook);
        for (const auto& [id, relation] : relations) {
            if (relation.first.ends_with("/sharedStrings")) sharedStringsPart_ = relation.second;
            if (relation.first.ends_with("/styles")) stylesPart_ = relation.second;
        }
        Lambdas handler;
        handler.started = [&](std::string_view element, const XML_Char** attrs) {
            if (element == "workbookPr") {
                const XML_Char* system = attribute(attrs, "date1904");
                date1904_ = system &&
                            (std::string_view(system) == "1" || std::string_view(system) == "true");
            }
            if (element != "sheet") return;
            const XML_Char* name = attribute(attrs, "name");
            const XML_Char* id = attribute(attrs, "id");  // r:id
            const auto relation = id ? relations.find(id) : relations.end();
            if (!name || relation == relations.end()) return;
            names_.push_back(name);
            sheetParts_.push_back(relation->second.second);
        };
        parse(workbook, handler);
    }

    std::vector<std::string> sharedStrings(TextBudget& budget) const;
    std::vector<bool> dateStyles() const;
    SheetGrid readXlsxSheet(size_t index) const;

    ArchivePtr archive_;
    std::string name_;
    WorkbookLimits limits_;
    bool ods_ = false;
    bool date1904_ = false;
    std::vector<std::string> names_;
    std::vector<std::string> sheetParts_;
    std::string sharedStringsPart_;
    std::string stylesPart_;
};

// ---- Office Open XML cells ----

// True for a number format that shows a date or a time: the built-in ones, or a format
// code with a date or time letter outside quotes, escapes and [colour] sections.
struct DateKind {
    bool date = false;
    bool time = false;
};

DateKind builtinDateKind(uint64_t id) {
    if ((id >= 14 && id <= 17) || (id >= 27 && id <= 31) || (id >= 34 && id <= 36) ||
        (id >= 50 && id <= 58)) {
        return {true, false};
    }
    if ((id >= 18 && id <= 21) || (id >= 32 && id <= 33) || (id >= 45 && id <= 47)) {
        return {false, true};
    }
    if (id == 22) return {true, true};
    return {};
}

DateKind formatDateKind(std::string_view code) {
    DateKind kind;
    bool quoted = false;
    for (size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (quoted) {
            quoted = c != '"';
            continue;
        }
        if (c == '"') {
            quoted = true;
        } else if (c == '\\' || c == '_' || c == '*') {
            ++i;
        } else if (c == '[') {
            const size_t close = code.find(']', i);
            if (close == std::string_view::npos) break;
            const std::string_view inside = code.substr(i + 1, close - i - 1);
            // [h], [mm], [ss]: elapsed time; anything else a colour, condition or locale.
            if (!inside.empty() && (inside[0] == 'h' || inside[0] == 'H' || inside[0] == 'm' ||
                                    inside[0] == 'M' || inside[0] == 's' || inside[0] == 'S')) {
                kind.time = true;
            }
            i = close;
        } else if (c == ';') {
            break;  // the first section decides
        } else {
            switch (c | 0x20) {
                case 'd':
                case 'y':
                    kind.date = true;
                    break;
                case 'h':
                case 's':
                    kind.time = true;
                    break;
                case 'm':
                    // Months, or minutes beside hours; either way a date-time format.
                    if (!kind.time) kind.date = true;
                    break;
                default:
                    break;
            }
        }
    }
    // "mm:ss": minutes, not months.
    if (kind.time && !containsIgnoreCase(code, "d") && !containsIgnoreCase(code, "y")) {
        kind.date = false;
    }
    return kind;
}

std::vector<std::string> ZipWorkbook::sharedStrings(TextBudget& budget) const {
    std::vector<std::string> strings;
    if (sharedStringsPart_.empty() || !has(sharedStringsPart_)) return strings;
    struct Handler final : XmlHandler {
        const ZipWorkbook& book;
        TextBudget& budget;
        std::vector<std::string>& strings;
        std::string current;
        int phonetic = 0;  // inside <rPh>: reading aids, not the text
        bool inText = false;
        Handler(const ZipWorkbook& b, TextBudget& t, std::vector<std::string>& s)
            : book(b), budget(t), strings(s) {}
        void start(std::string_view name, const XML_Char** attrs) override {
            if (name == "sst") {
                // The declared count sizes nothing, but a count over the limit is refused
                // before any string is read.
                for (const char* key : {"uniqueCount", "count"}) {
                    const auto count = parseCount(attribute(attrs, key));
                    if (count && std::string_view(key) == "uniqueCount" &&
                        *count > book.limits_.maxSharedStrings) {
                        tooMany();
                    }
                }
            } else if (name == "si") {
                if (strings.size() >= book.limits_.maxSharedStrings) tooMany();
                current.clear();
            } else if (name == "rPh") {
                ++phonetic;
            } else if (name == "t" && phonetic == 0) {
                inText = true;
            }
        }
        void end(std::string_view name) override {
            if (name == "si") {
                strings.push_back(std::move(current));
                current.clear();
            } else if (name == "rPh") {
                --phonetic;
            } else if (name == "t") {
                inText = false;
            }
        }
        void text(std::string_view t) override {
            if (!inText) return;
            budget.spend(t.size());
            current += t;
        }
        [[noreturn]] void tooMany() const {
            fail(book.name_, "it has more than " + std::to_string(book.limits_.maxSharedStrings) +
                                 " shared strings, the limit for a workbook");
        }
    } handler(*this, budget, strings);
    parse(sharedStringsPart_, handler);
    return strings;
}

std::vector<bool> ZipWorkbook::dateStyles() const {
    std::vector<bool> styles;
    if (stylesPart_.empty() || !has(stylesPart_)) return styles;
    std::unordered_map<uint64_t, DateKind> custom;
    std::vector<uint64_t> formats;
    bool inCellXfs = false;
    Lambdas handler;
    handler.started = [&](std::string_view element, const XML_Char** attrs) {
        if (element == "numFmt") {
            const auto id = parseCount(attribute(attrs, "numFmtId"));
            const XML_Char* code = attribute(attrs, "formatCode");
            if (id && code) custom[*id] = formatDateKind(code);
        } else if (element == "cellXfs") {
            inCellXfs = true;
        } else if (element == "xf" && inCellXfs) {
            if (formats.size() >= limits_.maxCells) fail(name_, "it has too many cell styles");
            formats.push_back(parseCount(attribute(attrs, "numFmtId")).value_or(0));
        }
    };
    handler.ended = [&](std::string_view element) {
        if (element == "cellXfs") inCellXfs = false;
    };
    parse(stylesPart_, handler);
    // Two bits per style: a date, a time.
    styles.reserve(formats.size() * 2);
    for (const uint64_t id : formats) {
        const auto it = custom.find(id);
        const DateKind kind = it != custom.end() ? it->second : builtinDateKind(id);
        styles.push_back(kind.date);
        styles.push_back(kind.time);
    }
    return styles;
}

// "B12" -> column 1 (zero-based) and row 11; nothing for another form.
std::optional<std::pair<uint64_t, uint64_t>> cellReference(std::string_view ref) {
    uint64_t column = 0;
    size_t i = 0;
    while (i < ref.size() && i < 4 && ((ref[i] | 0x20) >= 'a' && (ref[i] | 0x20) <= 'z')) {
        column = column * 26 + uint64_t((ref[i] | 0x20) - 'a' + 1);
        ++i;
    }
    if (i == 0 || i == ref.size()) return std::nullopt;
    uint64_t row = 0;
    const auto [end, ec] = std::from_chars(ref.data() + i, ref.data() + ref.size(), row);
    if (ec != std::errc() || end != ref.data() + ref.size() || row == 0) return std::nullopt;
    return std::pair{column - 1, row - 1};
}

SheetGrid ZipWorkbook::readXlsxSheet(size_t index) const {
    TextBudget budget(name_, limits_.maxTextBytes);
    const std::vector<std::string> strings = sharedStrings(budget);
    const std::vector<bool> dates = dateStyles();
    GridBuilder grid(name_, limits_);

    struct Handler final : XmlHandler {
        const ZipWorkbook& book;
        const std::vector<std::string>& strings;
        const std::vector<bool>& dates;
        TextBudget& budget;
        GridBuilder& grid;
        uint64_t row = 0, column = 0;
        bool rowSeen = false;
        std::string type, value, inlineText;
        uint64_t style = 0;
        bool inValue = false, inInline = false, inText = false;
        int phonetic = 0;

        Handler(const ZipWorkbook& b, const std::vector<std::string>& s, const std::vector<bool>& d,
                TextBudget& t, GridBuilder& g)
            : book(b), strings(s), dates(d), budget(t), grid(g) {}

        void start(std::string_view name, const XML_Char** attrs) override {
            if (name == "row") {
                const auto r = parseCount(attribute(attrs, "r"));
                row = r && *r > 0 ? *r - 1 : (rowSeen ? row + 1 : 0);
                rowSeen = true;
                column = 0;
            } else if (name == "c") {
                if (const XML_Char* ref = attribute(attrs, "r")) {
                    if (const auto at = cellReference(ref)) {
                        column = at->first;
                        row = at->second;
                    }
                }
                const XML_Char* t = attribute(attrs, "t");
                type = t ? t : "n";
                style = parseCount(attribute(attrs, "s")).value_or(0);
                value.clear();
                inlineText.clear();
            } else if (name == "v") {
                inValue = true;
            } else if (name == "is") {
                inInline = true;
            } else if (name == "rPh") {
                ++phonetic;
            } else if (name == "t" && inInline && phonetic == 0) {
                inText = true;
            }
        }

        void end(std::string_view name) override {
            if (name == "v") {
                inValue = false;
            } else if (name == "is") {
                inInline = false;
            } else if (name == "rPh") {
                --phonetic;
            } else if (name == "t") {
                inText = false;
            } else if (name == "c") {
                grid.set(row, column, cell());
                ++column;
            }
        }

        void text(std::string_view t) override {
            if (inValue) {
                budget.spend(t.size());
                value += t;
            } else if (inText) {
                budget.spend(t.size());
                inlineText += t;
            }
        }

        static Variant textCell(std::string text) {
            return text.empty() ? Variant::null() : Variant(std::move(text));
        }

        Variant cell() {
            if (type == "s") {
                const auto at = parseCount(value.c_str());
                if (!at || *at >= strings.size()) {
                    fail(book.name_, "a cell refers to shared string '" + value + "' of " +
                                         std::to_string(strings.size()));
                }
                return textCell(strings[size_t(*at)]);
            }
            if (type == "inlineStr") return textCell(std::move(inlineText));
            if (type == "b") return value.empty() ? Variant::null() : Variant(value != "0");
            if (type == "str" || type == "e") return textCell(std::move(value));
            if (type == "d") {
                for (char& c : value) c = c == 'T' ? ' ' : c;
                return textCell(std::move(value));
            }
            if (value.empty()) return Variant::null();
            const auto number = parseDouble(value);
            if (!number) return textCell(std::move(value));
            if (style * 2 + 1 < dates.size() && (dates[style * 2] || dates[style * 2 + 1])) {
                std::string text =
                    serialDateText(*number, book.date1904_, dates[style * 2], dates[style * 2 + 1]);
                if (!text.empty()) return Variant(std::move(text));
            }
            return numberCell(*number);
        }
    } handler(*this, strings, dates, budget, grid);
    parse(sheetParts_[index], handler);
    return grid.take();
}

// ---- OpenDocument cells ----

// "PT13H45M00S" as "13:45:00"; the text unchanged when it has another form.
std::string odsTime(const std::string& duration) {
    unsigned hours = 0, minutes = 0;
    double seconds = 0;
    if (std::sscanf(duration.c_str(), "PT%uH%uM%lfS", &hours, &minutes, &seconds) != 3) {
        return duration;
    }
    char out[32];
    std::snprintf(out, sizeof out, "%02u:%02u:%02u", hours % 1000, minutes % 100,
                  unsigned(seconds) % 100);
    return out;
}

SheetGrid ZipWorkbook::readOdsSheet(size_t wanted) const {
    TextBudget budget(name_, limits_.maxTextBytes);
    GridBuilder grid(name_, limits_);
    struct Handler final : XmlHandler {
        const ZipWorkbook& book;
        TextBudget& budget;
        GridBuilder& grid;
        size_t wanted;
        size_t table = 0;
        bool inTable = false;
        int annotation = 0;  // comments hold paragraphs that are not the cell's text
        uint64_t row = 0, column = 0, rowRepeat = 1, columnRepeat = 1;
        std::vector<std::pair<uint64_t, Variant>> rowCells;
        bool inCell = false;
        int paragraphs = 0;
        bool inParagraph = false;
        std::optional<Variant> typed;  // the value an attribute gives
        std::string content;

        Handler(const ZipWorkbook& b, TextBudget& t, GridBuilder& g, size_t w)
            : book(b), budget(t), grid(g), wanted(w) {}

        // A repeat count, capped far above every limit so that sums of them cannot wrap.
        static uint64_t repeat(const XML_Char** attrs, const char* key) {
            const auto count = parseCount(attribute(attrs, key));
            return count && *count > 0 ? std::min<uint64_t>(*count, uint64_t{1} << 32) : 1;
        }

        void start(std::string_view name, const XML_Char** attrs) override {
            if (name == "table") {
                inTable = table == wanted;
                ++table;
                return;
            }
            if (!inTable) return;
            if (name == "annotation") {
                ++annotation;
            } else if (name == "table-row") {
                rowRepeat = repeat(attrs, "number-rows-repeated");
                column = 0;
                rowCells.clear();
            } else if (name == "table-cell" || name == "covered-table-cell") {
                inCell = true;
                columnRepeat = repeat(attrs, "number-columns-repeated");
                paragraphs = 0;
                content.clear();
                typed.reset();
                const XML_Char* type = attribute(attrs, "value-type");
                const std::string_view kind = type ? type : "";
                const XML_Char* number = attribute(attrs, "value");
                if ((kind == "float" || kind == "percentage" || kind == "currency") && number) {
                    if (const auto v = parseDouble(number)) typed = numberCell(*v);
                } else if (kind == "date") {
                    if (const XML_Char* date = attribute(attrs, "date-value")) {
                        std::string out(date);
                        for (char& c : out) c = c == 'T' ? ' ' : c;
                        typed = Variant(out);
                    }
                } else if (kind == "time") {
                    if (const XML_Char* time = attribute(attrs, "time-value")) {
                        typed = Variant(odsTime(time));
                    }
                } else if (kind == "boolean") {
                    if (const XML_Char* b = attribute(attrs, "boolean-value")) {
                        typed = Variant(std::string_view(b) == "true");
                    }
                }
            } else if (inCell && annotation == 0) {
                if (name == "p") {
                    if (paragraphs++ > 0) add("\n");
                    inParagraph = true;
                } else if (name == "s" && inParagraph) {
                    add(std::string(size_t(std::min<uint64_t>(repeat(attrs, "c"), 1024)), ' '));
                } else if (name == "tab" && inParagraph) {
                    add("\t");
                } else if (name == "line-break" && inParagraph) {
                    add("\n");
                }
            }
        }

        void add(std::string_view piece) {
            budget.spend(piece.size());
            content += piece;
        }

        void end(std::string_view name) override {
            if (name == "table") {
                inTable = false;
                return;
            }
            if (!inTable) return;
            if (name == "annotation") {
                --annotation;
            } else if (name == "p") {
                inParagraph = false;
            } else if (name == "table-cell" || name == "covered-table-cell") {
                inCell = false;
                Variant value = typed ? std::move(*typed)
                                      : (content.empty() ? Variant::null() : Variant(content));
                if (!value.isNull()) {
                    // A repeated non-empty cell stands for that many cells, each counted.
                    if (column + columnRepeat > book.limits_.maxColumns) {
                        grid.set(row, book.limits_.maxColumns, value);  // raises the row limit
                    }
                    for (uint64_t i = 0; i < columnRepeat; ++i) {
                        rowCells.emplace_back(column + i, value);
                    }
                }
                column += columnRepeat;
            } else if (name == "table-row") {
                // Empty rows, repeated or not, only move the row on.
                for (uint64_t r = 0; !rowCells.empty() && r < rowRepeat; ++r) {
                    for (const auto& [at, value] : rowCells) grid.set(row + r, at, value);
                }
                row += rowRepeat;
                rowCells.clear();
            }
        }

        void text(std::string_view t) override {
            if (inTable && inCell && inParagraph && annotation == 0) add(t);
        }
    } handler(*this, budget, grid, wanted);
    parse("content.xml", handler);
    return grid.take();
}

// Days from 1970-01-01 to a civil date, and back (proleptic Gregorian calendar).
void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

}  // namespace

std::string serialDateText(double serial, bool date1904, bool withDate, bool withTime) {
    if (!std::isfinite(serial) || serial < 0 || serial >= 2958466) return {};
    double days = std::floor(serial);
    // Whole seconds, rounded; a time that rounds up to midnight moves to the next day.
    int64_t seconds = std::llround((serial - days) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        days += 1;
    }
    char out[40];
    std::string text;
    if (withDate) {
        int64_t y = 1900;
        unsigned m = 2, d = 29;
        // The 1900 system counts a 29 February 1900 that never was (serial 60); days before
        // it are one off from the calendar.
        const auto serialDays = static_cast<int64_t>(days);
        if (date1904 || serialDays != 60) {
            int64_t fromEpoch =
                date1904 ? serialDays - 24107 : serialDays - 25569 + (serialDays < 60 ? 1 : 0);
            civilFromDays(fromEpoch, y, m, d);
        }
        if (y < 1900 || y > 9999) return {};
        std::snprintf(out, sizeof out, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
        text = out;
    }
    if (withTime) {
        std::snprintf(
            out, sizeof out, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
        text += (text.empty() ? "" : " ") + std::string(out);
    }
    return text;
}

namespace {

constexpr std::string_view kZipSignature("PK\x03\x04", 4);
constexpr std::string_view kCompoundSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

}  // namespace

HeadKind headKind(std::string_view head) {
    if (head.starts_with(kCompoundSignature)) return HeadKind::Compound;
    if (head.starts_with(kZipSignature)) return HeadKind::Zip;
    return HeadKind::Other;
}

bool startsAsZip(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[kZipSignature.size()] = {};
    return in.read(head, sizeof head) &&
           headKind(std::string_view(head, sizeof head)) == HeadKind::Zip;
}

WorkbookFormat sniffWorkbook(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[kCompoundSignature.size()] = {};
    in.read(head, sizeof head);
    const HeadKind kind = headKind(std::string_view(head, size_t(in.gcount())));
    if (kind == HeadKind::Compound) return WorkbookFormat::Xls;
    if (kind != HeadKind::Zip) return WorkbookFormat::Unknown;
    int error = 0;
    ArchivePtr archive(zip_open(path.c_str(), ZIP_RDONLY, &error));
    if (!archive) return WorkbookFormat::Unknown;
    const zip_int64_t mimetype = zip_name_locate(archive.get(), "mimetype", 0);
    if (mimetype >= 0) {
        EntryPtr file(zip_fopen_index(archive.get(), zip_uint64_t(mimetype), 0));
        char bytes[128];
        const zip_int64_t got = file ? zip_fread(file.get(), bytes, sizeof bytes) : -1;
        if (got > 0 && std::string_view(bytes, size_t(got)) == kOdsMimetype) {
            return WorkbookFormat::Ods;
        }
    }
    if (zip_name_locate(archive.get(), "[Content_Types].xml", 0) >= 0) return WorkbookFormat::Xlsx;
    return WorkbookFormat::Unknown;
}

std::unique_ptr<Workbook> openZipWorkbook(const std::string& path, const WorkbookLimits& limits) {
    int error = 0;
    ArchivePtr archive(zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive) fail(path, "the zip archive cannot be read: " + zipErrorText(error));
    return std::make_unique<ZipWorkbook>(std::move(archive), path, limits);
}

std::unique_ptr<Workbook> openZipWorkbook(std::span<const uint8_t> bytes, const std::string& name,
                                          const WorkbookLimits& limits) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (!source) {
        zip_error_fini(&error);
        throw std::bad_alloc();
    }
    ArchivePtr archive(zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive) {
        zip_source_free(source);
        const std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        fail(name, "the zip archive cannot be read: " + text);
    }
    zip_error_fini(&error);
    return std::make_unique<ZipWorkbook>(std::move(archive), name, limits);
}

}  // namespace zembra::db::detail
