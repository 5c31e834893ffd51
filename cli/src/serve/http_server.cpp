#include "serve/http_server.hpp"

#include <boost/asio.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

namespace zembra::serve::http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// ---- requests and responses ----------------------------------------------------------

std::string Request::header(std::string_view name) const {
    for (const auto& f : headers)
        if (equalsIgnoreCase(f.name, name)) return f.value;
    return {};
}

bool Request::hasHeader(std::string_view name) const {
    for (const auto& f : headers)
        if (equalsIgnoreCase(f.name, name)) return true;
    return false;
}

bool Request::hasParam(std::string_view name) const {
    for (const auto& [key, value] : query)
        if (key == name) return true;
    return false;
}

std::string Request::param(std::string_view name) const {
    for (const auto& [key, value] : query)
        if (key == name) return value;
    return {};
}

void Response::set(std::string name, std::string value) {
    for (auto& f : headers) {
        if (equalsIgnoreCase(f.name, name)) {
            f.value = std::move(value);
            return;
        }
    }
    headers.push_back({std::move(name), std::move(value)});
}

std::string Response::header(std::string_view name) const {
    for (const auto& f : headers)
        if (equalsIgnoreCase(f.name, name)) return f.value;
    return {};
}

std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace) {
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = hex(text[i + 1]);
            const int low = hex(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> splitTarget(
    std::string_view target) {
    const auto mark = target.find('?');
    auto path = percentDecode(target.substr(0, mark), false);
    if (!path) return std::nullopt;
    std::vector<std::pair<std::string, std::string>> query;
    if (mark != std::string_view::npos) {
        std::string_view rest = target.substr(mark + 1);
        while (!rest.empty()) {
            const auto amp = rest.find('&');
            const std::string_view item = rest.substr(0, amp);
            rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
            if (item.empty()) continue;
            const auto eq = item.find('=');
            auto key = percentDecode(item.substr(0, eq), true);
            auto value = percentDecode(
                eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1), true);
            if (!key || !value) return std::nullopt;
            query.emplace_back(std::move(*key), std::move(*value));
        }
    }
    return std::make_pair(std::move(*path), std::move(query));
}

namespace {

// The status line and headers of an answer, followed by its body unless `withBody` is
// false (HEAD) or the answer is streamed (no Content-Length, chunked).
std::string serialize(const Response& r, bool keepAlive, bool withBody, bool chunked) {
    std::string out = "HTTP/1.1 " + std::to_string(r.status) + ' ';
    out +=
        std::string(bhttp::obsolete_reason(bhttp::int_to_status(static_cast<unsigned>(r.status))));
    out += "\r\n";
    for (const auto& f : r.headers) {
        if (equalsIgnoreCase(f.name, "Content-Length") || equalsIgnoreCase(f.name, "Connection") ||
            equalsIgnoreCase(f.name, "Transfer-Encoding")) {
            continue;
        }
        out += f.name + ": " + f.value + "\r\n";
    }
    if (chunked) {
        out += "Transfer-Encoding: chunked\r\n";
    } else {
        out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
    }
    out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    if (withBody && !chunked) out += r.body;
    return out;
}

// Draining: the answer is out and the connection closing; what the client still sends is
// read and dropped for a moment so that it sees the answer rather than a reset.
enum class State { Idle, Head, Body, Busy, Draining, Closed };

}  // namespace

// ---- the server ----------------------------------------------------------------------

struct Connection;

struct HttpServer::Impl : std::enable_shared_from_this<HttpServer::Impl> {
    ConnectionLimits limits;
    Hooks hooks;
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer retryAccept{io};
    asio::steady_timer grace{io};
    bool isLoopback = false;
    bool stopping = false;  // event thread only
    uint64_t serial = 0;
    std::list<std::shared_ptr<Connection>> connections;  // event thread only
    std::unordered_map<std::string, size_t> perAddress;
    mutable std::mutex countsMutex;
    Counts counts;

    // Handler threads with their queue.
    std::mutex handlerMutex;
    std::condition_variable handlerReady;
    std::deque<std::function<void()>> handlerQueue;
    bool handlersStopping = false;
    std::vector<std::thread> handlerThreads;

    Impl(ConnectionLimits l, Hooks h) : limits(l), hooks(std::move(h)) {}

    void startHandlers() {
        for (size_t i = 0; i < std::max<size_t>(limits.handlerThreads, 1); ++i) {
            handlerThreads.emplace_back([this] {
                for (;;) {
                    std::function<void()> task;
                    {
                        std::unique_lock lock(handlerMutex);
                        handlerReady.wait(
                            lock, [this] { return handlersStopping || !handlerQueue.empty(); });
                        if (handlerQueue.empty()) return;
                        task = std::move(handlerQueue.front());
                        handlerQueue.pop_front();
                    }
                    try {
                        task();
                    } catch (...) {
                        // A handler answers its own failures; one that escapes must not end
                        // the thread.
                    }
                }
            });
        }
    }

    void stopHandlers() {
        {
            std::lock_guard lock(handlerMutex);
            handlersStopping = true;
        }
        handlerReady.notify_all();
        for (auto& t : handlerThreads) t.join();
        handlerThreads.clear();
    }

    void queueHandler(std::function<void()> task) {
        {
            std::lock_guard lock(handlerMutex);
            handlerQueue.push_back(std::move(task));
        }
        handlerReady.notify_one();
    }

    void accept();
    void makeRoom(const std::string& address);
    void limitIdle();
    void recount();
    void beginStop();
    void forget(Connection* c);
};

struct ReplyImpl;

struct Connection : std::enable_shared_from_this<Connection> {
    HttpServer::Impl& server;
    tcp::socket socket;
    asio::steady_timer timer;
    beast::flat_buffer buffer;
    std::optional<bhttp::request_parser<bhttp::string_body>> parser;
    State state = State::Head;
    Clock::time_point since = Clock::now();  // when the current state began
    std::string address;
    uint64_t serial = 0;
    std::deque<std::string> outgoing;
    bool writing = false;
    bool answerComplete = false;  // the last piece of the answer is queued
    bool keepAlive = true;
    bool isHead = false;
    std::shared_ptr<ReplyImpl> reply;
    Request current;  // the request being answered, for the log
    Clock::time_point answerStart;
    std::optional<size_t> answerBytes;
    int answerStatus = 0;

    Connection(HttpServer::Impl& s, tcp::socket sock)
        : server(s), socket(std::move(sock)), timer(s.io) {}

    bool evictable() const {
        return state == State::Idle || state == State::Head || state == State::Body ||
               state == State::Draining;
    }

    void setState(State s) {
        state = s;
        since = Clock::now();
        server.recount();
    }

    // Closes the socket when the deadline passes; a later call replaces the deadline.
    void deadline(std::chrono::milliseconds after) {
        timer.expires_after(after);
        timer.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
            if (!ec) self->close();
        });
    }
    void noDeadline() { timer.cancel(); }

    void start(bool fresh) {
        if (fresh) {
            setState(State::Head);
            deadline(server.limits.headTimeout);
            readHead();
        } else {
            setState(State::Idle);
            server.limitIdle();
            if (state == State::Closed) return;
            if (buffer.size() > 0) {
                setState(State::Head);
                deadline(server.limits.headTimeout);
                readHead();
                return;
            }
            deadline(server.limits.idleTimeout);
            socket.async_read_some(
                buffer.prepare(4096),
                [self = shared_from_this()](const boost::system::error_code& ec, size_t n) {
                    if (self->state == State::Closed) return;
                    self->buffer.commit(n);
                    if (ec) return self->close();
                    self->setState(State::Head);
                    self->deadline(self->server.limits.headTimeout);
                    self->readHead();
                });
        }
    }

    Request headRequest() const {
        const auto& message = parser->get();
        Request r;
        r.method = std::string(message.method_string());
        r.target = std::string(message.target());
        r.version = message.version();
        r.remoteAddress = address;
        for (const auto& field : message) {
            r.headers.push_back({std::string(field.name_string()), std::string(field.value())});
        }
        if (auto split = splitTarget(r.target)) {
            r.path = std::move(split->first);
            r.query = std::move(split->second);
        }
        return r;
    }

    void refuse(int status, const std::string& code, const std::string& message) {
        Request r = parser && parser->is_header_done() ? headRequest() : Request{};
        if (r.method.empty()) r.remoteAddress = address;
        current = std::move(r);
        answerStart = Clock::now();
        keepAlive = false;
        respond(server.hooks.refuse(status, code, message));
    }

    void readHead() {
        parser.emplace();
        parser->header_limit(static_cast<uint32_t>(server.limits.maxHeadBytes));
        parser->body_limit(server.limits.maxBodyBytes);
        bhttp::async_read_header(socket, buffer, *parser,
                                 [self = shared_from_this()](const boost::system::error_code& ec,
                                                             size_t) { self->onHead(ec); });
    }

    void onHead(const boost::system::error_code& ec) {
        if (state == State::Closed) return;
        if (ec == bhttp::error::header_limit) {
            return refuse(431, "head_too_large",
                          "The request head is larger than this server accepts (at most " +
                              std::to_string(server.limits.maxHeadBytes) + " bytes).");
        }
        if (ec == bhttp::error::body_limit) return refuseBody();
        if (ec) {
            // Closed, timed out, or not HTTP at all.
            if (ec.category() == bhttp::make_error_code(bhttp::error::end_of_stream).category() &&
                ec != bhttp::error::end_of_stream && ec != bhttp::error::partial_message) {
                return refuse(400, "bad_request", "The request is not well-formed HTTP/1.1.");
            }
            return close();
        }
        Request head = headRequest();
        if (!splitTarget(head.target)) {
            current = head;
            return refuse(400, "bad_request", "The address holds a malformed %-escape.");
        }
        if (server.hooks.checkHead) {
            if (auto refusal = server.hooks.checkHead(head)) {
                current = std::move(head);
                answerStart = Clock::now();
                keepAlive = false;
                return respond(*refusal);
            }
        }
        if (parser->is_done()) return dispatch();
        setState(State::Body);
        deadline(server.limits.bodyTimeout);
        const auto expect = parser->get()[bhttp::field::expect];
        if (equalsIgnoreCase(std::string(expect), "100-continue")) {
            auto text = std::make_shared<std::string>("HTTP/1.1 100 Continue\r\n\r\n");
            asio::async_write(
                socket, asio::buffer(*text),
                [self = shared_from_this(), text](const boost::system::error_code& e, size_t) {
                    if (self->state == State::Closed) return;
                    if (e) return self->close();
                    self->readBody();
                });
            return;
        }
        readBody();
    }

    void readBody() {
        bhttp::async_read(socket, buffer, *parser,
                          [self = shared_from_this()](const boost::system::error_code& ec, size_t) {
                              if (self->state == State::Closed) return;
                              if (ec == bhttp::error::body_limit) return self->refuseBody();
                              if (ec) return self->close();
                              self->dispatch();
                          });
    }

    void refuseBody() {
        refuse(413, "body_too_large",
               "The request body is larger than this server accepts (at most " +
                   std::to_string(server.limits.maxBodyBytes) + " bytes).");
    }

    void dispatch();
    void respond(const Response& response);
    void queue(std::string bytes, bool last);
    void writeNext();
    void answered();
    void drain();
    void close();
};

