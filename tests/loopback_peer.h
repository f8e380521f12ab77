#pragma once

// The one TCP peer of the tests, on a loopback address: listens (on the
// scanner's port, or on an ephemeral one with port 0), accepts one
// connection, and lets the test send and receive raw bytes. Only addresses in
// 127.0.0.0/8 are ever used. Every wait is bounded.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/unique_fd.h"

class LoopbackPeer {
 public:
  explicit LoopbackPeer(const std::string& address, std::uint16_t port = 10002) {
    listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    ok_ = ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
          ::listen(listener_.get(), 4) == 0;
  }
  bool listening() const { return ok_; }
  std::uint16_t port() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
  }

  bool accept(int timeoutMs = 3000) {
    pollfd p{listener_.get(), POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return false;
    conn_.reset(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const int one = 1;
    ::setsockopt(conn_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return conn_.valid();
  }
  bool send(const std::vector<std::uint8_t>& bytes) {
    return ::send(conn_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  bool send(const std::string& text) { return send(std::vector<std::uint8_t>(text.begin(), text.end())); }
  // Reads what arrives within `timeoutMs` until `want` bytes are in.
  std::vector<std::uint8_t> receive(std::size_t want, int timeoutMs = 2000) {
    std::vector<std::uint8_t> got;
    while (got.size() < want) {
      pollfd p{conn_.get(), POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) != 1) break;
      std::uint8_t buf[4096];
      ssize_t n = ::recv(conn_.get(), buf, sizeof buf, 0);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  void closeConnection() { conn_.reset(); }
  void closeListener() { listener_.reset(); }
  int connectionFd() const { return conn_.get(); }

 private:
  platform::UniqueFd listener_;
  platform::UniqueFd conn_;
  bool ok_ = false;
};
