// Connecting through ODBC within a bounded time, whatever the driver and the server do.
//
// Three layers: the login and connection timeout attributes (drivers that honour them fail
// on their own); a TDS protocol version for FreeTDS when the string names none (its
// automatic version detection arms no timer at all); and a deadline this layer keeps
// itself, for drivers that ignore the attributes or restart their timer on every byte: the
// connect runs on a worker thread and the caller stops waiting after the deadline.
#include <odbcinst.h>

#include <array>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "odbc.hpp"

namespace zembra::db::detail {

namespace {

// Seconds a driver may take to reach the server and to log in; below the deadline, so a
// driver that honours them reports its own text.
constexpr SQLULEN kLoginTimeoutSeconds = 5;
// The protocol version given to FreeTDS when the string names none: 7.4 is what servers
// since 2012 speak, and older servers answer a login with their own version.
constexpr const char* kFreeTdsVersion = "7.4";

// Drivers differ in how they read blanks around keywords: the SQL Server form
// "Driver={SQL Server}; Server=...; Database=..." has a blank before each keyword, which
// some drivers (SQLite's) do not skip. Keywords go to the driver without outer blanks;
// values, braced ones included, go unchanged.
std::string tidyKeywords(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t keyStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ';') ++i;
        out += trimmed(text.substr(keyStart, i - keyStart));
        if (i == text.size()) break;
        out += text[i];
        if (text[i++] == ';') continue;
        const std::size_t valueStart = i;
        while (i < text.size() && text[i] == ' ') ++i;
        if (i < text.size() && text[i] == '{') {
            // A braced value ends at its closing brace ("}}" stands for one brace).
            for (++i; i < text.size(); ++i) {
                if (text[i] != '}') continue;
                if (i + 1 < text.size() && text[i + 1] == '}') {
                    ++i;
                    continue;
                }
                ++i;
                break;
            }
        }
        while (i < text.size() && text[i] != ';') ++i;
        out += text.substr(valueStart, i - valueStart);
    }
    return out;
}

// One value of unixODBC's configuration ("ODBC.INI" for data sources, "ODBCINST.INI" for
// drivers); empty when absent.
std::string configValue(const std::string& section, const char* key, const char* file) {
    std::array<char, 1024> value{};
    std::lock_guard lock(odbcConfigMutex());
    int length = SQLGetPrivateProfileString(section.c_str(), key, "", value.data(),
                                            static_cast<int>(value.size()), file);
    return length > 0 ? std::string(value.data()) : std::string();
}

// The shared library of a driver named in a string or a data source (a path is its own).
std::string driverLibrary(const std::string& driver) {
    if (driver.find('/') != std::string::npos) return driver;
    return configValue(driver, "Driver", "ODBCINST.INI");
}

// Adds TDS_Version when the driver is FreeTDS and neither the string, its data source, the
// environment (TDSVER) nor a freetds.conf entry (Servername=) chooses a version.
std::string withProtocolVersion(std::string text) {
    const std::vector<Attribute> attrs = parseAttributes(text);
    std::string library;
    std::string dataSource;
    if (const Attribute* driver = findAttribute(attrs, "Driver")) {
        library = driverLibrary(driver->value);
    } else if (const Attribute* dsn = findAttribute(attrs, "DSN")) {
        dataSource = dsn->value;
        library = driverLibrary(configValue(dataSource, "Driver", "ODBC.INI"));
    }
    if (library.find("tdsodbc") == std::string::npos) return text;
    for (const char* key : {"TDS_Version", "Servername"}) {
        if (findAttribute(attrs, key)) return text;
        if (!dataSource.empty() && !configValue(dataSource, key, "ODBC.INI").empty()) return text;
    }
    if (const char* env = std::getenv("TDSVER"); env && *env) return text;
    if (!text.empty() && text.back() != ';') text += ';';
    return text + "TDS_Version=" + kFreeTdsVersion + ";";
}

// State shared by the caller and the worker thread of one connect. Whoever lets go last
// frees the handles, so a connect that finishes after the caller gave up is disconnected
// and freed by its worker.
struct ConnectAttempt {
    EnvPtr env;
    DbcPtr dbc;  // after `env`: freed first
    std::string text;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool connected = false;
    Diagnostics diag;

    ~ConnectAttempt() {
        if (connected) SQLDisconnect(dbc.get());
    }
};

