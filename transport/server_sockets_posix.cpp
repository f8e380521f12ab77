// SPDX-License-Identifier: Apache-2.0
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "transport/server_sockets.h"

namespace transport {

struct ServerSockets::Native {
  int listenFd = -1;
  int wakeRead = -1;
  int wakeWrite = -1;
  std::map<int, int> fds;  // id -> descriptor
  int nextId = 0;
};

ServerSockets::ServerSockets() : native_(std::make_unique<Native>()) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    native_->wakeRead = pipe[0];
    native_->wakeWrite = pipe[1];
  }
}

ServerSockets::~ServerSockets() {
  for (const auto& [id, fd] : native_->fds) ::close(fd);
  for (const int fd : {native_->listenFd, native_->wakeRead, native_->wakeWrite})
    if (fd >= 0) ::close(fd);
}

std::error_code ServerSockets::listen(const std::string& address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
    return std::make_error_code(std::errc::invalid_argument);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return {errno, std::generic_category()};
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 32) != 0) {
    const std::error_code ec(errno, std::generic_category());
    ::close(fd);
    return ec;
  }
  native_->listenFd = fd;
  return {};
}

std::uint16_t ServerSockets::port() const {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(native_->listenFd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

int ServerSockets::accept() {
  const int fd = ::accept4(native_->listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return -1;
  const int id = native_->nextId++;
  native_->fds[id] = fd;
  return id;
}

int ServerSockets::receive(int id, std::uint8_t* buffer, int size) {
  const auto it = native_->fds.find(id);
  if (it == native_->fds.end()) return -1;
  const ssize_t n = ::recv(it->second, buffer, static_cast<std::size_t>(size), 0);
  if (n > 0) return static_cast<int>(n);
  if (n == 0) return kPeerClosed;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  return -1;
}

int ServerSockets::send(int id, const std::uint8_t* bytes, int size) {
  const auto it = native_->fds.find(id);
  if (it == native_->fds.end()) return -1;
  const ssize_t n = ::send(it->second, bytes, static_cast<std::size_t>(size), MSG_NOSIGNAL);
  if (n >= 0) return static_cast<int>(n);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

void ServerSockets::close(int id) {
  const auto it = native_->fds.find(id);
  if (it == native_->fds.end()) return;
  ::close(it->second);
  native_->fds.erase(it);
}

void ServerSockets::wait(const std::vector<int>& ids, const std::vector<int>& wantWrite, int timeoutMs,
                         Ready* ready) {
  std::vector<pollfd> set;
  std::vector<int> owner;  // the id of each entry after the first two
  set.push_back({native_->wakeRead, POLLIN, 0});
  set.push_back({native_->listenFd, POLLIN, 0});
  for (const int id : ids) {
    const auto it = native_->fds.find(id);
    if (it == native_->fds.end()) continue;
    short events = POLLIN;
    for (const int w : wantWrite)
      if (w == id) events |= POLLOUT;
    set.push_back({it->second, events, 0});
    owner.push_back(id);
  }
  *ready = {};
  if (::poll(set.data(), set.size(), timeoutMs) <= 0) return;
  if (set[0].revents != 0) {
    char drain[64];
    while (::read(native_->wakeRead, drain, sizeof drain) > 0) {
    }
  }
  ready->accept = (set[1].revents & POLLIN) != 0;
  for (std::size_t i = 2; i < set.size(); ++i) {
    if ((set[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) ready->readable.push_back(owner[i - 2]);
    if ((set[i].revents & POLLOUT) != 0) ready->writable.push_back(owner[i - 2]);
  }
}

void ServerSockets::wake() {
  const char one = 1;
  [[maybe_unused]] const ssize_t n = ::write(native_->wakeWrite, &one, 1);  // a full pipe already wakes
}

}  // namespace transport
