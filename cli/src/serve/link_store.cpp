#include "serve/link_store.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <zembra/dataaccess.hpp>
#include <zembra/runtime.hpp>

namespace zembra::serve {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSource = "zembra serve";

int64_t secondsOf(WallClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

class FolderStore final : public LinkStore {
  public:
    explicit FolderStore(fs::path folder) : folder_(std::move(folder)) {
        std::error_code ec;
        fs::create_directories(folder_, ec);
        if (!fs::is_directory(folder_)) {
            throw Error::standard(
                err::kPathNotFound, kSource,
                "The link store folder " + folder_.string() + " cannot be created.");
        }
    }

    void put(const std::string& id, const std::string& record, WallClock::time_point now) override {
        // Written under a name of its own and renamed into place: a reader on any server
        // sees the whole entry or none.
        const fs::path temp = folder_ / (".tmp-" + id + "-" + std::to_string(::getpid()));
        const fs::path final = folder_ / (id + ".json");
        const std::string text = std::to_string(secondsOf(now)) + "\n" + record;
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) throw fileError(errno, kSource, temp.string(), temp.string());
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int e = errno;
                ::close(fd);
                ::unlink(temp.c_str());
                throw fileError(e, kSource, temp.string(), temp.string());
            }
            done += static_cast<size_t>(n);
        }
        if (::fsync(fd) != 0 || ::close(fd) != 0) {
            const int e = errno;
            ::unlink(temp.c_str());
            throw fileError(e, kSource, temp.string(), temp.string());
        }
        if (::rename(temp.c_str(), final.c_str()) != 0) {
            const int e = errno;
            ::unlink(temp.c_str());
            throw fileError(e, kSource, final.string(), final.string());
        }
    }

    std::optional<KeptLink> get(const std::string& id) override {
        if (!isLinkId(id)) return std::nullopt;
        std::ifstream in(folder_ / (id + ".json"), std::ios::binary);
        if (!in) return std::nullopt;
        std::string first;
        if (!std::getline(in, first)) return std::nullopt;
        std::ostringstream rest;
        rest << in.rdbuf();
        char* end = nullptr;
        const long long created = std::strtoll(first.c_str(), &end, 10);
        if (end == first.c_str()) return std::nullopt;  // not an entry of this store
        return KeptLink{rest.str(), WallClock::time_point(std::chrono::seconds(created))};
    }

    void removeOlderThan(WallClock::time_point cutoff) override {
        std::error_code ec;
        for (auto it = fs::directory_iterator(folder_, ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            const auto name = it->path().filename().string();
            const bool temp = name.rfind(".tmp-", 0) == 0;
            if (!temp && !(name.size() == 37 && isLinkId(name.substr(0, 32)))) continue;
            struct stat info {};
            if (::stat(it->path().c_str(), &info) != 0) continue;
            const auto written = WallClock::from_time_t(info.st_mtime);
            // A temporary file left by a server that stopped mid-write goes after an hour.
            const auto limit =
                temp ? std::min(cutoff, WallClock::now() - std::chrono::hours(1)) : cutoff;
            if (written < limit) fs::remove(it->path(), ec);
        }
    }

    std::string describe() const override { return folder_.string(); }

  private:
    fs::path folder_;
};

// SQL text literal: quotes doubled. The records are JSON texts without control characters.
std::string sqlText(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

class DatabaseStore final : public LinkStore {
  public:
    explicit DatabaseStore(std::string connection) : connection_(std::move(connection)) {
        std::lock_guard lock(mutex_);
        run([](db::Connection& db) {
            db.execute(
                "CREATE TABLE IF NOT EXISTS zembra_links (id VARCHAR(32) PRIMARY KEY, "
                "created BIGINT NOT NULL, record TEXT NOT NULL)");
        });
    }

    void put(const std::string& id, const std::string& record, WallClock::time_point now) override {
        std::lock_guard lock(mutex_);
        run([&](db::Connection& db) {
            db.execute("INSERT INTO zembra_links (id, created, record) VALUES (" + sqlText(id) +
                       ", " + std::to_string(secondsOf(now)) + ", " + sqlText(record) + ")");
        });
    }

    std::optional<KeptLink> get(const std::string& id) override {
        if (!isLinkId(id)) return std::nullopt;
        std::lock_guard lock(mutex_);
        std::optional<KeptLink> found;
        run([&](db::Connection& db) {
            auto rows =
                db.execute("SELECT created, record FROM zembra_links WHERE id = " + sqlText(id));
            if (rows.eof()) return;
            const auto created = static_cast<int64_t>(rows.field("created").toDouble());
            found = KeptLink{rows.field("record").toString(),
                             WallClock::time_point(std::chrono::seconds(created))};
        });
        return found;
    }

    void removeOlderThan(WallClock::time_point cutoff) override {
        std::lock_guard lock(mutex_);
        run([&](db::Connection& db) {
            db.execute("DELETE FROM zembra_links WHERE created < " +
                       std::to_string(secondsOf(cutoff)));
        });
    }

    std::string describe() const override { return "a database table zembra_links"; }

  private:
    // Runs `work` on the kept connection, opening it when needed; a failure on a connection
    // that was open (the server restarted) is tried once more on a fresh one.
    template <typename Work>
    void run(Work work) {
        for (int attempt = 0;; ++attempt) {
            const bool wasOpen = db_.isOpen();
            try {
                if (!db_.isOpen()) db_.open(connection_);
                work(db_);
                return;
            } catch (const Error&) {
                db_.close();
                if (!wasOpen || attempt > 0) throw;
            }
        }
    }

    std::string connection_;
    std::mutex mutex_;
    db::Connection db_;
};

}  // namespace

std::unique_ptr<LinkStore> openLinkStore(const std::string& where) {
    if (where.find('=') != std::string::npos) return std::make_unique<DatabaseStore>(where);
    return std::make_unique<FolderStore>(where.empty() ? defaultLinkFolder() : fs::path(where));
}

fs::path defaultLinkFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
        return fs::path(state) / "zembra" / "links";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "state" / "zembra" / "links";
}

std::string newLinkId() {
    // Not guessable, so one client cannot reach another client's pictures by counting.
    std::random_device random;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 4; ++i) {
        uint32_t bits = random();
        for (int j = 0; j < 8; ++j, bits >>= 4) id += kHex[bits & 0xF];
    }
    return id;
}

bool isLinkId(std::string_view text) noexcept {
    if (text.size() != 32) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace zembra::serve
