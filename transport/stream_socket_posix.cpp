// SPDX-License-Identifier: Apache-2.0
#include "transport/stream_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/posix/io.h"
#include "platform/posix/unique_fd.h"

namespace transport {

using platform::lastOsError;

struct StreamSocket::Native {
  platform::UniqueFd fd;
};

StreamSocket::StreamSocket() : native_(std::make_unique<Native>()) {}
StreamSocket::~StreamSocket() = default;

bool StreamSocket::valid() const {
  return native_->fd.valid();
}

std::error_code StreamSocket::connect(const char* address, std::uint16_t port, int timeoutMs) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  if (address == nullptr || ::inet_pton(AF_INET, address, &target.sin_addr) != 1)
    return std::make_error_code(std::errc::invalid_argument);
  platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
  if (!fd.valid()) return lastOsError();
  // Non-blocking connect with a bound, then back to blocking for the receiver.
  const int rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target);
  if (rc != 0 && errno != EINPROGRESS && errno != EINTR) return lastOsError();
  if (rc != 0) {
    const platform::Ready r = platform::waitWritable(fd.get(), timeoutMs);
    if (r == platform::Ready::Timeout) return std::make_error_code(std::errc::timed_out);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err == 0 && r != platform::Ready::Yes) err = ECONNREFUSED;
    if (err != 0) return platform::osError(err);
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  // Telegrams are a few bytes in three sends: no Nagle delay for them.
  const int one = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  native_->fd = std::move(fd);
  return {};
}

int StreamSocket::send(const void* bytes, int count, bool more) {
  if (!native_->fd.valid() || count < 0) return -1;
  const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
  for (;;) {
    const ssize_t n = ::send(native_->fd.get(), bytes, static_cast<std::size_t>(count), flags);
    if (n >= 0 || errno != EINTR) return static_cast<int>(n);
  }
}

int StreamSocket::receive(std::uint8_t* buffer, int size, std::error_code* ec) {
  for (;;) {
    const ssize_t n = ::recv(native_->fd.get(), buffer, static_cast<std::size_t>(size), 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (ec) *ec = lastOsError();
    return -1;
  }
}

void StreamSocket::interrupt() {
  // A receiver blocked in recv does not see flags; shutting the socket down
  // makes the receive return.
  if (native_->fd.valid()) ::shutdown(native_->fd.get(), SHUT_RDWR);
}

void StreamSocket::close() {
  native_->fd.reset();
}

}  // namespace transport