// The worker: the only code touching the handles until `finished` is set.
void runConnectAttempt(const std::shared_ptr<ConnectAttempt>& attempt) {
    std::array<SQLCHAR, 1024> completed{};
    SQLSMALLINT completedLength = 0;
    SQLRETURN rc = SQLDriverConnect(
        attempt->dbc.get(), nullptr, reinterpret_cast<SQLCHAR*>(attempt->text.data()),
        static_cast<SQLSMALLINT>(attempt->text.size()), completed.data(),
        static_cast<SQLSMALLINT>(completed.size()), &completedLength, SQL_DRIVER_NOPROMPT);
    Diagnostics diag;
    if (!SQL_SUCCEEDED(rc)) diag = readDiagnostics(SQL_HANDLE_DBC, attempt->dbc.get());
    std::lock_guard lock(attempt->mutex);
    attempt->connected = SQL_SUCCEEDED(rc);
    attempt->diag = std::move(diag);
    attempt->finished = true;
    attempt->done.notify_one();
}

bool saysTimedOut(const Diagnostics& diag) {
    if (diag.hasState("HYT00") || diag.hasState("HYT01")) return true;
    return containsIgnoreCase(diag.text, "timeout") || containsIgnoreCase(diag.text, "timed out");
}

// What is wrong with the database file a file-based driver (DBQ=) was given, if anything:
// mdbtools says nothing at all about a missing file.
std::optional<std::string> unusableDatabaseFile(const std::string& connectionString) {
    const std::vector<Attribute> attrs = parseAttributes(connectionString);
    const Attribute* file = findAttribute(attrs, "DBQ");
    if (!file || file->value.empty()) return std::nullopt;
    return describeUnusableFile(file->value, "database file");
}

}  // namespace

std::shared_ptr<OdbcDatabase> connectOdbc(const std::string& connectionString, SqlTrace trace) {
    const std::string shown = std::string("\"").append(maskPasswords(connectionString)) + "\"";
    if (connectionString.size() > static_cast<size_t>(SHRT_MAX) / 2) {
        raiseDatabase(kSourceOdbc, "Connection string too long");
    }
    auto attempt = std::make_shared<ConnectAttempt>();
    attempt->env = allocateEnvironment();
    SQLHANDLE raw = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, attempt->env.get(), &raw))) {
        raiseOdbc("SQLAllocHandle", SQL_HANDLE_ENV, attempt->env.get(), shown);
    }
    attempt->dbc.reset(raw);
    SQLSetConnectAttr(attempt->dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
    SQLSetConnectAttr(attempt->dbc.get(), SQL_ATTR_CONNECTION_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
    attempt->text = withProtocolVersion(tidyKeywords(connectionString));

    std::thread worker;
    try {
        worker = std::thread(runConnectAttempt, attempt);
    } catch (const std::system_error& e) {
        raiseDatabase(kSourceOdbc, std::string("Cannot start the connection attempt: ") + e.what() +
                                       " (" + shown + ")");
    }
    std::unique_lock lock(attempt->mutex);
    if (!attempt->done.wait_for(lock, std::chrono::seconds(kConnectDeadlineSeconds),
                                [&] { return attempt->finished; })) {
        lock.unlock();
        // The driver is still inside SQLDriverConnect and cannot be interrupted. The worker
        // keeps the attempt alive and frees it if the driver ever returns; a driver that
        // never returns leaks its handles and the thread. That is the price of returning.
        worker.detach();
        raiseDatabase(kSourceOdbc, "The server did not answer in time: no connection after " +
                                       std::to_string(kConnectDeadlineSeconds) +
                                       " seconds, the attempt was abandoned (" + shown + ")");
    }
    lock.unlock();
    worker.join();

    if (!attempt->connected) {
        std::string text = describeFailure("SQLDriverConnect", attempt->diag, shown);
        if (saysTimedOut(attempt->diag)) {
            text = "The server did not answer in time. " + text;
        } else if (auto file = unusableDatabaseFile(connectionString)) {
            text = *file + " " + text;
        }
        raiseDatabase(kSourceOdbc, std::move(text));
    }
    auto db = std::make_shared<OdbcDatabase>();
    db->trace = std::move(trace);
    db->env = std::move(attempt->env);
    db->dbc = std::move(attempt->dbc);
    db->connected = true;
    attempt->connected = false;
    // The timeout was for connecting; queries keep the driver's own default.
    SQLSetConnectAttr(db->dbc.get(), SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(0),
                      0);
    return db;
}

// The data source is looked up by its name rather than found in unixODBC's listing
// (SQLDataSources): each listing adds an entry to the driver manager's configuration cache that
// is never freed or reused (about 340 bytes a call with a few data sources), while a lookup by
// name is cached once. unixODBC compares section names ignoring case, as the listing did here.
std::string findOdbcDataSource(std::string_view name) {
    if (name.empty() || name.find_first_of(";{}[]") != std::string_view::npos) return {};
    const std::string section(name);
    return configValue(section, "Driver", "ODBC.INI").empty() ? std::string() : section;
}

}  // namespace zembra::db::detail
