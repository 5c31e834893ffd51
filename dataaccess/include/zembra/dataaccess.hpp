// Zembra data access: connections and forward-only record sets over SQLite, ODBC
// and the Excel workbook provider.
//
// Connection strings:
//   - a bare name (no "="): first an ODBC data source of that name (compared
//     case-insensitively); otherwise, for the engine's default name "zipcodes" only (in
//     any case), the embedded zip-code database shipped with the program (zipcodes.db in
//     the data folder beside the library's folder, or the file named by
//     ZEMBRA_ZIPCODES_DB), opened read-only; any other name fails, naming it. A zip-code
//     database that is not a regular file (a FIFO, a device, a folder) is refused at once;
//   - "Provider=Zembra.Embedded": the embedded zip-code database, whatever data sources
//     are configured;
//   - a string with "Driver=" or "DSN=": handed to ODBC unchanged;
//   - "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<file.xls>;Extended Properties=..."
//     with "Excel 8.0": the workbook provider ("SELECT * FROM [Sheet$]", the first
//     row naming the columns). The file may be an Excel 97-2003 workbook, an .xlsx or an
//     .ods spreadsheet, whatever its name: its first bytes decide. Numbers stored as numbers
//     come out as Int32 when whole (else Double), dates and times as text
//     ("2024-01-15", "2024-01-15 13:45:00"), empty cells as Null.
// Failures raise zembra::Error number -2147467259 with the driver's own text. Where that text
// says nothing useful, the layer puts what is wrong before it: a database file that does not
// exist, a table or field that is not there with the names that are.
//
// An ODBC connect ends within 8 seconds whatever the server does; one the driver cannot end
// by itself is abandoned with "The server did not answer in time" (its handles then stay with
// the driver until it returns, or for good if it never does).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include <zembra/runtime.hpp>

#define ZEMBRA_DATAACCESS_API __attribute__((visibility("default")))

namespace zembra::db {

namespace detail {
class CursorImpl;
class ConnectionImpl;
}  // namespace detail

// The provider name of the embedded zip-code database in a connection string.
inline constexpr const char* kEmbeddedProvider = "Zembra.Embedded";
// Number raised when a field name or position does not exist in a record set.
inline constexpr int32_t kItemNotFound = 3265;
// Number raised when a field is read or moveNext() is called with no current row.
inline constexpr int32_t kNoCurrentRecord = 3021;
// Number raised when a closed record set is used.
inline constexpr int32_t kObjectClosed = 3704;
// Number raised by open() on a connection that is already open.
inline constexpr int32_t kObjectOpen = 3705;
// Number raised by execute() on a connection that is not open.
inline constexpr int32_t kConnectionClosed = 3709;

// A forward-only set of rows. The first row (if any) is current after execute().
class ZEMBRA_DATAACCESS_API Recordset {
  public:
    Recordset();
    explicit Recordset(std::unique_ptr<detail::CursorImpl> impl);
    Recordset(Recordset&&) noexcept;
    Recordset& operator=(Recordset&&) noexcept;
    ~Recordset();

    bool eof() const;  // true when there is no current row (also after close())
    // The number of columns (also when there are no rows). Raises kObjectClosed after close().
    int32_t fieldCount() const;
    // The name of the column at a zero-based position; kItemNotFound outside 0..count-1.
    std::string fieldName(int32_t index) const;
    // The current row's value: Null for SQL NULL, integers as Int32 (Double when
    // they do not fit), reals as Double, text as String. Names are matched
    // case-insensitively; an unknown name or position raises kItemNotFound.
    // Raises kNoCurrentRecord at the end, kObjectClosed after close().
    Variant field(std::string_view name) const;
    Variant field(int32_t index) const;
    // Moves to the next row (eof() once past the last). Raises kNoCurrentRecord when
    // already at the end, err::kDatabase when the driver fails while fetching.
    void moveNext();
    // Releases the rows; closing twice is harmless.
    void close();

  private:
    std::unique_ptr<detail::CursorImpl> impl_;
};

class ZEMBRA_DATAACCESS_API Connection {
  public:
    Connection();
    Connection(Connection&&) noexcept;
    Connection& operator=(Connection&&) noexcept;
    ~Connection();

    // Opens the source the connection string names (see the top of this file); a user
    // and password, when given, go to ODBC as UID= and PWD=. Raises err::kDatabase with
    // the driver's text when it cannot open, kObjectOpen when already open.
    void open(std::string_view connectionString, std::string_view user = {},
              std::string_view password = {});
    bool isOpen() const;
    // Runs SQL text and returns its rows; statements without rows give an empty set.
    // Raises err::kDatabase with the driver's text on failure, kConnectionClosed when
    // the connection is not open. Record sets stay readable after the connection closes.
    // When ZEMBRA_SQL_TRACE named a file at open(), each SQL text is appended to it.
    Recordset execute(std::string_view sql);
    // Transactions: after beginTrans() the statements executed take effect together at
    // commitTrans() or not at all after rollbackTrans(); a connection closed or destroyed
    // with a transaction open rolls it back. Raises err::kDatabase with the driver's text
    // when the driver refuses, and when beginTrans() finds a transaction open or
    // commitTrans()/rollbackTrans() finds none; kConnectionClosed when not open.
    void beginTrans();
    void commitTrans();
    void rollbackTrans();
    // Closes the connection; closing twice is harmless and it may be opened again.
    void close();

  private:
    std::shared_ptr<detail::ConnectionImpl> impl_;
};

// True when the file's content is a workbook the Excel provider reads (.xls, .xlsx or .ods),
// whatever its name, or any other zip archive (which the provider then refuses with its
// reason); false for anything else, unreadable files included.
ZEMBRA_DATAACCESS_API bool isWorkbookFile(const std::string& path);
// The same test on a file's first bytes (eight are enough), for input that cannot be
// opened again by name, such as standard input.
ZEMBRA_DATAACCESS_API bool startsLikeWorkbook(std::string_view head);

// The connection string the Excel provider takes for a workbook file.
ZEMBRA_DATAACCESS_API std::string workbookConnectionString(const std::string& path);

// A workbook's sheet names in the workbook's order. Raises err::kDatabase as open() does.
ZEMBRA_DATAACCESS_API std::vector<std::string> workbookSheetNames(const std::string& path);

}  // namespace zembra::db
