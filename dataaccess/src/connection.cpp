// The data-access core: record sets, connections, and the choice of back end from the
// connection string.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "backend.hpp"

namespace zembra::db {

namespace detail {

void raiseDatabase(const char* source, std::string description) {
    throw Error(err::kDatabase, source, std::move(description));
}

namespace {

std::string_view trim(std::string_view text) noexcept {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::string withCredentials(std::string text, std::string_view user, std::string_view password) {
    auto append = [&text](std::string_view key, std::string_view value) {
        if (value.empty()) return;
        if (!text.empty() && text.back() != ';') text += ';';
        text += key;
        text += '=';
        text += value;
        text += ';';
    };
    append("UID", user);
    append("PWD", password);
    return text;
}

// unixODBC takes a blank between a key and its '=' as part of the key, so that
// "Driver = {x}" names no driver. Such strings are rewritten as key=value pieces with the
// values exactly as written; any other string goes to the driver manager unchanged.
std::string odbcConnectionText(std::string_view text, const std::vector<Attribute>& attrs) {
    bool blankBeforeEquals = false;
    for (const auto& attr : attrs) {
        if (!attr.rawKey.empty() && (attr.rawKey.back() == ' ' || attr.rawKey.back() == '\t')) {
            blankBeforeEquals = true;
        }
    }
    if (!blankBeforeEquals) return std::string(text);
    std::string result;
    for (const auto& attr : attrs) {
        result += attr.key;
        result += '=';
        result += trim(text.substr(attr.valueBegin, attr.valueEnd - attr.valueBegin));
        result += ';';
    }
    return result;
}

std::shared_ptr<ConnectionImpl> openByString(std::string_view text, std::string_view user,
                                             std::string_view password) {
    if (trim(text).empty()) raiseDatabase(kSourceCore, "No connection string was given.");
    SqlTrace trace = SqlTrace::fromEnvironment();

    if (text.find('=') == std::string_view::npos) {
        // A bare name: a configured ODBC data source of that name, else the embedded
        // zip-code database.
        std::string dsn = findOdbcDataSource(text);
        if (!dsn.empty()) {
            return openOdbc(withCredentials("DSN=" + dsn + ";", user, password), trace);
        }
        // Only the engine's default name stands for the embedded database: a mistyped data
        // source name must not quietly render from (or load into) the shipped file.
        if (!equalsIgnoreCase(trim(text), "zipcodes")) {
            raiseDatabase(kSourceCore, "[unixODBC][Driver Manager]Data source name not found: '" +
                                           std::string(trim(text)) +
                                           "' is no configured ODBC data source.");
        }
        return openEmbeddedDatabase(trace);
    }

    auto attrs = parseAttributes(text);
    if (findAttribute(attrs, "Driver") || findAttribute(attrs, "DSN") ||
        findAttribute(attrs, "FILEDSN")) {
        return openOdbc(withCredentials(odbcConnectionText(text, attrs), user, password), trace);
    }
    if (const Attribute* provider = findAttribute(attrs, "Provider")) {
        // The embedded database by its own name, whatever data sources are configured.
        if (equalsIgnoreCase(provider->value, kEmbeddedProvider))
            return openEmbeddedDatabase(trace);
        if (!equalsIgnoreCase(provider->value, "Microsoft.Jet.OLEDB.4.0")) {
            raiseDatabase(kSourceCore, "Provider cannot be found: '" + provider->value +
                                           "'. Only Microsoft.Jet.OLEDB.4.0 with Excel 8.0 "
                                           "workbooks is available.");
        }
        const Attribute* props = findAttribute(attrs, "Extended Properties");
        if (!props || !containsIgnoreCase(props->value, "Excel 8.0")) {
            raiseDatabase(kSourceCore,
                          "The Jet provider serves Excel 8.0 workbooks only; the connection "
                          "string needs Extended Properties=\"Excel 8.0;\": " +
                              maskPasswords(text));
        }
        const Attribute* source = findAttribute(attrs, "Data Source");
        if (!source || source->value.empty()) {
            raiseDatabase(kSourceCore,
                          "The connection string names no Data Source: " + maskPasswords(text));
        }
        return openExcel(source->value, trace);
    }
    raiseDatabase(kSourceCore,
                  "The connection string names no ODBC driver, data source or known provider: " +
                      maskPasswords(text));
}

class EmptyCursor final : public CursorImpl {
  public:
    explicit EmptyCursor(std::vector<std::string> names) {
        names_ = std::move(names);
        start();
    }

  private:
    bool fetchRow(std::vector<Variant>&) override { return false; }
};

}  // namespace

std::vector<Attribute> parseAttributes(std::string_view text) {
    std::vector<Attribute> result;
    size_t i = 0;
    while (i < text.size()) {
        size_t eq = text.find_first_of("=;", i);
        if (eq == std::string_view::npos) break;
        if (text[eq] == ';') {
            i = eq + 1;
            continue;
        }
        Attribute attr;
        attr.rawKey = std::string(text.substr(i, eq - i));
        attr.key = std::string(trim(attr.rawKey));
        size_t pos = eq + 1;
        while (pos < text.size() && text[pos] == ' ') ++pos;
        attr.valueBegin = pos;
        if (pos < text.size() && (text[pos] == '"' || text[pos] == '\'' || text[pos] == '{')) {
            char close = text[pos] == '{' ? '}' : text[pos];
            ++pos;
            while (pos < text.size()) {
                if (text[pos] == close) {
                    if (pos + 1 < text.size() && text[pos + 1] == close) {
                        attr.value += close;
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                attr.value += text[pos++];
            }
            size_t semi = text.find(';', pos);
            attr.valueEnd = pos;
            i = semi == std::string_view::npos ? text.size() : semi + 1;
        } else {
            size_t semi = text.find(';', pos);
            size_t end = semi == std::string_view::npos ? text.size() : semi;
            attr.value = std::string(trim(text.substr(pos, end - pos)));
            attr.valueEnd = end;
            i = semi == std::string_view::npos ? text.size() : semi + 1;
        }
        result.push_back(std::move(attr));
    }
    return result;
}

const Attribute* findAttribute(const std::vector<Attribute>& attrs, std::string_view key) {
    for (const auto& attr : attrs) {
        if (equalsIgnoreCase(attr.key, key)) return &attr;
    }
    return nullptr;
}

std::string maskPasswords(std::string_view text) {
    std::string result(text);
    auto attrs = parseAttributes(text);
    // Replace from the back so the earlier offsets stay valid.
    for (auto it = attrs.rbegin(); it != attrs.rend(); ++it) {
        if ((equalsIgnoreCase(it->key, "PWD") || equalsIgnoreCase(it->key, "Password")) &&
            it->valueEnd > it->valueBegin) {
            result.replace(it->valueBegin, it->valueEnd - it->valueBegin, "***");
        }
    }
    return result;
}

std::optional<std::string> describeUnusableFile(const std::string& path, std::string_view noun) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    const std::string named = "The " + std::string(noun) + " '" + path + "'";
    if (status.type() == std::filesystem::file_type::not_found) return named + " does not exist.";
    if (std::filesystem::is_directory(status)) return named + " is a folder.";
    if (::access(path.c_str(), R_OK) != 0) {
        return named +
               " cannot be read: " + Error::standardDescription(fileErrorNumber(errno, path)) + ".";
    }
    return std::nullopt;
}

SqlTrace SqlTrace::fromEnvironment() {
    SqlTrace trace;
    if (const char* path = std::getenv("ZEMBRA_SQL_TRACE")) trace.path_ = path;
    return trace;
}

// The trace is a diagnostic aid for tests: a trace file that cannot be written must not
// fail the query being traced, so write errors are ignored.
void SqlTrace::write(std::string_view sql) const {
    if (path_.empty()) return;
    std::ofstream out(path_, std::ios::app | std::ios::binary);
    out << sql << '\n';
}

CursorImpl::~CursorImpl() = default;
ConnectionImpl::~ConnectionImpl() = default;

void ConnectionImpl::transaction(Transaction step) {
    if (step == Transaction::Begin && inTransaction_) {
        raiseDatabase(kSourceCore, "A transaction is already open on this connection.");
    }
    if (step != Transaction::Begin && !inTransaction_) {
        raiseDatabase(kSourceCore, "No transaction is open on this connection.");
    }
    takeStep(step);
    inTransaction_ = step == Transaction::Begin;
}

void ConnectionImpl::takeStep(Transaction step) {
    switch (step) {
        case Transaction::Begin:
            execute("BEGIN");
            break;
        case Transaction::Commit:
            execute("COMMIT");
            break;
        case Transaction::Rollback:
            execute("ROLLBACK");
            break;
    }
}

void CursorImpl::start() {
    eof_ = true;
    row_.clear();
    eof_ = !fetchRow(row_);
    if (eof_) row_.clear();
}

void CursorImpl::moveNext() {
    if (eof_) {
        throw Error(kNoCurrentRecord, kSourceCore,
                    "Either BOF or EOF is True, or the current record has been deleted. "
                    "Requested operation requires a current record.");
    }
    start();
}

std::unique_ptr<CursorImpl> emptyCursor(std::vector<std::string> names) {
    return std::make_unique<EmptyCursor>(std::move(names));
}

}  // namespace detail

namespace {

[[noreturn]] void raiseItemNotFound() {
    throw Error(kItemNotFound, detail::kSourceCore,
                "Item cannot be found in the collection corresponding to the requested name "
                "or ordinal.");
}

[[noreturn]] void raiseClosed() {
    throw Error(kObjectClosed, detail::kSourceCore,
                "Operation is not allowed when the object is closed.");
}

}  // namespace

// ---------------------------------------------------------------------------------
// Recordset

Recordset::Recordset() = default;
Recordset::Recordset(std::unique_ptr<detail::CursorImpl> impl) : impl_(std::move(impl)) {}
Recordset::Recordset(Recordset&&) noexcept = default;
Recordset& Recordset::operator=(Recordset&&) noexcept = default;
Recordset::~Recordset() = default;

bool Recordset::eof() const { return !impl_ || impl_->eof(); }

int32_t Recordset::fieldCount() const {
    if (!impl_) raiseClosed();
    return static_cast<int32_t>(impl_->names().size());
}

std::string Recordset::fieldName(int32_t index) const {
    if (!impl_) raiseClosed();
    if (index < 0 || static_cast<size_t>(index) >= impl_->names().size()) raiseItemNotFound();
    return impl_->names()[static_cast<size_t>(index)];
}

Variant Recordset::field(std::string_view name) const {
    if (!impl_) raiseClosed();
    const auto& names = impl_->names();
    for (size_t i = 0; i < names.size(); ++i) {
        if (equalsIgnoreCase(names[i], name)) return field(static_cast<int32_t>(i));
    }
    raiseItemNotFound();
}

Variant Recordset::field(int32_t index) const {
    if (!impl_) raiseClosed();
    if (index < 0 || static_cast<size_t>(index) >= impl_->names().size()) raiseItemNotFound();
    if (impl_->eof()) {
        throw Error(kNoCurrentRecord, detail::kSourceCore,
                    "Either BOF or EOF is True, or the current record has been deleted. "
                    "Requested operation requires a current record.");
    }
    return impl_->row()[static_cast<size_t>(index)];
}

void Recordset::moveNext() {
    if (!impl_) raiseClosed();
    impl_->moveNext();
}

void Recordset::close() { impl_.reset(); }

// ---------------------------------------------------------------------------------
// Connection

Connection::Connection() = default;
Connection::Connection(Connection&&) noexcept = default;
Connection& Connection::operator=(Connection&&) noexcept = default;
Connection::~Connection() = default;

void Connection::open(std::string_view connectionString, std::string_view user,
                      std::string_view password) {
    if (impl_) {
        throw Error(kObjectOpen, detail::kSourceCore,
                    "Operation is not allowed when the object is open.");
    }
    impl_ = detail::openByString(connectionString, user, password);
}

bool Connection::isOpen() const { return static_cast<bool>(impl_); }

Recordset Connection::execute(std::string_view sql) {
    if (!impl_) {
        throw Error(kConnectionClosed, detail::kSourceCore,
                    "The connection cannot be used to perform this operation. It is either "
                    "closed or invalid in this context.");
    }
    return Recordset(impl_->execute(sql));
}

namespace {

detail::ConnectionImpl& openImpl(const std::shared_ptr<detail::ConnectionImpl>& impl) {
    if (!impl) {
        throw Error(kConnectionClosed, detail::kSourceCore,
                    "The connection cannot be used to perform this operation. It is either "
                    "closed or invalid in this context.");
    }
    return *impl;
}

}  // namespace

void Connection::beginTrans() {
    openImpl(impl_).transaction(detail::ConnectionImpl::Transaction::Begin);
}
void Connection::commitTrans() {
    openImpl(impl_).transaction(detail::ConnectionImpl::Transaction::Commit);
}
void Connection::rollbackTrans() {
    openImpl(impl_).transaction(detail::ConnectionImpl::Transaction::Rollback);
}

void Connection::close() { impl_.reset(); }

}  // namespace zembra::db