// What a handler holds: it reaches its connection only through the event thread.
struct ReplyImpl : Reply {
    std::weak_ptr<Connection> connection;
    asio::io_context& io;
    std::atomic<bool> gone{false};
    std::atomic<bool> finished{false};

    ReplyImpl(std::weak_ptr<Connection> c, asio::io_context& i) : connection(std::move(c)), io(i) {}

    void send(Response response) override {
        if (finished.exchange(true)) return;
        asio::post(io, [c = connection, response = std::move(response)]() mutable {
            if (auto conn = c.lock(); conn && conn->state == State::Busy) conn->respond(response);
        });
    }
    void beginStream(Response head) override {
        asio::post(io, [c = connection, head = std::move(head)]() mutable {
            auto conn = c.lock();
            if (!conn || conn->state != State::Busy) return;
            conn->answerStatus = head.status;
            conn->answerBytes.reset();
            conn->queue(serialize(head, conn->keepAlive, false, true), false);
        });
    }
    bool write(std::string chunk) override {
        if (gone || finished) return false;
        if (chunk.empty()) return true;
        std::ostringstream size;
        size << std::hex << chunk.size() << "\r\n";
        asio::post(io, [c = connection, bytes = size.str() + chunk + "\r\n"]() mutable {
            if (auto conn = c.lock(); conn && conn->state == State::Busy)
                conn->queue(std::move(bytes), false);
        });
        return !gone;
    }
    void end() override {
        if (finished.exchange(true)) return;
        asio::post(io, [c = connection] {
            if (auto conn = c.lock(); conn && conn->state == State::Busy)
                conn->queue("0\r\n\r\n", true);
        });
    }
};

