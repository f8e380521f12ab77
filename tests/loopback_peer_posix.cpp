// SPDX-License-Identifier: Apache-2.0
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "loopback_peer.h"
#include "platform/posix/unique_fd.h"

struct LoopbackPeer::Native {
  platform::UniqueFd listener;
  platform::UniqueFd conn;
  bool ok = false;
};

LoopbackPeer::LoopbackPeer(const std::string& address, std::uint16_t port)
    : native_(std::make_unique<Native>()) {
  native_->listener.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int one = 1;
  ::setsockopt(native_->listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
  native_->ok = ::bind(native_->listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                ::listen(native_->listener.get(), 4) == 0;
}

LoopbackPeer::~LoopbackPeer() = default;

bool LoopbackPeer::listening() const {
  return native_->ok;
}

std::uint16_t LoopbackPeer::port() const {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(native_->listener.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

bool LoopbackPeer::accept(int timeoutMs) {
  pollfd p{native_->listener.get(), POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) != 1) return false;
  native_->conn.reset(::accept4(native_->listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  const int one = 1;
  ::setsockopt(native_->conn.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return native_->conn.valid();
}

bool LoopbackPeer::send(const std::vector<std::uint8_t>& bytes) {
  return ::send(native_->conn.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(bytes.size());
}

std::vector<std::uint8_t> LoopbackPeer::receive(std::size_t want, int timeoutMs) {
  std::vector<std::uint8_t> got;
  while (got.size() < want) {
    pollfd p{native_->conn.get(), POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) break;
    std::uint8_t buf[4096];
    const ssize_t n = ::recv(native_->conn.get(), buf, sizeof buf, 0);
    if (n <= 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

void LoopbackPeer::closeConnection() {
  native_->conn.reset();
}

void LoopbackPeer::closeListener() {
  native_->listener.reset();
}
