// ODBC back end over unixODBC: data sources, Access files through mdbtools, SQL Server
// through FreeTDS, or any other registered driver.
#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <mutex>

#include "odbc.hpp"

namespace zembra::db::detail {

bool Diagnostics::hasState(std::string_view state) const {
    return std::find(states.begin(), states.end(), state) != states.end();
}

Diagnostics readDiagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    Diagnostics result;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
        SQLINTEGER native = 0;
        std::string message(512, '\0');
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRec(type, handle, record, state, &native,
                                     reinterpret_cast<SQLCHAR*>(message.data()),
                                     static_cast<SQLSMALLINT>(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
            message.assign(static_cast<size_t>(length) + 1, '\0');
            rc = SQLGetDiagRec(type, handle, record, state, &native,
                               reinterpret_cast<SQLCHAR*>(message.data()),
                               static_cast<SQLSMALLINT>(message.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc)) break;
        message.resize(
            std::min(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), message.size()));
        while (!message.empty() && (message.back() == '\0' || message.back() == '\n')) {
            message.pop_back();
        }
        std::string line;
        if (state[0] != '\0') {
            result.states.emplace_back(reinterpret_cast<const char*>(state));
            line = "[" + result.states.back() + "] ";
        }
        line += message;
        if (!result.text.empty()) result.text += '\n';
        result.text += line;
    }
    return result;
}

// Some drivers (mdbtools) give no record at all, or a bare text without SQLSTATE such as
// "Couldn't parse SQL"; then the message also says which operation failed and on what.
std::string describeFailure(const char* operation, const Diagnostics& diag,
                            const std::string& subject) {
    if (diag.text.empty()) {
        return std::string(operation) +
               " failed and the ODBC driver gave no diagnostic: " + subject;
    }
    if (!diag.hasSqlState()) return diag.text + " (" + operation + ": " + subject + ")";
    return diag.text;
}

void raiseOdbc(const char* operation, SQLSMALLINT type, SQLHANDLE handle,
               const std::string& subject) {
    raiseDatabase(kSourceOdbc, describeFailure(operation, readDiagnostics(type, handle), subject));
}

EnvPtr allocateEnvironment() {
    SQLHANDLE raw = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw))) {
        raiseDatabase(kSourceOdbc, "Cannot allocate an ODBC environment");
    }
    EnvPtr env(raw);
    SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return env;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

