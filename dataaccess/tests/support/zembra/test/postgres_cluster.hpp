// Test support: a private PostgreSQL server for tests, created with initdb in a fresh
// folder and reached on a free loopback port.
//
// The server refuses to run as root, so when the tests run as root (as CI does) the server's
// programs run as the unprivileged user "nobody" (setpriv), who owns the cluster's folder.
// Authentication is "trust" for the one user "zembra": the server listens on 127.0.0.1 only
// and its socket lives in the cluster's own folder.
//
// A cluster is stopped and its folder removed when the object goes. A test run shares one
// cluster through an information file (see writeInfo/fromInfo), written by the ctest fixture
// that starts it and removed by the one that stops it, so that it is stopped even when a test
// process dies.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>
#include <zembra/test/odbc_ini.hpp>

extern char** environ;

namespace zembra::test {

inline constexpr const char* kPostgresBin = "/usr/lib/postgresql/15/bin";
inline constexpr const char* kPostgresUser = "zembra";

// Runs a program and waits for it; its output goes to `log` (appended). Returns the exit
// status, or -1 when it did not exit normally.
inline int runLogged(const std::vector<std::string>& argv, const std::filesystem::path& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A TCP port on 127.0.0.1 that nothing listens on at the moment of the call.
inline uint16_t freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    if (!ok) throw std::runtime_error("no free loopback port");
    return ntohs(address.sin_port);
}

class PostgresCluster {
  public:
    // Creates a cluster in a new folder below `parent` and starts it.
    explicit PostgresCluster(
        const std::filesystem::path& parent = std::filesystem::temp_directory_path()) {
        std::string pattern = (parent / "zembra-pg-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
        dir_ = pattern;
        owned_ = true;
        try {
            if (geteuid() == 0) {
                const passwd* nobody = getpwnam("nobody");
                if (!nobody) throw std::runtime_error("no user 'nobody' to run the server as");
                uid_ = nobody->pw_uid;
                gid_ = nobody->pw_gid;
                if (::chown(dir_.c_str(), *uid_, *gid_) != 0) {
                    throw std::runtime_error("cannot hand " + dir_.string() + " to nobody");
                }
            }
            must({std::string(kPostgresBin) + "/initdb", "-D", dataDir().string(), "-U",
                  kPostgresUser, "--auth=trust", "-E", "UTF8", "--locale=C", "--no-sync"},
                 "initdb");
            start();
        } catch (...) {
            remove();
            throw;
        }
    }

    // Takes over the cluster an information file describes (it stays running afterwards
    // unless stop() is called).
    static PostgresCluster fromInfo(const std::filesystem::path& info) {
        std::ifstream in(info);
        PostgresCluster cluster{Described{}};
        std::string dir;
        int port = 0;
        long uid = -1, gid = -1;
        if (!std::getline(in, dir) || !(in >> port >> uid >> gid)) {
            throw std::runtime_error("unreadable PostgreSQL information file " + info.string());
        }
        cluster.dir_ = dir;
        cluster.port_ = static_cast<uint16_t>(port);
        if (uid >= 0) cluster.uid_ = static_cast<uid_t>(uid);
        if (gid >= 0) cluster.gid_ = static_cast<gid_t>(gid);
        cluster.running_ = true;
        return cluster;
    }

    void writeInfo(const std::filesystem::path& info) const {
        std::ofstream out(info, std::ios::trunc);
        out << dir_.string() << '\n'
            << port_ << ' ' << (uid_ ? long(*uid_) : -1L) << ' ' << (gid_ ? long(*gid_) : -1L)
            << '\n';
        if (!out) throw std::runtime_error("cannot write " + info.string());
    }

    // Leaves the server running and its folder in place when the object goes (the stopping
    // fixture removes them).
    void detach() noexcept { owned_ = false; }

    PostgresCluster(PostgresCluster&& other) noexcept { *this = std::move(other); }
    PostgresCluster& operator=(PostgresCluster&& other) noexcept {
        std::swap(dir_, other.dir_);
        std::swap(port_, other.port_);
        std::swap(uid_, other.uid_);
        std::swap(gid_, other.gid_);
        std::swap(running_, other.running_);
        std::swap(owned_, other.owned_);
        return *this;
    }
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    ~PostgresCluster() {
        if (owned_) remove();
    }

    // Starts the server on a free loopback port (a new one each time).
    void start() {
        for (int attempt = 0; attempt < 5 && !running_; ++attempt) {
            port_ = freeLoopbackPort();
            const std::string options = "-p " + std::to_string(port_) +
                                        " -c listen_addresses=127.0.0.1"
                                        " -c unix_socket_directories=" +
                                        dir_.string() + " -c fsync=off -c max_connections=60";
            running_ = run({std::string(kPostgresBin) + "/pg_ctl", "-D", dataDir().string(), "-l",
                            (dir_ / "server.log").string(), "-o", options, "-w", "-t", "60",
                            "start"}) == 0;
        }
        if (!running_)
            throw std::runtime_error("the PostgreSQL server did not start: " + logText());
    }

    // Stops the server, ending open sessions ("fast" shutdown).
    void stop() {
        if (!running_) return;
        run({std::string(kPostgresBin) + "/pg_ctl", "-D", dataDir().string(), "-m", "fast", "-w",
             "-t", "60", "stop"});
        running_ = false;
    }

    // Stops the server if it runs and removes the cluster's folder.
    void remove() {
        if (dir_.empty()) return;
        stop();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        owned_ = false;
    }

    uint16_t port() const noexcept { return port_; }
    const std::filesystem::path& directory() const noexcept { return dir_; }

    // Runs one SQL statement in `database` with psql; raises with the server's words.
    void sql(const std::string& statement, const std::string& database = "postgres") const {
        must({std::string(kPostgresBin) + "/psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h",
              "127.0.0.1", "-p", std::to_string(port_), "-U", kPostgresUser, "-d", database, "-c",
              statement},
             "psql");
    }

    // The rows psql prints for a query (unaligned, tuples only), one line per row.
    std::string query(const std::string& statement,
                      const std::string& database = "postgres") const {
        const auto out = dir_ / ("query-" + std::to_string(::getpid()) + ".out");
        std::filesystem::remove(out);
        const int status = runLogged(
            {std::string(kPostgresBin) + "/psql", "-X", "-A", "-t", "-h", "127.0.0.1", "-p",
             std::to_string(port_), "-U", kPostgresUser, "-d", database, "-c", statement},
            out);
        std::ifstream in(out);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::filesystem::remove(out);
        if (status != 0) throw std::runtime_error("psql failed: " + text);
        return text;
    }

    // A fresh, empty database of this name.
    void createDatabase(const std::string& name) const {
        sql("DROP DATABASE IF EXISTS " + name);
        sql("CREATE DATABASE " + name);
    }

    // An ODBC data source for `database` through the PostgreSQL driver of OdbcIni.
    OdbcDataSource dataSource(std::string name, const std::string& database) const {
        return {std::move(name),
                "PostgreSQL",
                {{"Servername", "127.0.0.1"},
                 {"Port", std::to_string(port_)},
                 {"Database", database},
                 {"Username", kPostgresUser}}};
    }

    std::string logText() const {
        std::ifstream in(dir_ / "server.log");
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

  private:
    struct Described {};
    explicit PostgresCluster(Described) {}

    std::filesystem::path dataDir() const { return dir_ / "data"; }

    // Runs a server program, as "nobody" when this process is root.
    int run(std::vector<std::string> argv) const {
        if (uid_) {
            argv.insert(argv.begin(), {"setpriv", "--reuid=" + std::to_string(*uid_),
                                       "--regid=" + std::to_string(*gid_), "--clear-groups", "--"});
        }
        return runLogged(argv, dir_ / "tools.log");
    }

    void must(const std::vector<std::string>& argv, const std::string& what) const {
        if (run(argv) != 0) {
            std::ifstream in(dir_ / "tools.log");
            std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            throw std::runtime_error(what + " failed: " + text);
        }
    }

    std::filesystem::path dir_;
    uint16_t port_ = 0;
    std::optional<uid_t> uid_;
    std::optional<gid_t> gid_;
    bool running_ = false;
    bool owned_ = false;
};

}  // namespace zembra::test
