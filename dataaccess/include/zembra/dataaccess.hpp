// Zembra data access: connections and forward-only record sets over SQLite, ODBC
// and the Excel workbook provider.
//
// Connection strings:
//   - a bare name (no "="): first an ODBC data source of that name (compared
//     case-insensitively), otherwise the embedded zip-code database shipped with
//     the program;
//   - a string with "Driver=" or "DSN=": handed to ODBC unchanged;
//   - "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<file.xls>;Extended Properties=..."
//     with "Excel 8.0": the workbook provider ("SELECT * FROM [Sheet$]", the first
//     row naming the columns).
// Failures raise zembra::Error number -2147467259 with the driver's own text.
#pragma once

#include <zembra/runtime.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#define ZEMBRA_DATAACCESS_API __attribute__((visibility("default")))

namespace zembra::db {

namespace detail {
class CursorImpl;
class ConnectionImpl;
}  // namespace detail

// Number raised when a field name or position does not exist in a record set.
inline constexpr int32_t kItemNotFound = 3265;

// A forward-only set of rows. The first row (if any) is current after execute().
class ZEMBRA_DATAACCESS_API Recordset {
public:
    Recordset();
    explicit Recordset(std::unique_ptr<detail::CursorImpl> impl);
    Recordset(Recordset&&) noexcept;
    Recordset& operator=(Recordset&&) noexcept;
    ~Recordset();

    bool eof() const;  // true when there is no current row (also after close())
    int32_t fieldCount() const;
    std::string fieldName(int32_t index) const;
    // The current row's value: Null for SQL NULL, integers as Int32 (Double when
    // they do not fit), reals as Double, text as String. Names are matched
    // case-insensitively; an unknown name or position raises kItemNotFound.
    Variant field(std::string_view name) const;
    Variant field(int32_t index) const;
    void moveNext();
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

    void open(std::string_view connectionString, std::string_view user = {},
              std::string_view password = {});
    bool isOpen() const;
    // Runs SQL text and returns its rows; statements without rows give an empty set.
    Recordset execute(std::string_view sql);
    void close();

private:
    std::shared_ptr<detail::ConnectionImpl> impl_;
};

}  // namespace zembra::db