namespace {

bool isIntegerType(SQLSMALLINT type, SQLSMALLINT scale) {
    switch (type) {
        case SQL_INTEGER:
        case SQL_SMALLINT:
        case SQL_TINYINT:
        case SQL_BIGINT:
            return true;
        case SQL_NUMERIC:
        case SQL_DECIMAL:
            return scale == 0;
        default:
            return false;
    }
}

bool isRealType(SQLSMALLINT type) {
    return type == SQL_REAL || type == SQL_FLOAT || type == SQL_DOUBLE || type == SQL_NUMERIC ||
           type == SQL_DECIMAL;
}

bool isBinaryType(SQLSMALLINT type) {
    return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

// Converts the character form of a value to the Variant its column type calls for;
// text that does not parse as the type says stays text.
Variant convert(std::string text, SQLSMALLINT type, SQLSMALLINT scale) {
    std::string_view digits = trimmed(text);
    const char* first = digits.data();
    const char* last = digits.data() + digits.size();
    if (isIntegerType(type, scale)) {
        long long value = 0;
        auto [end, ec] = std::from_chars(first, last, value);
        if (ec == std::errc() && end == last && !digits.empty()) {
            if (value >= INT32_MIN && value <= INT32_MAX)
                return Variant(static_cast<int32_t>(value));
            return Variant(static_cast<double>(value));
        }
    }
    if (isRealType(type) || isIntegerType(type, scale)) {
        double value = 0;
        auto [end, ec] = std::from_chars(first, last, value);
        if (ec == std::errc() && end == last && !digits.empty()) return Variant(value);
    }
    if (type == SQL_BIT && (digits == "0" || digits == "1")) return Variant(digits == "1");
    return Variant(std::move(text));
}

struct Column {
    std::string name;
    SQLSMALLINT type = SQL_UNKNOWN_TYPE;
    SQLSMALLINT scale = 0;
};

class OdbcCursor final : public CursorImpl {
  public:
    OdbcCursor(std::shared_ptr<OdbcDatabase> db, StmtPtr stmt, std::string sql,
               SQLSMALLINT columnCount)
        : db_(std::move(db)), stmt_(std::move(stmt)), sql_(std::move(sql)) {
        for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(columnCount); ++i) {
            Column column;
            std::string name(256, '\0');
            SQLSMALLINT nameLength = 0;
            SQLULEN size = 0;
            SQLSMALLINT nullable = 0;  // not used: mdbtools reports it wrongly
            SQLRETURN rc = SQLDescribeCol(stmt_.get(), i, reinterpret_cast<SQLCHAR*>(name.data()),
                                          static_cast<SQLSMALLINT>(name.size()), &nameLength,
                                          &column.type, &size, &column.scale, &nullable);
            if (SQL_SUCCEEDED(rc) && nameLength >= static_cast<SQLSMALLINT>(name.size())) {
                name.assign(static_cast<size_t>(nameLength) + 1, '\0');
                rc = SQLDescribeCol(stmt_.get(), i, reinterpret_cast<SQLCHAR*>(name.data()),
                                    static_cast<SQLSMALLINT>(name.size()), &nameLength,
                                    &column.type, &size, &column.scale, &nullable);
            }
            if (!SQL_SUCCEEDED(rc)) raiseOdbc("SQLDescribeCol", SQL_HANDLE_STMT, stmt_.get(), sql_);
            name.resize(
                std::min(static_cast<size_t>(std::max<SQLSMALLINT>(nameLength, 0)), name.size()));
            column.name = name.c_str();
            names_.push_back(column.name);
            columns_.push_back(std::move(column));
        }
        start();
    }

  private:
    bool fetchRow(std::vector<Variant>& row) override {
        if (done_) return false;
        SQLRETURN rc = SQLFetch(stmt_.get());
        if (rc == SQL_NO_DATA) {
            done_ = true;
            return false;
        }
        if (!SQL_SUCCEEDED(rc)) {
            done_ = true;
            raiseOdbc("SQLFetch", SQL_HANDLE_STMT, stmt_.get(), sql_);
        }
        // Columns are read in order: drivers need not allow SQLGetData out of order.
        for (size_t i = 0; i < columns_.size(); ++i) {
            row.push_back(readColumn(static_cast<SQLUSMALLINT>(i + 1), columns_[i]));
        }
        return true;
    }

    // Reads one column of the current row with SQLGetData, in chunks for long data. Text
    // and numbers come as SQL_C_CHAR (every driver supports that conversion) and are then
    // typed by the column's SQL type. mdbtools returns '' as SQL_NULL_DATA, so an empty
    // Access text arrives here as Null.
    Variant readColumn(SQLUSMALLINT index, const Column& column) {
        const bool binary = isBinaryType(column.type);
        const SQLSMALLINT target = binary ? SQL_C_BINARY : SQL_C_CHAR;
        const SQLLEN usable =
            binary ? sizeof(buffer_) : sizeof(buffer_) - 1;  // C text ends in '\0'
        std::string data;
        bool any = false;
        while (true) {
            SQLLEN indicator = 0;
            SQLRETURN rc =
                SQLGetData(stmt_.get(), index, target, buffer_.data(), sizeof(buffer_), &indicator);
            if (rc == SQL_NO_DATA) break;  // every chunk has been read
            if (!SQL_SUCCEEDED(rc)) raiseOdbc("SQLGetData", SQL_HANDLE_STMT, stmt_.get(), sql_);
            if (indicator == SQL_NULL_DATA) return Variant::null();
            any = true;
            bool truncated =
                rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator > usable);
            if (truncated) {
                data.append(buffer_.data(), static_cast<size_t>(usable));
                continue;
            }
            SQLLEN got = std::min(indicator, usable);
            if (got > 0) data.append(buffer_.data(), static_cast<size_t>(got));
            break;
        }
        if (!any) return Variant::null();
        if (binary) return Variant(std::vector<uint8_t>(data.begin(), data.end()));
        return convert(std::move(data), column.type, column.scale);
    }

