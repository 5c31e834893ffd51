// A `zembra serve` server on 127.0.0.1 and a port of the system's choosing, answering on its
// own thread, with a link store of its own unless the test names one.
#pragma once

#include <httplib.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <zembra/test/support.hpp>

#include "serve/server.hpp"

namespace zembra::test {

inline const std::filesystem::path kImages = std::filesystem::path(ZEMBRA_APP_DIR) / "Images";

class RunningServer {
  public:
    explicit RunningServer(serve::ServerConfig config) : log_(text_) {
        config.bind = "127.0.0.1";
        config.port = 0;
        if (config.images.empty()) config.images = kImages;
        if (config.store.empty()) config.store = (store_.path() / "links").string();
        config.web = ZEMBRA_WEB_DIR;
        server_ = std::make_unique<serve::Server>(std::move(config), log_);
        port_ = server_->bind();
        thread_ = std::thread([this] { server_->run(); });
    }
    ~RunningServer() { stop(); }

    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(std::chrono::minutes(2));
        return c;
    }
    int port() const noexcept { return port_; }
    // Stops the server and returns its log.
    std::string stop() {
        if (thread_.joinable()) {
            server_->stop();
            thread_.join();
        }
        return text_.str();
    }

  private:
    test::TempDir store_{"serve-links"};
    std::ostringstream text_;
    serve::Log log_;
    std::unique_ptr<serve::Server> server_;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace zembra::test
