// Load on `zembra serve` over loopback, in four runs side by side:
//
//   one       1 client x RENDERS renders of CODES zip codes to JPEG (POST /api/render, then
//             GET of the picture link), on one keep-alive connection;
//   eight     CLIENTS clients doing the same at once: throughput against "one", p50/p99,
//             errors, the server's memory after the first RENDERS renders and at the end;
//   proxy     the same through a round-robin proxy (written here, on loopback) over two
//             servers sharing one link store: each client's requests alternate between the
//             servers, so every picture link is fetched from the server that did not render it;
//   slow      SLOW connections that send a request head one byte a second (re-opened when the
//             server closes them), for SLOW_S seconds, while 2 clients render and /healthz is
//             asked every 100 ms on a fresh connection: its slowest answer, and the renders'
//             errors.
//
//   serve_load_bench ZEMBRA_EXECUTABLE ZIPCODES_CSV [CLIENTS=8] [RENDERS=200] [CODES=1000]
//                    [SLOW=500] [SLOW_S=30] [CAP_S=300]
//
// Every run stops by itself: at its count or at CAP_S seconds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

// A zembra serve child: its process id and the port it printed.
struct Child {
    pid_t pid = -1;
    int port = 0;
};

Child startServer(const char* zembra, const std::string& store) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        // The per-request log is not what is measured.
        if (FILE* devnull = std::freopen("/dev/null", "w", stderr); !devnull) _exit(127);
        execl(zembra, zembra, "serve", "--port", "0", "--bind", "127.0.0.1", "--queue", "64",
              "--store", store.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n;
         text.find('\n') == std::string::npos && (n = read(out[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) throw std::runtime_error("zembra serve did not start: " + text);
    return {pid, std::stoi(text.substr(colon + 1))};
}

bool stopServer(const Child& child) {
    kill(child.pid, SIGTERM);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Resident memory of a process in MiB, from /proc.
double rssOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024;
    }
    return 0;
}

std::vector<std::string> readCodes(const char* csv) {
    std::ifstream in(csv);
    std::vector<std::string> codes;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) codes.push_back(line.substr(0, line.find(',')));
    return codes;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

struct Settings {
    int clients = 8;
    int renders = 200;
    size_t codes = 1000;
    int slow = 500;
    int slowSeconds = 30;
    std::chrono::seconds cap{300};
};

struct RunResult {
    size_t done = 0;
    double seconds = 0;
    std::vector<double> latencies;
    int errors = 0;
    std::string firstError;
    double rssAfterFirst = 0;  // after the first `renders` renders
    int otherServer = 0;       // picture fetches answered by the server that did not render
};

// `clients` threads each rendering `renders` times through `port`; `watch` is sampled once
// `renders` renders are done in all.
RunResult renderLoad(int port, int clients, int renders, const Settings& s,
                     const std::vector<std::string>& codes, pid_t watch, std::chrono::seconds cap) {
    RunResult result;
    std::mutex mutex;
    std::atomic<int> total{0};
    const auto start = Clock::now();
    const auto stopAt = start + cap;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_read_timeout(std::chrono::seconds(120));
            std::vector<double> mine;
            for (int r = 0; r < renders && Clock::now() < stopAt; ++r) {
                // Each render its own slice of the zip-code list.
                const size_t from =
                    (static_cast<size_t>(c) * 7919 + static_cast<size_t>(r) * 1000) %
                    (codes.size() - s.codes);
                nlohmann::json order{
                    {"map", "usa"},
                    {"zips",
                     std::vector<std::string>(codes.begin() + static_cast<long>(from),
                                              codes.begin() + static_cast<long>(from + s.codes))}};
                const auto t0 = Clock::now();
                const auto answer = client.Post("/api/render", order.dump(), "application/json");
                bool ok = answer && answer->status == 200;
                std::string error;
                if (ok) {
                    const auto link =
                        nlohmann::json::parse(answer->body)["picture"].get<std::string>();
                    const auto picture = client.Get(link);
                    ok = picture && picture->status == 200 && picture->body.size() > 1000;
                    if (!ok) {
                        error = picture ? std::to_string(picture->status) + " " + picture->body
                                        : httplib::to_string(picture.error());
                    }
                    if (ok && picture->get_header_value("X-Served-By") !=
                                  answer->get_header_value("X-Served-By")) {
                        std::lock_guard lock(mutex);
                        ++result.otherServer;
                    }
                } else {
                    error = answer ? std::to_string(answer->status) + " " + answer->body
                                   : httplib::to_string(answer.error());
                }
                if (ok) {
                    mine.push_back(Ms(Clock::now() - t0).count());
                    if (++total == renders && watch > 0) {
                        std::lock_guard lock(mutex);
                        result.rssAfterFirst = rssOf(watch);
                    }
                } else {
                    std::lock_guard lock(mutex);
                    ++result.errors;
                    if (result.firstError.empty()) result.firstError = error.substr(0, 200);
                }
            }
            std::lock_guard lock(mutex);
            result.latencies.insert(result.latencies.end(), mine.begin(), mine.end());
        });
    }
    for (auto& t : threads) t.join();
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.done = result.latencies.size();
    return result;
}