    std::shared_ptr<OdbcDatabase> db_;  // declared first: outlives the statement
    StmtPtr stmt_;
    std::string sql_;
    std::vector<Column> columns_;
    std::array<char, 4096> buffer_{};
    bool done_ = false;
};

class OdbcConnection final : public ConnectionImpl {
  public:
    explicit OdbcConnection(std::shared_ptr<OdbcDatabase> db) : db_(std::move(db)) {}
    // Many drivers refuse to disconnect with a transaction open: roll it back first.
    ~OdbcConnection() override {
        if (inTransaction()) SQLEndTran(SQL_HANDLE_DBC, db_->dbc.get(), SQL_ROLLBACK);
    }
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // ODBC's own transactions: auto-commit off for the transaction, then SQLEndTran.
    void takeStep(Transaction step) override {
        SQLHANDLE dbc = db_->dbc.get();
        if (step != Transaction::Begin &&
            !SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc,
                                      step == Transaction::Commit ? SQL_COMMIT : SQL_ROLLBACK))) {
            raiseOdbc("SQLEndTran", SQL_HANDLE_DBC, dbc, "");
        }
        const auto mode = step == Transaction::Begin ? SQL_AUTOCOMMIT_OFF : SQL_AUTOCOMMIT_ON;
        if (!SQL_SUCCEEDED(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                                             reinterpret_cast<SQLPOINTER>(mode), 0))) {
            raiseOdbc("SQLSetConnectAttr", SQL_HANDLE_DBC, dbc, "");
        }
    }

    std::unique_ptr<CursorImpl> execute(std::string_view sqlText) override {
        std::string sql(sqlText);
        if (sql.size() > static_cast<size_t>(INT_MAX))
            raiseDatabase(kSourceOdbc, "SQL text too long");
        SQLHANDLE raw = SQL_NULL_HANDLE;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, db_->dbc.get(), &raw))) {
            raiseOdbc("SQLAllocHandle", SQL_HANDLE_DBC, db_->dbc.get(), sql);
        }
        StmtPtr stmt(raw);
        db_->trace.write(sql);
        SQLRETURN rc = SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(sql.data()),
                                     static_cast<SQLINTEGER>(sql.size()));
        if (rc == SQL_NO_DATA) return emptyCursor();  // a statement that touched no rows
        if (!SQL_SUCCEEDED(rc)) {
            // The driver's text first (read before any other call), then what the catalogue
            // says is missing: mdbtools only says "Couldn't parse SQL".
            std::string text =
                describeFailure("SQLExecDirect", readDiagnostics(SQL_HANDLE_STMT, stmt.get()), sql);
            stmt.reset();
            if (auto missing = explainMissingNames(db_->dbc.get(), sql)) {
                text = *missing + " " + text;
            }
            raiseDatabase(kSourceOdbc, std::move(text));
        }
        SQLSMALLINT columns = 0;
        if (!SQL_SUCCEEDED(SQLNumResultCols(stmt.get(), &columns))) {
            raiseOdbc("SQLNumResultCols", SQL_HANDLE_STMT, stmt.get(), sql);
        }
        if (columns <= 0) return emptyCursor();
        return std::make_unique<OdbcCursor>(db_, std::move(stmt), std::move(sql), columns);
    }

  private:
    std::shared_ptr<OdbcDatabase> db_;
};

}  // namespace

std::shared_ptr<ConnectionImpl> openOdbc(const std::string& connectionString, SqlTrace trace) {
    return std::make_shared<OdbcConnection>(connectOdbc(connectionString, std::move(trace)));
}

std::mutex& odbcConfigMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace zembra::db::detail