void Connection::dispatch() {
    setState(State::Busy);
    noDeadline();
    Request request = headRequest();
    request.body = std::move(parser->get().body());
    keepAlive = parser->get().keep_alive() && !server.stopping;
    isHead = request.method == "HEAD";
    parser.reset();
    current = request;
    current.body.clear();
    answerStart = Clock::now();
    reply = std::make_shared<ReplyImpl>(weak_from_this(), server.io);
    server.queueHandler([handle = server.hooks.handle, request = std::move(request),
                         reply = reply]() mutable { handle(std::move(request), reply); });
}

void Connection::respond(const Response& response) {
    if (state == State::Closed) return;
    if (state != State::Busy) setState(State::Busy);
    if (server.stopping) keepAlive = false;
    answerStatus = response.status;
    answerBytes = response.body.size();
    queue(serialize(response, keepAlive, !isHead, false), true);
}

void Connection::queue(std::string bytes, bool last) {
    if (state == State::Closed) return;
    outgoing.push_back(std::move(bytes));
    if (last) answerComplete = true;
    if (!writing) writeNext();
}

void Connection::writeNext() {
    if (outgoing.empty()) {
        writing = false;
        if (answerComplete) {
            answered();
        } else {
            noDeadline();  // a stream waits for its next piece as long as its render takes
        }
        return;
    }
    writing = true;
    deadline(server.limits.writeTimeout);
    asio::async_write(socket, asio::buffer(outgoing.front()),
                      [self = shared_from_this()](const boost::system::error_code& ec, size_t) {
                          if (self->state == State::Closed) return;
                          if (ec) return self->close();
                          self->outgoing.pop_front();
                          self->writeNext();
                      });
}

