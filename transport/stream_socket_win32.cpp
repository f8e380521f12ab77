// SPDX-License-Identifier: Apache-2.0
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/error.h"
#include "transport/stream_socket.h"
#include "transport/winsock.h"

namespace transport {

namespace {

// Winsock is started by the first socket and cleaned up when the process
// ends, by this one object.
class Winsock {
 public:
  Winsock() {
    WSADATA data{};
    ready_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  Winsock(const Winsock&) = delete;
  Winsock& operator=(const Winsock&) = delete;
  ~Winsock() {
    if (ready_) ::WSACleanup();
  }
  bool ready() const { return ready_; }

 private:
  bool ready_ = false;
};

}  // namespace

bool winsockReady() {
  static const Winsock winsock;
  return winsock.ready();
}

std::error_code lastSocketError() {
  const int err = ::WSAGetLastError();
  switch (err) {
    case WSAECONNREFUSED:
      return std::make_error_code(std::errc::connection_refused);
    case WSAETIMEDOUT:
      return std::make_error_code(std::errc::timed_out);
    case WSAEHOSTUNREACH:
      return std::make_error_code(std::errc::host_unreachable);
    case WSAENETUNREACH:
      return std::make_error_code(std::errc::network_unreachable);
    case WSAECONNRESET:
      return std::make_error_code(std::errc::connection_reset);
    case WSAEADDRINUSE:
      return std::make_error_code(std::errc::address_in_use);
    case WSAEACCES:
      return std::make_error_code(std::errc::permission_denied);
    case WSAEADDRNOTAVAIL:
      return std::make_error_code(std::errc::address_not_available);
    default:
      return platform::osError(err);
  }
}

// On Winsock, shutting a socket down from another thread does not wake a
// blocked recv: the receiver waits on the socket's event (FD_READ, FD_CLOSE)
// and a stop event together, and interrupt() sets the stop event.
struct StreamSocket::Native {
  SOCKET sock = INVALID_SOCKET;
  WSAEVENT readable = WSA_INVALID_EVENT;
  WSAEVENT stop = WSA_INVALID_EVENT;
};

StreamSocket::StreamSocket() : native_(std::make_unique<Native>()) {}

StreamSocket::~StreamSocket() {
  close();
}

bool StreamSocket::valid() const {
  return native_->sock != INVALID_SOCKET;
}

std::error_code StreamSocket::connect(const char* address, std::uint16_t port, int timeoutMs) {
  if (!winsockReady()) return std::make_error_code(std::errc::network_down);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  if (address == nullptr || ::inet_pton(AF_INET, address, &target.sin_addr) != 1)
    return std::make_error_code(std::errc::invalid_argument);
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return lastSocketError();
  // A bounded connect: non-blocking, then select (WSAPoll misses failed
  // connects on some Windows versions).
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 &&
      ::WSAGetLastError() != WSAEWOULDBLOCK) {
    const std::error_code ec = lastSocketError();
    ::closesocket(s);
    return ec;
  }
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int n = ::select(0, nullptr, &writable, &failed, &tv);
  if (n <= 0 || FD_ISSET(s, &failed)) {
    int err = 0;
    int len = sizeof err;
    ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
    ::closesocket(s);
    if (n == 0) return std::make_error_code(std::errc::timed_out);
    ::WSASetLastError(err != 0 ? err : WSAECONNREFUSED);
    return lastSocketError();
  }
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  native_->readable = ::WSACreateEvent();
  native_->stop = ::WSACreateEvent();
  // WSAEventSelect leaves the socket non-blocking: sends wait for room below.
  ::WSAEventSelect(s, native_->readable, FD_READ | FD_CLOSE);
  native_->sock = s;
  return {};
}

int StreamSocket::send(const void* bytes, int count, bool) {
  if (native_->sock == INVALID_SOCKET || count < 0) return -1;
  const char* p = static_cast<const char*>(bytes);
  int done = 0;
  while (done < count) {
    const int n = ::send(native_->sock, p + done, count - done, 0);
    if (n > 0) {
      done += n;
      continue;
    }
    if (::WSAGetLastError() != WSAEWOULDBLOCK) return done > 0 ? done : -1;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(native_->sock, &writable);
    timeval tv{1, 0};
    if (::select(0, nullptr, &writable, nullptr, &tv) <= 0) return done > 0 ? done : -1;
  }
  return done;
}

int StreamSocket::receive(std::uint8_t* buffer, int size, std::error_code* ec) {
  for (;;) {
    const int n = ::recv(native_->sock, reinterpret_cast<char*>(buffer), size, 0);
    if (n >= 0) return n;
    if (::WSAGetLastError() != WSAEWOULDBLOCK) {
      if (ec) *ec = lastSocketError();
      return -1;
    }
    const WSAEVENT events[2] = {native_->stop, native_->readable};
    const DWORD r = ::WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
    if (r == WSA_WAIT_EVENT_0) {
      if (ec) *ec = std::make_error_code(std::errc::operation_canceled);
      return -1;
    }
    WSANETWORKEVENTS happened{};
    ::WSAEnumNetworkEvents(native_->sock, native_->readable, &happened);
  }
}

void StreamSocket::interrupt() {
  if (native_->stop != WSA_INVALID_EVENT) ::WSASetEvent(native_->stop);
}

void StreamSocket::close() {
  if (native_->sock != INVALID_SOCKET) ::closesocket(native_->sock);
  if (native_->readable != WSA_INVALID_EVENT) ::WSACloseEvent(native_->readable);
  if (native_->stop != WSA_INVALID_EVENT) ::WSACloseEvent(native_->stop);
  native_->sock = INVALID_SOCKET;
  native_->readable = WSA_INVALID_EVENT;
  native_->stop = WSA_INVALID_EVENT;
}

}  // namespace transport
