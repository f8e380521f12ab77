// SPDX-License-Identifier: Apache-2.0
#include <winsock2.h>
#include <ws2tcpip.h>

#include "loopback_peer.h"

namespace {

// Winsock counts its starts; the peer holds one of its own for its lifetime.
struct WinsockUse {
  WinsockUse() {
    WSADATA data{};
    ok = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockUse() {
    if (ok) ::WSACleanup();
  }
  bool ok = false;
};

void closeSocket(SOCKET& s) {
  if (s != INVALID_SOCKET) ::closesocket(s);
  s = INVALID_SOCKET;
}

bool readable(SOCKET s, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(0, &set, nullptr, nullptr, &tv) == 1;
}

}  // namespace

struct LoopbackPeer::Native {
  WinsockUse winsock;
  SOCKET listener = INVALID_SOCKET;
  SOCKET conn = INVALID_SOCKET;
  bool ok = false;
  ~Native() {
    closeSocket(conn);
    closeSocket(listener);
  }
};

LoopbackPeer::LoopbackPeer(const std::string& address, std::uint16_t port)
    : native_(std::make_unique<Native>()) {
  native_->listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  // Exclusive, so that two peers never share an address and port.
  const BOOL one = TRUE;
  ::setsockopt(native_->listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
               sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
  native_->ok = native_->listener != INVALID_SOCKET &&
                ::bind(native_->listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                ::listen(native_->listener, 4) == 0;
}

LoopbackPeer::~LoopbackPeer() = default;

bool LoopbackPeer::listening() const {
  return native_->ok;
}

std::uint16_t LoopbackPeer::port() const {
  sockaddr_in a{};
  int len = sizeof a;
  if (::getsockname(native_->listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

bool LoopbackPeer::accept(int timeoutMs) {
  if (!readable(native_->listener, timeoutMs)) return false;
  native_->conn = ::accept(native_->listener, nullptr, nullptr);
  const BOOL one = TRUE;
  ::setsockopt(native_->conn, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return native_->conn != INVALID_SOCKET;
}

bool LoopbackPeer::send(const std::vector<std::uint8_t>& bytes) {
  return ::send(native_->conn, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()),
                0) == static_cast<int>(bytes.size());
}

std::vector<std::uint8_t> LoopbackPeer::receive(std::size_t want, int timeoutMs) {
  std::vector<std::uint8_t> got;
  while (got.size() < want) {
    if (!readable(native_->conn, timeoutMs)) break;
    char buf[4096];
    const int n = ::recv(native_->conn, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

void LoopbackPeer::closeConnection() {
  closeSocket(native_->conn);
}

void LoopbackPeer::closeListener() {
  closeSocket(native_->listener);
}