void Connection::answered() {
    answerComplete = false;
    if (reply) reply->finished = true;
    reply.reset();
    if (server.hooks.answered) {
        const std::chrono::duration<double, std::milli> took = Clock::now() - answerStart;
        server.hooks.answered(current, answerStatus, answerBytes, took.count());
    }
    current = Request{};
    if (!keepAlive || server.stopping) return drain();
    start(false);
}

void Connection::drain() {
    if (state != State::Draining) {
        setState(State::Draining);
        boost::system::error_code ignored;
        socket.shutdown(tcp::socket::shutdown_send, ignored);
        deadline(std::chrono::milliseconds(1000));
        buffer.clear();
    }
    socket.async_read_some(buffer.prepare(16384), [self = shared_from_this()](
                                                      const boost::system::error_code& ec, size_t) {
        if (self->state == State::Closed) return;
        if (ec) return self->close();
        self->drain();
    });
}

void Connection::close() {
    if (state == State::Closed) return;
    state = State::Closed;
    if (reply) reply->gone = true;
    reply.reset();
    boost::system::error_code ignored;
    timer.cancel();
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
    server.forget(this);
}

void HttpServer::Impl::forget(Connection* c) {
    if (auto it = perAddress.find(c->address); it != perAddress.end() && --it->second == 0) {
        perAddress.erase(it);
    }
    // Posted: the connection may be deep in its own call chain.
    asio::post(io, [this, c] {
        connections.remove_if([c](const auto& p) { return p.get() == c; });
        recount();
        if (stopping && connections.empty()) {
            grace.cancel();
        }
    });
}

void HttpServer::Impl::recount() {
    Counts fresh;
    for (const auto& c : connections) {
        switch (c->state) {
            case State::Idle:
                ++fresh.idle;
                break;
            case State::Head:
            case State::Body:
            case State::Draining:
                ++fresh.incomplete;
                break;
            case State::Busy:
                ++fresh.busy;
                break;
            case State::Closed:
                continue;
        }
        ++fresh.open;
    }
    std::lock_guard lock(countsMutex);
    counts = fresh;
}

// The connection that has waited longest in `wanted` states among those `match`es.
template <typename Match>
static Connection* oldest(std::list<std::shared_ptr<Connection>>& all, Match match) {
    Connection* found = nullptr;
    for (const auto& c : all) {
        if (c->state == State::Closed || !match(*c)) continue;
        if (!found || c->since < found->since) found = c.get();
    }
    return found;
}

void HttpServer::Impl::makeRoom(const std::string& address) {
    if (const auto it = perAddress.find(address);
        it != perAddress.end() && it->second >= limits.maxPerAddress) {
        if (auto* c = oldest(connections, [&](const Connection& c) {
                return c.address == address && c.evictable();
            })) {
            c->close();
        }
    }
    size_t open = 0;
    for (const auto& c : connections) open += c->state != State::Closed;
    if (open >= limits.maxConnections) {
        auto* c = oldest(connections, [](const Connection& c) { return c.state == State::Idle; });
        if (!c) c = oldest(connections, [](const Connection& c) { return c.evictable(); });
        if (c) c->close();
    }
}

