// Private pieces of the ODBC back end shared by its files: handle ownership, diagnostics,
// the bounded connect and the explanations added to drivers' unhelpful messages.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../backend.hpp"

namespace zembra::db::detail {

template <SQLSMALLINT Type>
struct HandleFree {
    void operator()(SQLHANDLE handle) const noexcept { SQLFreeHandle(Type, handle); }
};
using EnvPtr = std::unique_ptr<void, HandleFree<SQL_HANDLE_ENV>>;
using DbcPtr = std::unique_ptr<void, HandleFree<SQL_HANDLE_DBC>>;
using StmtPtr = std::unique_ptr<void, HandleFree<SQL_HANDLE_STMT>>;

struct Diagnostics {
    std::string text;                 // "[SQLSTATE] message" per record, one per line
    std::vector<std::string> states;  // the SQLSTATEs given, in order
    bool hasSqlState() const noexcept { return !states.empty(); }
    bool hasState(std::string_view state) const;
};

// Reads every diagnostic record of a handle. Call it right after the failed call.
Diagnostics readDiagnostics(SQLSMALLINT type, SQLHANDLE handle);

// The message for a failed call: the driver's text, and when that carries no SQLSTATE or is
// empty (mdbtools), which operation failed on what (`subject`).
std::string describeFailure(const char* operation, const Diagnostics& diag,
                            const std::string& subject);

// Raises the handle's diagnostics for a failed call (see describeFailure).
[[noreturn]] void raiseOdbc(const char* operation, SQLSMALLINT type, SQLHANDLE handle,
                            const std::string& subject);

EnvPtr allocateEnvironment();

// Held while this layer reads unixODBC's configuration (data-source and driver entries): those
// calls share a cache inside the driver manager. Never held across a connect, so one stuck
// connect cannot block the others.
std::mutex& odbcConfigMutex();

// The text without blanks at either end.
std::string_view trimmed(std::string_view text);

// Environment and connection handles of an open connection; disconnects before freeing.
struct OdbcDatabase {
    EnvPtr env;
    DbcPtr dbc;  // after `env`: freed first
    bool connected = false;
    SqlTrace trace;

    ~OdbcDatabase() {
        if (connected) SQLDisconnect(dbc.get());
    }
};

// Connects with a deadline (see odbc_connect.cpp): returns a connected database or raises
// err::kDatabase, within kConnectDeadlineSeconds whatever the server does.
inline constexpr int kConnectDeadlineSeconds = 8;
std::shared_ptr<OdbcDatabase> connectOdbc(const std::string& connectionString, SqlTrace trace);

// After SQLExecDirect failed on `sql`: when the statement names a table or field the
// driver's catalogue does not have, a sentence saying so and listing the names there are.
std::optional<std::string> explainMissingNames(SQLHDBC dbc, std::string_view sql);

}  // namespace zembra::db::detail
