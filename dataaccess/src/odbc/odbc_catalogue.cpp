// Saying which table or field a failed statement names that is not there, with the names
// that are, from the driver's catalogue functions (SQLTables, SQLColumns). mdbtools answers
// a missing table or field with "Couldn't parse SQL" and nothing else.
#include <algorithm>
#include <array>
#include <cctype>

#include "odbc.hpp"

namespace zembra::db::detail {

namespace {

// More names than this are cut short in a message.
constexpr size_t kNamesShown = 40;
// Catalogue rows read at most, so a huge catalogue cannot stall the error path.
constexpr size_t kCatalogueRowLimit = 10000;

struct Token {
    enum class Kind { Word, QuotedName, Literal, Symbol };
    Kind kind;
    std::string text;  // a quoted name without its quotes
};

bool isWordChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || c == '$' || c == '#' || c == '@' || u >= 0x80;
}

// Splits SQL text into words, quoted names ([x], "x", `x`), literals and symbols. Returns
// nothing when a quote is not closed.
std::optional<std::vector<Token>> tokenize(std::string_view sql) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '[' || c == '"' || c == '`' || c == '\'') {
            const char close = c == '[' ? ']' : c;
            std::string text;
            bool closed = false;
            for (++i; i < sql.size(); ++i) {
                if (sql[i] != close) {
                    text += sql[i];
                } else if (i + 1 < sql.size() && sql[i + 1] == close) {
                    text += close;
                    ++i;
                } else {
                    closed = true;
                    ++i;
                    break;
                }
            }
            if (!closed) return std::nullopt;
            tokens.push_back({c == '\'' ? Token::Kind::Literal : Token::Kind::QuotedName, text});
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            const size_t start = i;
            while (i < sql.size() && (isWordChar(sql[i]) || sql[i] == '.')) ++i;
            tokens.push_back({Token::Kind::Literal, std::string(sql.substr(start, i - start))});
        } else if (isWordChar(c)) {
            const size_t start = i;
            while (i < sql.size() && isWordChar(sql[i])) ++i;
            tokens.push_back({Token::Kind::Word, std::string(sql.substr(start, i - start))});
        } else {
            tokens.push_back({Token::Kind::Symbol, std::string(1, c)});
            ++i;
        }
    }
    return tokens;
}

bool isKeyword(const Token& token, std::string_view word) {
    return token.kind == Token::Kind::Word && equalsIgnoreCase(token.text, word);
}

bool isSymbol(const Token& token, char symbol) {
    return token.kind == Token::Kind::Symbol && token.text.size() == 1 && token.text[0] == symbol;
}

bool isName(const Token& token) {
    static constexpr std::array kReserved{"AND",   "OR",       "NOT",  "NULL",   "IS",    "LIKE",
                                          "IN",    "BETWEEN",  "TRUE", "FALSE",  "AS",    "ESCAPE",
                                          "ORDER", "GROUP",    "BY",   "HAVING", "LIMIT", "ASC",
                                          "DESC",  "DISTINCT", "ALL",  "TOP"};
    if (token.kind == Token::Kind::QuotedName) return true;
    if (token.kind != Token::Kind::Word) return false;
    return std::none_of(kReserved.begin(), kReserved.end(),
                        [&](const char* word) { return equalsIgnoreCase(token.text, word); });
}

// The table and the plain field names of "SELECT fields FROM table [WHERE condition]".
// Qualified names, function calls and joins are not looked into.
struct NamedInStatement {
    std::string table;
    std::vector<std::string> fields;
};

std::optional<NamedInStatement> namesIn(std::string_view sql) {
    const auto tokens = tokenize(sql);
    if (!tokens || tokens->empty() || !isKeyword(tokens->front(), "SELECT")) return std::nullopt;
    const std::vector<Token>& t = *tokens;
    size_t from = 1;
    int depth = 0;
    for (; from < t.size(); ++from) {
        if (isSymbol(t[from], '(')) ++depth;
        if (isSymbol(t[from], ')')) --depth;
        if (depth == 0 && isKeyword(t[from], "FROM")) break;
    }
    if (from + 1 >= t.size() || !isName(t[from + 1])) return std::nullopt;
    if (from + 2 < t.size() && isSymbol(t[from + 2], '.')) return std::nullopt;
    NamedInStatement named{t[from + 1].text, {}};

    // The select list: items that are one plain name, with or without an alias.
    size_t itemStart = 1;
    while (itemStart < from &&
           (isKeyword(t[itemStart], "DISTINCT") || isKeyword(t[itemStart], "ALL"))) {
        ++itemStart;
    }
    for (size_t i = itemStart; i <= from; ++i) {
        if (i < from && !isSymbol(t[i], ',')) continue;
        const size_t length = i - itemStart;
        const bool alias = length == 3 && isKeyword(t[itemStart + 1], "AS");
        if ((length == 1 || length == 2 || alias) && isName(t[itemStart]) &&
            (length != 2 || isName(t[itemStart + 1]))) {
            named.fields.push_back(t[itemStart].text);
        }
        itemStart = i + 1;
    }

    // The condition: names that are not qualified and not function names.
    size_t next = from + 2;
    if (next < t.size() && isKeyword(t[next], "WHERE")) {
        for (size_t i = next + 1; i < t.size(); ++i) {
            if (isKeyword(t[i], "ORDER") || isKeyword(t[i], "GROUP") || isSymbol(t[i], ';')) break;
            const bool qualified =
                (i > 0 && isSymbol(t[i - 1], '.')) || (i + 1 < t.size() && isSymbol(t[i + 1], '.'));
            const bool call = i + 1 < t.size() && isSymbol(t[i + 1], '(');
            if (isName(t[i]) && !qualified && !call) named.fields.push_back(t[i].text);
        }
    } else if (next < t.size() && !isSymbol(t[next], ';') && !isKeyword(t[next], "ORDER") &&
               !isKeyword(t[next], "GROUP")) {
        named.fields.clear();  // an alias, a join or more tables: fields may be elsewhere
    }
    return named;
}