void HttpServer::Impl::limitIdle() {
    size_t idle = 0;
    for (const auto& c : connections) idle += c->state == State::Idle;
    while (idle > limits.maxIdle) {
        auto* c = oldest(connections, [](const Connection& c) { return c.state == State::Idle; });
        if (!c) break;
        c->close();
        --idle;
    }
}

void HttpServer::Impl::accept() {
    acceptor.async_accept([self = shared_from_this()](const boost::system::error_code& ec,
                                                      tcp::socket socket) {
        if (self->stopping || !self->acceptor.is_open()) return;
        if (ec) {
            // Out of descriptors: make room and try again shortly.
            if (ec == asio::error::no_descriptors) {
                auto* c =
                    oldest(self->connections, [](const Connection& c) { return c.evictable(); });
                if (c) c->close();
            }
            self->retryAccept.expires_after(std::chrono::milliseconds(20));
            self->retryAccept.async_wait([self](const boost::system::error_code& e) {
                if (!e) self->accept();
            });
            return;
        }
        boost::system::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        const auto remote = socket.remote_endpoint(ignored);
        auto connection = std::make_shared<Connection>(*self, std::move(socket));
        connection->address = ignored ? std::string("?") : remote.address().to_string();
        connection->serial = ++self->serial;
        self->makeRoom(connection->address);
        self->connections.push_back(connection);
        ++self->perAddress[connection->address];
        connection->start(true);
        self->accept();
    });
}

void HttpServer::Impl::beginStop() {
    if (stopping) return;
    stopping = true;
    boost::system::error_code ignored;
    acceptor.close(ignored);
    retryAccept.cancel();
    std::vector<std::shared_ptr<Connection>> all(connections.begin(), connections.end());
    for (const auto& c : all) {
        if (c->state == State::Busy) {
            c->keepAlive = false;
        } else {
            c->close();
        }
    }
    if (connections.empty()) return;
    grace.expires_after(limits.stopGrace);
    grace.async_wait([self = shared_from_this()](const boost::system::error_code& ec) {
        if (ec) return;  // every connection closed in time
        if (self->hooks.cancelAll) self->hooks.cancelAll();
        std::vector<std::shared_ptr<Connection>> left(self->connections.begin(),
                                                      self->connections.end());
        for (const auto& c : left) c->close();
    });
}

HttpServer::HttpServer(ConnectionLimits limits, Hooks hooks)
    : impl_(std::make_shared<Impl>(limits, std::move(hooks))) {}

HttpServer::~HttpServer() {
    stop();
    impl_->stopHandlers();
}

int HttpServer::bind(const std::string& address, int port) {
    auto& impl = *impl_;
    const auto fail = [&](const std::string& why) {
        return Error::standard(
            err::kInvalidArgument, "zembra serve",
            "Cannot listen on " + address + ":" + std::to_string(port) + " (" + why + ").");
    };
    boost::system::error_code ec;
    tcp::endpoint endpoint;
    const auto parsed = asio::ip::make_address(address, ec);
    if (!ec) {
        endpoint = tcp::endpoint(parsed, static_cast<unsigned short>(port));
    } else {
        tcp::resolver resolver(impl.io);
        const auto results = resolver.resolve(address, std::to_string(port), ec);
        if (ec || results.empty()) throw fail("not an address of this machine");
        endpoint = *results.begin();
    }
    impl.acceptor.open(endpoint.protocol(), ec);
    if (ec) throw fail(ec.message());
    // A quick restart may bind again; SO_REUSEPORT is left off, so a second server cannot
    // quietly share the port.
    impl.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    impl.acceptor.bind(endpoint, ec);
    if (ec) throw fail("address in use, or not an address of this machine");
    impl.acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) throw fail(ec.message());
    impl.isLoopback = endpoint.address().is_loopback();
    return impl.acceptor.local_endpoint().port();
}

bool HttpServer::loopback() const { return impl_->isLoopback; }

void HttpServer::run() {
    auto& impl = *impl_;
    impl.startHandlers();
    // A stop() asked before this is already queued and closes the acceptor first thing.
    impl.accept();
    impl.io.run();
    impl.stopHandlers();
}

void HttpServer::stop() {
    // Weak: a stop queued on an event loop that never runs must not keep the server alive.
    asio::post(impl_->io, [weak = std::weak_ptr<Impl>(impl_)] {
        if (auto impl = weak.lock()) impl->beginStop();
    });
}

HttpServer::Counts HttpServer::counts() const {
    std::lock_guard lock(impl_->countsMutex);
    return impl_->counts;
}

}  // namespace zembra::serve::http
