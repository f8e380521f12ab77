// SPDX-License-Identifier: Apache-2.0
#include <winsock2.h>
#include <ws2tcpip.h>

#include <map>

#include "transport/server_sockets.h"
#include "transport/winsock.h"

namespace transport {

namespace {

void setNonBlocking(SOCKET s) {
  u_long on = 1;
  ::ioctlsocket(s, FIONBIO, &on);
}

bool wouldBlock() {
  const int err = ::WSAGetLastError();
  return err == WSAEWOULDBLOCK || err == WSAEINTR;
}

}  // namespace

// The wake-up is a datagram to a socket of our own on loopback: WSAPoll
// waits on sockets only.
struct ServerSockets::Native {
  SOCKET listen = INVALID_SOCKET;
  SOCKET wakeIn = INVALID_SOCKET;
  SOCKET wakeOut = INVALID_SOCKET;
  sockaddr_in wakeAddress{};
  std::map<int, SOCKET> sockets;
  int nextId = 0;
};

ServerSockets::ServerSockets() : native_(std::make_unique<Native>()) {
  if (!winsockReady()) return;
  Native& n = *native_;
  n.wakeIn = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  n.wakeOut = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  n.wakeAddress.sin_family = AF_INET;
  n.wakeAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof n.wakeAddress;
  if (n.wakeIn != INVALID_SOCKET &&
      ::bind(n.wakeIn, reinterpret_cast<const sockaddr*>(&n.wakeAddress), sizeof n.wakeAddress) == 0)
    ::getsockname(n.wakeIn, reinterpret_cast<sockaddr*>(&n.wakeAddress), &len);
  setNonBlocking(n.wakeIn);
}

ServerSockets::~ServerSockets() {
  for (const auto& [id, s] : native_->sockets) ::closesocket(s);
  for (const SOCKET s : {native_->listen, native_->wakeIn, native_->wakeOut})
    if (s != INVALID_SOCKET) ::closesocket(s);
}

std::error_code ServerSockets::listen(const std::string& address, std::uint16_t port) {
  if (!winsockReady()) return std::make_error_code(std::errc::network_down);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
    return std::make_error_code(std::errc::invalid_argument);
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return lastSocketError();
  // Nobody else may bind the same port while we hold it.
  const BOOL exclusive = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, 32) != 0) {
    const std::error_code ec = lastSocketError();
    ::closesocket(s);
    return ec;
  }
  setNonBlocking(s);
  native_->listen = s;
  return {};
}

std::uint16_t ServerSockets::port() const {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(native_->listen, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

int ServerSockets::accept() {
  const SOCKET s = ::accept(native_->listen, nullptr, nullptr);
  if (s == INVALID_SOCKET) return -1;
  setNonBlocking(s);
  const int id = native_->nextId++;
  native_->sockets[id] = s;
  return id;
}

int ServerSockets::receive(int id, std::uint8_t* buffer, int size) {
  const auto it = native_->sockets.find(id);
  if (it == native_->sockets.end()) return -1;
  const int n = ::recv(it->second, reinterpret_cast<char*>(buffer), size, 0);
  if (n > 0) return n;
  if (n == 0) return kPeerClosed;
  if (wouldBlock()) return 0;
  return -1;
}

int ServerSockets::send(int id, const std::uint8_t* bytes, int size) {
  const auto it = native_->sockets.find(id);
  if (it == native_->sockets.end()) return -1;
  const int n = ::send(it->second, reinterpret_cast<const char*>(bytes), size, 0);
  if (n >= 0) return n;
  return wouldBlock() ? 0 : -1;
}

void ServerSockets::close(int id) {
  const auto it = native_->sockets.find(id);
  if (it == native_->sockets.end()) return;
  ::closesocket(it->second);
  native_->sockets.erase(it);
}

void ServerSockets::wait(const std::vector<int>& ids, const std::vector<int>& wantWrite, int timeoutMs,
                         Ready* ready) {
  std::vector<WSAPOLLFD> set;
  std::vector<int> owner;
  set.push_back({native_->wakeIn, POLLRDNORM, 0});
  set.push_back({native_->listen, POLLRDNORM, 0});
  for (const int id : ids) {
    const auto it = native_->sockets.find(id);
    if (it == native_->sockets.end()) continue;
    SHORT events = POLLRDNORM;
    for (const int w : wantWrite)
      if (w == id) events |= POLLWRNORM;
    set.push_back({it->second, events, 0});
    owner.push_back(id);
  }
  *ready = {};
  if (::WSAPoll(set.data(), static_cast<ULONG>(set.size()), timeoutMs) <= 0) return;
  if (set[0].revents != 0) {
    char drain[64];
    while (::recv(native_->wakeIn, drain, sizeof drain, 0) > 0) {
    }
  }
  ready->accept = (set[1].revents & POLLRDNORM) != 0;
  for (std::size_t i = 2; i < set.size(); ++i) {
    if ((set[i].revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0) ready->readable.push_back(owner[i - 2]);
    if ((set[i].revents & POLLWRNORM) != 0) ready->writable.push_back(owner[i - 2]);
  }
}

void ServerSockets::wake() {
  const char one = 1;
  ::sendto(native_->wakeOut, &one, 1, 0, reinterpret_cast<const sockaddr*>(&native_->wakeAddress),
           sizeof native_->wakeAddress);
}

}  // namespace transport