// Text of one catalogue column of the current row; empty for Null.
std::string columnText(SQLHSTMT stmt, SQLUSMALLINT column) {
    std::array<char, 1024> buffer{};
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, buffer.data(),
                              static_cast<SQLLEN>(buffer.size()), &indicator);
    if (!SQL_SUCCEEDED(rc) || indicator == SQL_NULL_DATA) return {};
    return std::string(buffer.data());
}

StmtPtr newStatement(SQLHDBC dbc) {
    SQLHANDLE raw = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &raw))) return {};
    return StmtPtr(raw);
}

// The names of the user tables and views, or nothing when the driver cannot list them.
std::optional<std::vector<std::string>> tableNames(SQLHDBC dbc) {
    StmtPtr stmt = newStatement(dbc);
    if (!stmt ||
        !SQL_SUCCEEDED(SQLTables(stmt.get(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0))) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (names.size() < kCatalogueRowLimit && SQL_SUCCEEDED(SQLFetch(stmt.get()))) {
        std::string name = columnText(stmt.get(), 3);
        const std::string type = columnText(stmt.get(), 4);
        if (!name.empty() && !containsIgnoreCase(type, "SYSTEM")) names.push_back(name);
    }
    // In name order, as an operator would look for one (drivers list them in any order).
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return compareIgnoreCase(a, b) < 0;
    });
    return names;
}

// The fields of one table, in their order.
std::optional<std::vector<std::string>> fieldNames(SQLHDBC dbc, const std::string& table) {
    StmtPtr stmt = newStatement(dbc);
    std::string pattern = table;
    if (!stmt || !SQL_SUCCEEDED(SQLColumns(stmt.get(), nullptr, 0, nullptr, 0,
                                           reinterpret_cast<SQLCHAR*>(pattern.data()),
                                           static_cast<SQLSMALLINT>(pattern.size()), nullptr, 0))) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (names.size() < kCatalogueRowLimit && SQL_SUCCEEDED(SQLFetch(stmt.get()))) {
        // '_' in the table name is a pattern character: keep this table's rows only.
        if (!equalsIgnoreCase(columnText(stmt.get(), 3), table)) continue;
        std::string name = columnText(stmt.get(), 4);
        if (!name.empty()) names.push_back(name);
    }
    return names;
}

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size() && i < kNamesShown; ++i) {
        if (i > 0) text += ", ";
        text += names[i];
    }
    if (names.size() > kNamesShown) {
        text += " and " + std::to_string(names.size() - kNamesShown) + " more";
    }
    return text;
}

const std::string* findName(const std::vector<std::string>& names, std::string_view name) {
    auto it = std::find_if(names.begin(), names.end(),
                           [&](const std::string& n) { return equalsIgnoreCase(n, name); });
    return it == names.end() ? nullptr : &*it;
}

}  // namespace

std::optional<std::string> explainMissingNames(SQLHDBC dbc, std::string_view sql) {
    const auto named = namesIn(sql);
    if (!named) return std::nullopt;
    const auto tables = tableNames(dbc);
    if (!tables || tables->empty()) return std::nullopt;
    const std::string* table = findName(*tables, named->table);
    if (!table) {
        return "There is no table '" + named->table + "'; the tables are: " + listed(*tables) + ".";
    }
    const auto fields = fieldNames(dbc, *table);
    if (!fields || fields->empty()) return std::nullopt;
    std::vector<std::string> missing;
    for (const std::string& field : named->fields) {
        if (!findName(*fields, field) && !findName(missing, field)) missing.push_back(field);
    }
    if (missing.empty()) return std::nullopt;
    std::string which = missing.size() == 1 ? "no field " : "no fields ";
    for (size_t i = 0; i < missing.size() && i < kNamesShown; ++i) {
        which += (i > 0 ? ", '" : "'") + missing[i] + "'";
    }
    return "Table '" + *table + "' has " + which + "; its fields are: " + listed(*fields) + ".";
}

}  // namespace zembra::db::detail
