// The connection layer of `zembra serve`: HTTP/1.1 over TCP on one event thread, with the
// request handlers on threads of their own so that a slow handler never holds a socket
// back. It is built to stay answerable when clients are slow or hostile:
//
//   - a request head must be complete within headTimeout of its first byte (of the accept
//     for a new connection), its body within bodyTimeout;
//   - a keep-alive connection may stay idle for idleTimeout, and at most maxIdle of them
//     stay open at once (the oldest idle one is closed first);
//   - at maxPerAddress connections from one address, a new one from that address closes the
//     address's connection that has been idle or incomplete the longest, rather than being
//     refused; at maxConnections in all, the oldest idle (then incomplete) one anywhere;
//   - stop() closes every connection that is not being answered at once and gives the
//     answers in progress stopGrace before it calls the cancel hook and closes the rest.
//
// Answers go out in one write (head and body together) on a socket with TCP_NODELAY.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zembra::serve::http {

struct Field {
    std::string name;
    std::string value;
};

struct Request {
    std::string method;                                      // "GET", "POST", ...
    std::string target;                                      // as sent: path and query
    std::string path;                                        // percent-decoded, without the query
    std::vector<std::pair<std::string, std::string>> query;  // decoded, in the order sent
    std::vector<Field> headers;
    std::string body;
    std::string remoteAddress;
    unsigned version = 11;  // 10 or 11

    // The first header of that name (ignoring case); empty when there is none.
    std::string header(std::string_view name) const;
    bool hasHeader(std::string_view name) const;
    bool hasParam(std::string_view name) const;
    std::string param(std::string_view name) const;  // empty when absent
};

struct Response {
    int status = 200;
    std::vector<Field> headers;
    std::string body;

    // Replaces a header of that name (ignoring case), or adds it.
    void set(std::string name, std::string value);
    std::string header(std::string_view name) const;
};

// How one request is answered: once with send(), or as a chunked stream with
// beginStream(), write() and end(). Every member may be called from any thread.
class Reply {
  public:
    virtual ~Reply() = default;
    virtual void send(Response response) = 0;
    virtual void beginStream(Response head) = 0;
    // False once the client is gone: nothing more will reach it.
    virtual bool write(std::string chunk) = 0;
    virtual void end() = 0;
};

struct ConnectionLimits {
    std::chrono::milliseconds headTimeout{5'000};
    std::chrono::milliseconds bodyTimeout{30'000};
    std::chrono::milliseconds idleTimeout{15'000};
    std::chrono::milliseconds writeTimeout{30'000};
    std::chrono::milliseconds stopGrace{2'000};
    size_t maxConnections = 2'048;
    size_t maxPerAddress = 64;
    size_t maxIdle = 256;
    size_t maxHeadBytes = 16 * 1024;
    size_t maxBodyBytes = 8u << 20;
    size_t handlerThreads = 64;
};

// What the server above this layer supplies.
struct Hooks {
    // Looks at a request head before its body is read; an answer refuses the request
    // (the connection is closed after it, the body never read).
    std::function<std::optional<Response>(const Request&)> checkHead;
    // Answers a complete request, on a handler thread; may block.
    std::function<void(Request, std::shared_ptr<Reply>)> handle;
    // The refusals of this layer itself: 400 (malformed), 413 (body), 431 (head), 503.
    std::function<Response(int status, const std::string& code, const std::string& message)> refuse;
    // Called once per answered request: status, body bytes (nothing for a stream), and
    // milliseconds from the complete head to the end of the answer.
    std::function<void(const Request&, int status, std::optional<size_t> bytes, double ms)>
        answered;
    // Called when stop()'s grace has run out with answers still in progress.
    std::function<void()> cancelAll;
};

class HttpServer {
  public:
    HttpServer(ConnectionLimits limits, Hooks hooks);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on `address` (an IPv4 or IPv6 address, or a name that resolves to one) and
    // `port` (0: any free one); returns the port. Raises zembra::Error 5 when it cannot.
    int bind(const std::string& address, int port);
    // True when the bound address is a loopback address.
    bool loopback() const;
    // Serves until stop(); returns when every connection is closed and every handler done.
    void run();
    // Ends run(); callable from any thread, also before run() has begun.
    void stop();

    struct Counts {
        size_t open = 0;
        size_t idle = 0;
        size_t incomplete = 0;  // head or body still arriving
        size_t busy = 0;        // being answered
    };
    Counts counts() const;

    struct Impl;  // also reached by the connections it owns

  private:
    std::shared_ptr<Impl> impl_;
};

// Percent-decodes `text`; with `plusIsSpace` (query strings) '+' becomes a blank. Nothing
// for a malformed escape.
std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace);

// Splits a target into its decoded path and query parameters. Nothing when either part
// holds a malformed escape.
std::optional<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> splitTarget(
    std::string_view target);

}  // namespace zembra::serve::http
