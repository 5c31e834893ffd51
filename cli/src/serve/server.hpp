// `zembra serve`: the page and the HTTP API over the render library.
//
//   GET  /                       the page (index.html, app.css, app.js)
//   GET  /healthz                {"status": "ok", ...}
//   GET  /api/maps               maps: name, size, bounds, thumbnail link
//   GET  /api/markers            markers: name, size, thumbnail link, the default
//   GET  /api/maps/NAME/picture, /api/markers/NAME/picture   the picture itself
//   POST /api/render             JSON or multipart CSV upload -> JSON with a picture link
//   GET  /api/pictures/ID.EXT    a rendered picture in any format (?download=1 to save it)
//   GET  /api/renders/ID         what the render ID was asked, and its answer (share links)
//   GET  /api/lookup?map=NAME&x=X&y=Y[&render=ID]   what lies under a pixel
//
// Every refusal is a JSON body {"error": {"code": ..., "message": ...}}. The server holds no
// state a link needs: the render request behind each picture id is kept in the link store,
// and a picture not in this server's memory is rendered again from it.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "serve/limits.hpp"

namespace zembra::serve {

struct ServerConfig {
    std::string bind = "127.0.0.1";
    int port = 8080;               // 0: any free port
    std::filesystem::path images;  // empty: the images folder beside the program
    std::filesystem::path web;     // empty: the page assets installed with the program
    std::string connection;        // empty: the engine's default zip-code database
    std::string store;             // link store: a folder or a connection string; empty: default
    std::vector<std::string> allowedHosts;  // Host names accepted besides loopback ones
    Limits limits;
};

// Lines written by several threads at once, each whole and flushed.
class Log {
  public:
    explicit Log(std::ostream& out) : out_(out) {}
    void line(const std::string& text);

  private:
    std::mutex mutex_;
    std::ostream& out_;
};

class Server {
  public:
    // Finds the maps and markers and loads the page. Raises zembra::Error when the images
    // folder or the page assets are missing.
    Server(ServerConfig config, Log& log);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the configured address and port; returns the port (the one chosen for port 0).
    // Raises zembra::Error (5) when the address cannot be bound.
    int bind();
    // Answers requests until stop(); returns once the requests in progress are answered.
    void run();
    // Ends run(): stops accepting, lets the answers in progress finish for a moment, then
    // cancels them. Callable from any thread, not from a signal handler.
    void stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The page assets of an installed or built program: <program dir>/<bin-to-data>/web.
std::filesystem::path defaultWebDirectory();

}  // namespace zembra::serve
