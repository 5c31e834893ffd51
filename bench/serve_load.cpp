// Load on `zembra serve` over loopback: CLIENTS concurrent clients each render RENDERS
// times CODES zip codes to JPEG (POST /api/render, then GET of the picture link), the
// whole run capped at CAP seconds. Reports throughput, p50/p99 latency per render,
// errors, and the server's resident memory before and after.
//
//   serve_load_bench ZEMBRA_EXECUTABLE ZIPCODES_CSV [CLIENTS=8] [RENDERS=200] [CODES=1000]
//   [CAP=120]
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The zembra serve child: its process id and the port it printed.
struct Child {
    pid_t pid = -1;
    int port = 0;
};

Child startServer(const char* zembra) {
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
              static_cast<char*>(nullptr));
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

// Resident and peak memory of a process, in MiB, from /proc.
std::pair<double, double> memoryOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    double rss = 0, peak = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) rss = std::stod(line.substr(6)) / 1024;
        if (line.rfind("VmHWM:", 0) == 0) peak = std::stod(line.substr(6)) / 1024;
    }
    return {rss, peak};
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr
            << "usage: serve_load_bench ZEMBRA ZIPCODES_CSV [CLIENTS] [RENDERS] [CODES] [CAP_S]\n";
        return 2;
    }
    const int clients = argc > 3 ? std::stoi(argv[3]) : 8;
    const int renders = argc > 4 ? std::stoi(argv[4]) : 200;
    const size_t perRender = argc > 5 ? std::stoul(argv[5]) : 1000;
    const auto cap = std::chrono::seconds(argc > 6 ? std::stoi(argv[6]) : 120);
    const auto codes = readCodes(argv[2]);

    const Child server = startServer(argv[1]);
    {
        httplib::Client warm("127.0.0.1", server.port);
        warm.Get("/healthz");
    }
    const auto [rssBefore, peakBefore] = memoryOf(server.pid);

    std::mutex mutex;
    std::vector<double> latencies;
    std::atomic<int> errors{0};
    std::atomic<long> pictureBytes{0};
    std::string firstError;
    const auto start = Clock::now();
    const auto stopAt = start + cap;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", server.port);
            client.set_keep_alive(true);
            client.set_read_timeout(std::chrono::seconds(120));
            std::vector<double> mine;
            for (int r = 0; r < renders && Clock::now() < stopAt; ++r) {
                // Each render its own slice of the zip-code list.
                const size_t from =
                    (static_cast<size_t>(c) * 7919 + static_cast<size_t>(r) * 1000) %
                    (codes.size() - perRender);
                nlohmann::json order{
                    {"map", "usa"},
                    {"format", "jpg"},
                    {"zips", std::vector<std::string>(
                                 codes.begin() + static_cast<long>(from),
                                 codes.begin() + static_cast<long>(from + perRender))}};
                const auto t0 = Clock::now();
                const auto answer = client.Post("/api/render", order.dump(), "application/json");
                bool ok = answer && answer->status == 200;
                if (ok) {
                    const auto link =
                        nlohmann::json::parse(answer->body)["picture"].get<std::string>();
                    const auto picture = client.Get(link);
                    ok = picture && picture->status == 200 && picture->body.size() > 1000;
                    if (ok) pictureBytes += static_cast<long>(picture->body.size());
                }
                const std::chrono::duration<double, std::milli> took = Clock::now() - t0;
                if (ok) {
                    mine.push_back(took.count());
                } else {
                    ++errors;
                    std::lock_guard lock(mutex);
                    if (firstError.empty()) {
                        firstError = answer ? std::to_string(answer->status) + " " + answer->body
                                            : httplib::to_string(answer.error());
                    }
                }
            }
            std::lock_guard lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
        });
    }
    for (auto& t : threads) t.join();
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    const auto [rssAfter, peakAfter] = memoryOf(server.pid);
    kill(server.pid, SIGTERM);
    int status = 0;
    waitpid(server.pid, &status, 0);

    const size_t done = latencies.size();
    std::printf("zembra serve load: %d clients x %d renders of %zu codes to JPEG, cap %llds\n",
                clients, renders, perRender, static_cast<long long>(cap.count()));
    std::printf("  renders done      %zu of %d in %.1f s%s\n", done, clients * renders,
                elapsed.count(), Clock::now() >= stopAt ? " (cap reached)" : "");
    std::printf("  throughput        %.2f renders/s (%.0f codes/s)\n",
                static_cast<double>(done) / elapsed.count(),
                static_cast<double>(done * perRender) / elapsed.count());
    std::printf("  latency p50, p99  %.0f ms, %.0f ms (POST render + GET picture)\n",
                percentile(latencies, 0.50), percentile(latencies, 0.99));
    std::printf("  errors            %d%s%s\n", errors.load(),
                firstError.empty() ? "" : ", first: ", firstError.substr(0, 200).c_str());
    std::printf("  picture size      %.0f KiB average\n",
                done ? static_cast<double>(pictureBytes) / static_cast<double>(done) / 1024 : 0.0);
    std::printf("  server memory     RSS %.1f MiB before, %.1f MiB after (peak %.1f MiB)\n",
                rssBefore, rssAfter, peakAfter);
    std::printf("  server exit       %s\n",
                WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "0 on SIGTERM" : "not clean");
    (void)peakBefore;
    return errors == 0 ? 0 : 1;
}
