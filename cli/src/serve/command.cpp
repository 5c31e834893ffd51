#include "serve/command.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <ctime>
#include <thread>
#include <zembra/runtime.hpp>

namespace zembra::serve {

namespace {

// SIGINT and SIGTERM blocked in the calling thread and in every thread it starts, so
// that they are taken only by sigtimedwait below; restored when the command ends. A
// program started in the background by a shell inherits SIGINT ignored, and an ignored
// signal is discarded before sigtimedwait can take it: the default action is put back
// for the while (it never runs, the signals being blocked).
class BlockedSignals {
  public:
    BlockedSignals() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigaction(SIGINT, &byDefault, &previousInt_);
        sigaction(SIGTERM, &byDefault, &previousTerm_);
    }
    ~BlockedSignals() {
        sigaction(SIGINT, &previousInt_, nullptr);
        sigaction(SIGTERM, &previousTerm_, nullptr);
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    BlockedSignals(const BlockedSignals&) = delete;
    BlockedSignals& operator=(const BlockedSignals&) = delete;

    // The signal taken within `timeout`, or 0.
    int wait(const timespec& timeout) const {
        const int signal = sigtimedwait(&set_, nullptr, &timeout);
        return signal > 0 ? signal : 0;
    }

  private:
    sigset_t set_{};
    sigset_t previous_{};
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

}  // namespace

CLI::App* addServeCommand(CLI::App& app, ServerConfig& config) {
    auto* cmd = app.add_subcommand("serve", "Serve the page and the HTTP API to browsers");
    cmd->add_option("--bind", config.bind, "Address to listen on (0.0.0.0: every network)")
        ->type_name("ADDRESS")
        ->capture_default_str();
    cmd->add_option("--port", config.port, "Port (0: any free port)")
        ->type_name("PORT")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    cmd->add_option("--images", config.images, "Folder holding Maps/ and Overlays/")
        ->type_name("DIR");
    cmd->add_option("--connection", config.connection,
                    "Zip-code database: ODBC data source or connection string")
        ->type_name("TEXT");
    cmd->add_option("--store", config.store,
                    "Where links are kept: a folder, or \"DSN=...\" for a database; servers "
                    "behind one address share it (default: a folder in ~/.local/state/zembra)")
        ->type_name("FOLDER|DSN=...");
    cmd->add_option("--allowed-host", config.allowedHosts,
                    "A Host name a loopback-bound server answers to besides localhost (the name "
                    "a proxy in front passes on); may be repeated")
        ->type_name("NAME");
    auto& limits = config.limits;
    cmd->add_option("--workers", limits.workers, "Render threads (0: one per core)")
        ->type_name("N")
        ->capture_default_str();
    cmd->add_option("--queue", limits.queue, "Requests waiting for a worker before 503 Busy")
        ->type_name("N")
        ->capture_default_str();
    cmd->add_option_function<double>(
           "--deadline",
           [&limits](double seconds) {
               limits.deadline = std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
           },
           "Seconds a request may take, queue included (default 60)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.001, 86400.0));
    cmd->add_option("--max-codes", limits.maxCodes, "Zip codes and points per render")
        ->type_name("N")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    cmd->add_option("--max-body", limits.maxBodyBytes, "Bytes of a request body")
        ->type_name("BYTES")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    cmd->add_option("--max-pixels", limits.maxPicturePixels, "Pixels of a map that may be rendered")
        ->type_name("N")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    cmd->add_option_function<double>(
           "--keep-days",
           [&limits](double days) {
               limits.keepFor = std::chrono::seconds(static_cast<int64_t>(days * 86400));
           },
           "Days a picture's link keeps working after its render (default 7)")
        ->type_name("DAYS")
        ->check(CLI::Range(0.0001, 3650.0));
    cmd->add_option_function<double>(
           "--head-timeout",
           [&limits](double seconds) {
               limits.headTimeout = std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
           },
           "Seconds a client has to send a whole request head (default 5)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.05, 600.0));
    cmd->add_option("--max-connections", limits.maxConnections,
                    "Open connections; past it the oldest idle or incomplete one is closed")
        ->type_name("N")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    cmd->add_option("--max-per-address", limits.maxPerAddress,
                    "Open connections from one address; past it that address's oldest idle or "
                    "incomplete one is closed")
        ->type_name("N")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    cmd->footer(
        "\nOpen the address printed at start-up in a browser. The server listens on the\n"
        "loopback address unless --bind names another; it logs one line per request on\n"
        "standard error and stops on Ctrl+C (SIGINT) or SIGTERM within a few seconds.\n"
        "A picture's link works for --keep-days from any server that shares the --store.\n\n"
        "Examples:\n"
        "  zembra serve\n"
        "  zembra serve --bind 0.0.0.0 --port 8000 --workers 4\n"
        "  zembra serve --port 8001 --store /srv/zembra/links --allowed-host maps.example.com\n");
    return cmd;
}

namespace {

// Many slow clients each hold a descriptor: the soft limit goes up to the hard one.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int runServe(const ServerConfig& config, std::ostream& out, std::ostream& err) {
    raiseDescriptorLimit();
    const BlockedSignals signals;
    Log log(err);
    Server server(config, log);
    const int port = server.bind();
    std::atomic<bool> ended{false};
    std::thread listener([&] {
        server.run();
        ended = true;
    });
    out << "zembra serve: listening on http://"
        << (config.bind.find(':') != std::string::npos ? "[" + config.bind + "]" : config.bind)
        << ':' << port << "/" << std::endl;
    int signal = 0;
    while (!ended && signal == 0) signal = signals.wait(timespec{0, 200'000'000});
    if (signal != 0)
        log.line(std::string("zembra serve: ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                 ", stopping");
    server.stop();
    listener.join();
    log.line("zembra serve: stopped");
    return 0;
}

}  // namespace zembra::serve
