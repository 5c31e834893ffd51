// Private interface between the data-access core (connection.cpp) and its back ends
// (sqlite/, odbc/, excel/). Each back end opens a ConnectionImpl; a ConnectionImpl runs SQL
// text and hands back a CursorImpl that reads one row at a time into Variants.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/dataaccess.hpp>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

namespace zembra::db::detail {

// Sources of the errors this layer raises, naming the layer and the back end.
inline constexpr const char* kSourceCore = "Zembra.Data";
inline constexpr const char* kSourceSqlite = "Zembra.Data.SQLite";
inline constexpr const char* kSourceOdbc = "Zembra.Data.ODBC";
inline constexpr const char* kSourceExcel = "Zembra.Data.Excel";

// A database failure (number err::kDatabase) with the given text.
[[noreturn]] void raiseDatabase(const char* source, std::string description);

// One "key=value" piece of a connection string. valueBegin/valueEnd locate the raw value
// (quotes or braces included) in the original text.
struct Attribute {
    std::string rawKey;  // as written
    std::string key;     // trimmed
    std::string value;   // trimmed, unquoted
    size_t valueBegin = 0;
    size_t valueEnd = 0;
};

// Splits a connection string at ';' into attributes. A value may be quoted with '"' or '\''
// (a doubled quote stands for one) as OLE DB strings are, or put in braces as ODBC
// strings are, so that it can hold ';'. Pieces without '=' are skipped.
std::vector<Attribute> parseAttributes(std::string_view text);

// The first attribute whose key equals `key` ignoring case, or null.
const Attribute* findAttribute(const std::vector<Attribute>& attrs, std::string_view key);

// The connection string with the values of PWD= and Password= replaced by "***", for
// messages that quote it.
std::string maskPasswords(std::string_view connectionString);

// Why a file a back end was given cannot be opened ("The <noun> 'path' does not exist.", a
// folder, or not readable with the system's reason); nothing when it looks usable.
std::optional<std::string> describeUnusableFile(const std::string& path, std::string_view noun);

// Appends each SQL text executed to the file named by ZEMBRA_SQL_TRACE (read when the
// connection opens); does nothing when the variable is unset or empty.
class SqlTrace {
  public:
    static SqlTrace fromEnvironment();
    bool enabled() const noexcept { return !path_.empty(); }
    void write(std::string_view sql) const;

  private:
    std::string path_;
};

// A forward-only cursor. The back end supplies the column names and fetchRow(); the first
// row is fetched by start(), which the back end calls once the cursor is set up.
class CursorImpl {
  public:
    virtual ~CursorImpl();

    bool eof() const noexcept { return eof_; }
    const std::vector<std::string>& names() const noexcept { return names_; }
    const std::vector<Variant>& row() const noexcept { return row_; }
    void moveNext();

  protected:
    // Reads the next row into `row` (one Variant per column). Returns false when there
    // are no more rows. Raises Error on a driver failure.
    virtual bool fetchRow(std::vector<Variant>& row) = 0;
    void start();

    std::vector<std::string> names_;

  private:
    std::vector<Variant> row_;
    bool eof_ = true;
};

class ConnectionImpl {
  public:
    virtual ~ConnectionImpl();
    // Runs SQL text; statements without rows give a cursor with no columns at its end.
    virtual std::unique_ptr<CursorImpl> execute(std::string_view sql) = 0;

    enum class Transaction { Begin, Commit, Rollback };
    // Checks that the step fits the state (one transaction at a time), then takes it.
    void transaction(Transaction step);
    bool inTransaction() const noexcept { return inTransaction_; }

  protected:
    // The back end's own step. By default the SQL statements BEGIN, COMMIT and ROLLBACK.
    virtual void takeStep(Transaction step);

  private:
    bool inTransaction_ = false;
};

// A cursor with no rows, for statements that return none.
std::unique_ptr<CursorImpl> emptyCursor(std::vector<std::string> names = {});

// Back ends. Each raises err::kDatabase with its driver's own text when it cannot open.
// immutable: the file cannot change while it is open (the shipped database), so SQLite
// may skip its locking and change checks.
std::shared_ptr<ConnectionImpl> openSqlite(const std::string& path, SqlTrace trace,
                                           bool immutable = false);
// The embedded zip-code database: ZEMBRA_ZIPCODES_DB when set, otherwise zipcodes.db in
// the data folder found relative to this library.
std::string embeddedDatabasePath();
// Opens embeddedDatabasePath(), as immutable when it is the shipped file.
std::shared_ptr<ConnectionImpl> openEmbeddedDatabase(SqlTrace trace);

std::shared_ptr<ConnectionImpl> openOdbc(const std::string& connectionString, SqlTrace trace);
// `name` when it names a configured ODBC data source (user or system, compared ignoring case);
// empty when there is none.
std::string findOdbcDataSource(std::string_view name);

std::shared_ptr<ConnectionImpl> openExcel(const std::string& workbookPath, SqlTrace trace);
// The sheet names of a workbook file, as openExcel reads it.
std::vector<std::string> excelSheetNames(const std::string& workbookPath);

}  // namespace zembra::db::detail