// A round-robin proxy on loopback: renders go to the backends in turn, and a picture link
// to the backend that did not render it; the answer names the backend in X-Served-By.
class Proxy {
  public:
    Proxy(int first, int second) : backends_{first, second} {
        const auto forward = [this](const httplib::Request& req, httplib::Response& res) {
            thread_local std::vector<std::unique_ptr<httplib::Client>> clients;
            if (clients.empty()) {
                for (int port : backends_) {
                    auto c = std::make_unique<httplib::Client>("127.0.0.1", port);
                    c->set_keep_alive(true);
                    c->set_read_timeout(std::chrono::seconds(120));
                    clients.push_back(std::move(c));
                }
            }
            int which = static_cast<int>(started_++ % 2);
            const auto at = req.path.rfind('/');
            const std::string id = req.path.substr(at + 1, 32);
            if (req.path.rfind("/api/pictures/", 0) == 0) {
                std::lock_guard lock(mutex_);
                if (const auto it = renderedBy_.find(id); it != renderedBy_.end()) {
                    which = 1 - it->second;
                    renderedBy_.erase(it);
                }
            }
            auto& c = *clients[static_cast<size_t>(which)];
            httplib::Result r = req.method == "POST"
                                    ? c.Post(req.target.c_str(), req.body,
                                             req.get_header_value("Content-Type").c_str())
                                    : c.Get(req.target.c_str());
            if (!r) {
                res.status = 502;
                res.set_content("bad gateway: " + httplib::to_string(r.error()), "text/plain");
                return;
            }
            res.status = r->status;
            if (req.method == "POST" && r->status == 200) {
                const auto answer = nlohmann::json::parse(r->body, nullptr, false);
                if (answer.is_object() && answer.contains("id")) {
                    std::lock_guard lock(mutex_);
                    renderedBy_[answer["id"].get<std::string>()] = which;
                }
            }
            res.set_content(r->body, r->get_header_value("Content-Type").c_str());
            res.set_header("X-Served-By", std::to_string(which));
        };
        server_.set_keep_alive_max_count(100'000);
        server_.Get(".*", forward);
        server_.Post(".*", forward);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~Proxy() {
        server_.stop();
        thread_.join();
    }
    int port() const { return port_; }

  private:
    std::vector<int> backends_;
    std::atomic<unsigned> started_{0};
    std::mutex mutex_;
    std::map<std::string, int> renderedBy_;  // picture id -> backend that rendered it
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

// Connections that send a request head one byte a second, re-opened when closed, from the
// loopback addresses 127.0.0.2 to 127.0.0.9 in turn.
class SlowClients {
  public:
    SlowClients(int port, int count) : port_(port), fds_(static_cast<size_t>(count), -1) {
        thread_ = std::thread([this] { run(); });
    }
    ~SlowClients() {
        stop_ = true;
        thread_.join();
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }
    long reopened() const { return reopened_; }

  private:
    int open(size_t index) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7F000002u + static_cast<uint32_t>(index % 8));
        bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port_));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        return fd;
    }
    void run() {
        const std::string head = "GET /healthz HTTP/1.1\r\nHost: localhost\r\nX-Slow: ";
        std::vector<size_t> sent(fds_.size(), 0);
        while (!stop_) {
            for (size_t i = 0; i < fds_.size() && !stop_; ++i) {
                char sink[64];
                if (fds_[i] >= 0 && recv(fds_[i], sink, sizeof sink, MSG_DONTWAIT) == 0) {
                    close(fds_[i]);
                    fds_[i] = -1;
                }
                if (fds_[i] < 0) {
                    fds_[i] = open(i);
                    sent[i] = 0;
                    ++reopened_;
                    continue;
                }
                const char byte = sent[i] < head.size() ? head[sent[i]] : 'x';
                if (send(fds_[i], &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1) {
                    ++sent[i];
                } else if (errno != EAGAIN && errno != ENOTCONN && errno != EINPROGRESS) {
                    close(fds_[i]);
                    fds_[i] = -1;
                }
            }
            for (int i = 0; i < 10 && !stop_; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    int port_;
    std::vector<int> fds_;
    std::atomic<bool> stop_{false};
    std::atomic<long> reopened_{0};
    std::thread thread_;
};

void printRun(const char* name, const RunResult& r, int planned) {
    std::printf(
        "  %-6s %5zu/%-5d %6.1f s %8.2f renders/s  p50 %4.0f ms  p99 %4.0f ms  errors %d%s%s\n",
        name, r.done, planned, r.seconds, static_cast<double>(r.done) / r.seconds,
        percentile(r.latencies, 0.5), percentile(r.latencies, 0.99), r.errors,
        r.firstError.empty() ? "" : " first: ", r.firstError.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: serve_load_bench ZEMBRA ZIPCODES_CSV [CLIENTS] [RENDERS] [CODES] "
                     "[SLOW] [SLOW_S] [CAP_S]\n";
        return 2;
    }
    Settings s;
    if (argc > 3) s.clients = std::stoi(argv[3]);
    if (argc > 4) s.renders = std::stoi(argv[4]);
    if (argc > 5) s.codes = std::stoul(argv[5]);
    if (argc > 6) s.slow = std::stoi(argv[6]);
    if (argc > 7) s.slowSeconds = std::stoi(argv[7]);
    if (argc > 8) s.cap = std::chrono::seconds(std::stoi(argv[8]));
    const auto codes = readCodes(argv[2]);
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    char pattern[] = "/tmp/zembra-bench-store-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string store = pattern;
    bool ok = true;

    std::printf("zembra serve load: renders of %zu codes to JPEG (POST, then GET of the link)\n",
                s.codes);
    // One server: one client, then eight.
    {
        const Child server = startServer(argv[1], store);
        httplib::Client("127.0.0.1", server.port).Get("/healthz");
        const double rssStart = rssOf(server.pid);
        const auto one = renderLoad(server.port, 1, s.renders, s, codes, 0, s.cap);
        const auto many =
            renderLoad(server.port, s.clients, s.renders, s, codes, server.pid, s.cap);
        const double rssEnd = rssOf(server.pid);
        const bool clean = stopServer(server);
        printRun("one", one, s.renders);
        printRun("eight", many, s.clients * s.renders);
        const double ratio = (static_cast<double>(many.done) / many.seconds) /
                             (static_cast<double>(one.done) / one.seconds);
        const double p50 = percentile(many.latencies, 0.5), p99 = percentile(many.latencies, 0.99);
        std::printf("  throughput %d clients / 1 client  %.2fx (wanted >= 1.6)\n", s.clients,
                    ratio);
        std::printf("  p99 / p50 of %d clients          %.2f (wanted <= 2)\n", s.clients,
                    p99 / p50);
        std::printf(
            "  server memory                   %.1f MiB at start, %.1f after %d renders, %.1f at "
            "the end\n",
            rssStart, many.rssAfterFirst, s.renders, rssEnd);
        std::printf("  exit on SIGTERM                 %s\n", clean ? "0" : "not clean");
        ok = ok && one.errors == 0 && many.errors == 0 && clean;
    }
    // Two servers sharing the store behind the proxy.
    {
        const Child a = startServer(argv[1], store);
        const Child b = startServer(argv[1], store);
        RunResult r;
        {
            Proxy proxy(a.port, b.port);
            r = renderLoad(proxy.port(), s.clients, s.renders, s, codes, 0, s.cap);
        }
        const bool clean = stopServer(a) && stopServer(b);
        printRun("proxy", r, s.clients * s.renders);
        std::printf("  links fetched from the other server  %d of %zu\n", r.otherServer, r.done);
        ok = ok && r.errors == 0 && clean && r.otherServer == static_cast<int>(r.done);
    }
    // Slow clients while two clients render.
    {
        const Child server = startServer(argv[1], store);
        std::atomic<bool> done{false};
        std::vector<double> health;
        int healthErrors = 0;
        RunResult r;
        long reopened = 0;
        {
            SlowClients slow(server.port, s.slow);
            std::this_thread::sleep_for(std::chrono::seconds(2));  // let them all connect
            std::thread prober([&] {
                while (!done) {
                    httplib::Client probe("127.0.0.1", server.port);
                    probe.set_read_timeout(std::chrono::seconds(10));
                    const auto t0 = Clock::now();
                    const auto answer = probe.Get("/healthz");
                    if (answer && answer->status == 200) {
                        health.push_back(Ms(Clock::now() - t0).count());
                    } else {
                        ++healthErrors;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
            });
            const auto until = Clock::now() + std::chrono::seconds(s.slowSeconds);
            r = renderLoad(server.port, 2, 1'000'000, s, codes, 0,
                           std::chrono::seconds(s.slowSeconds));
            while (Clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            done = true;
            prober.join();
            reopened = slow.reopened();
        }
        const bool clean = stopServer(server);
        printRun("slow", r, 0);
        std::printf(
            "  %d slow-header connections for %d s (%ld opened in all: closed at the head "
            "deadline or to make room)\n",
            s.slow, s.slowSeconds, reopened);
        std::printf(
            "  /healthz every 100 ms             %zu answers, p50 %.1f ms, max %.1f ms, %d errors "
            "(wanted max <= 100)\n",
            health.size(), percentile(health, 0.5),
            health.empty() ? 0.0 : *std::max_element(health.begin(), health.end()), healthErrors);
        ok = ok && r.errors == 0 && healthErrors == 0 && clean;
    }
    std::filesystem::remove_all(store);
    return ok ? 0 : 1;
}
