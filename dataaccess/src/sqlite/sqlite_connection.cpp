// SQLite back end: the embedded zip-code database, opened read-only.
#include <dlfcn.h>
#include <sqlite3.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "../backend.hpp"

namespace zembra::db::detail {

namespace {

struct DbClose {
    // close_v2 defers the close until the last statement is finalized.
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct StmtFinalize {
    void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalize>;

// The open database and its trace target; shared by the connection and its cursors so
// the handle outlives every statement prepared on it.
struct Database {
    SqlTrace trace;
    std::unique_ptr<sqlite3, DbClose> handle;  // after `trace`: closed before it goes
};

int traceStatement(unsigned type, void* context, void*, void* text) {
    if (type == SQLITE_TRACE_STMT && text) {
        static_cast<const SqlTrace*>(context)->write(static_cast<const char*>(text));
    }
    return 0;
}

Variant columnValue(sqlite3_stmt* stmt, int index) {
    switch (sqlite3_column_type(stmt, index)) {
        case SQLITE_NULL:
            return Variant::null();
        case SQLITE_INTEGER: {
            sqlite3_int64 value = sqlite3_column_int64(stmt, index);
            if (value >= INT32_MIN && value <= INT32_MAX)
                return Variant(static_cast<int32_t>(value));
            return Variant(static_cast<double>(value));
        }
        case SQLITE_FLOAT:
            return Variant(sqlite3_column_double(stmt, index));
        case SQLITE_BLOB: {
            const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, index));
            int size = sqlite3_column_bytes(stmt, index);
            return Variant(std::vector<uint8_t>(bytes, bytes + size));
        }
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
            int size = sqlite3_column_bytes(stmt, index);
            return Variant(std::string(text ? text : "", static_cast<size_t>(size)));
        }
    }
}

class SqliteCursor final : public CursorImpl {
  public:
    SqliteCursor(std::shared_ptr<Database> db, StmtPtr stmt)
        : db_(std::move(db)), stmt_(std::move(stmt)) {
        int count = sqlite3_column_count(stmt_.get());
        names_.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            const char* name = sqlite3_column_name(stmt_.get(), i);
            names_.emplace_back(name ? name : "");
        }
        start();
    }

  private:
    bool fetchRow(std::vector<Variant>& row) override {
        if (done_) return false;
        int rc = sqlite3_step(stmt_.get());
        if (rc == SQLITE_DONE) {
            done_ = true;
            return false;
        }
        if (rc != SQLITE_ROW) {
            done_ = true;
            raiseDatabase(kSourceSqlite, sqlite3_errmsg(db_->handle.get()));
        }
        int count = static_cast<int>(names_.size());
        for (int i = 0; i < count; ++i) row.push_back(columnValue(stmt_.get(), i));
        return true;
    }

    std::shared_ptr<Database> db_;  // declared first: outlives the statement
    StmtPtr stmt_;
    bool done_ = false;
};

bool onlyBlanks(const char* text, const char* end) {
    for (; text < end; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n' && *text != ';') {
            return false;
        }
    }
    return true;
}

class SqliteConnection final : public ConnectionImpl {
  public:
    explicit SqliteConnection(std::shared_ptr<Database> db) : db_(std::move(db)) {}

    // Runs every statement of the text in turn; the last one gives the rows.
    std::unique_ptr<CursorImpl> execute(std::string_view sql) override {
        if (sql.size() > static_cast<size_t>(INT_MAX)) {
            raiseDatabase(kSourceSqlite, "SQL text too long");
        }
        const char* next = sql.data();
        const char* end = sql.data() + sql.size();
        while (true) {
            sqlite3_stmt* raw = nullptr;
            const char* tail = nullptr;
            int rc = sqlite3_prepare_v2(db_->handle.get(), next, static_cast<int>(end - next), &raw,
                                        &tail);
            StmtPtr stmt(raw);
            if (rc != SQLITE_OK) raiseDatabase(kSourceSqlite, sqlite3_errmsg(db_->handle.get()));
            bool last = !tail || onlyBlanks(tail, end);
            if (stmt && last) {
                return std::make_unique<SqliteCursor>(db_, std::move(stmt));
            }
            if (stmt) {
                while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
                }
                if (rc != SQLITE_DONE) {
                    raiseDatabase(kSourceSqlite, sqlite3_errmsg(db_->handle.get()));
                }
            }
            if (last) return emptyCursor();
            next = tail;
        }
    }

  private:
    std::shared_ptr<Database> db_;
};

// A "file:" URI naming `path`, every byte outside the unreserved set percent-encoded.
std::string fileUri(const std::string& path, std::string_view query) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || c == '/' || c == '.' || c == '-' || c == '_' ||
            c == '~') {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0x0f];
        }
    }
    uri += '?';
    uri += query;
    return uri;
}

}  // namespace

std::shared_ptr<ConnectionImpl> openSqlite(const std::string& path, SqlTrace trace,
                                           bool immutable) {
    auto db = std::make_shared<Database>();
    db->trace = std::move(trace);
    sqlite3* raw = nullptr;
    int rc = immutable ? sqlite3_open_v2(fileUri(path, "immutable=1").c_str(), &raw,
                                         SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr)
                       : sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    db->handle.reset(raw);
    if (rc != SQLITE_OK) {
        std::string message = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
        raiseDatabase(kSourceSqlite, message + ": " + path);
    }
    sqlite3_busy_timeout(raw, 5000);
    if (db->trace.enabled()) {
        sqlite3_trace_v2(raw, SQLITE_TRACE_STMT, traceStatement, &db->trace);
    }
    return std::make_shared<SqliteConnection>(std::move(db));
}

std::shared_ptr<ConnectionImpl> openEmbeddedDatabase(SqlTrace trace) {
    // A file named by ZEMBRA_ZIPCODES_DB is the user's and may change while open; the
    // shipped one never does.
    const char* chosen = std::getenv("ZEMBRA_ZIPCODES_DB");
    const bool shipped = !chosen || !*chosen;
    const std::string path = embeddedDatabasePath();
    // A FIFO or a device would block the open or the first read for ever.
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        raiseDatabase(kSourceSqlite,
                      "The zip-code database '" + path + "' is not a regular file (" +
                          (std::filesystem::is_directory(status) ? "a folder"
                           : std::filesystem::is_fifo(status)    ? "a FIFO"
                                                                 : "a device or socket") +
                          ").");
    }
    return openSqlite(path, std::move(trace), shipped);
}

std::string embeddedDatabasePath() {
    if (const char* path = std::getenv("ZEMBRA_ZIPCODES_DB"); path && *path) return path;
    // The data folder sits at a fixed place relative to this library, in the build tree
    // and in an installed tree alike.
    static const int anchor = 0;
    Dl_info info{};
    if (dladdr(&anchor, &info) == 0 || !info.dli_fname) {
        raiseDatabase(kSourceSqlite, "Cannot locate the data-access library to find zipcodes.db");
    }
    std::filesystem::path lib = std::filesystem::absolute(info.dli_fname);
    return (lib.parent_path() / ZEMBRA_REL_LIB_TO_DATA / "zipcodes.db").lexically_normal();
}

}  // namespace zembra::db::detail
