// Test support: a TCP server on 127.0.0.1 that misbehaves the way a stuck or broken database
// server does (header only).
//
//   Silent       accepts and never sends a byte
//   Drip         accepts and sends one byte a second, so no read ever times out
//   AcceptClose  accepts and closes at once
//
// It listens on a free port from the moment it is constructed. It stops by itself after
// `lifetime` and at the latest when the object goes, closing every connection it holds, so a
// client still waiting on it gets an end of file.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zembra::test {

class LoopbackListener {
  public:
    enum class Mode { Silent, Drip, AcceptClose };

    explicit LoopbackListener(Mode mode, std::chrono::seconds lifetime = std::chrono::seconds(60))
        : mode_(mode), until_(std::chrono::steady_clock::now() + lifetime) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) fail("socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;  // any free port
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            const std::string what = std::strerror(errno);
            ::close(fd_);
            throw std::runtime_error("loopback listener: " + what);
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }

    ~LoopbackListener() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }

    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    uint16_t port() const noexcept { return port_; }
    // Connections accepted so far.
    int accepted() const noexcept { return accepted_; }

  private:
    [[noreturn]] static void fail(const char* call) {
        throw std::runtime_error(std::string("loopback listener: ") + call + ": " +
                                 std::strerror(errno));
    }

    bool running() const { return !stop_ && std::chrono::steady_clock::now() < until_; }

    // Accepts and serves every client on one thread, waking every 100 ms to check the end.
    void serve() {
        std::vector<int> clients;
        auto nextDrip = std::chrono::steady_clock::now();
        while (running()) {
            pollfd wait{fd_, POLLIN, 0};
            if (::poll(&wait, 1, 100) > 0) {
                const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0) {
                    ++accepted_;
                    if (mode_ == Mode::AcceptClose) {
                        ::close(client);
                    } else {
                        clients.push_back(client);
                    }
                }
            }
            if (mode_ == Mode::Drip && std::chrono::steady_clock::now() >= nextDrip) {
                nextDrip += std::chrono::seconds(1);
                const char byte = 0x04;
                for (int client : clients) ::send(client, &byte, 1, MSG_NOSIGNAL);
            }
        }
        for (int client : clients) ::close(client);
    }

    Mode mode_;
    std::chrono::steady_clock::time_point until_;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

}  // namespace zembra::test
