// SPDX-License-Identifier: Apache-2.0
#include "platform/posix/io.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

namespace platform {

namespace {

int pollRetrying(pollfd* fds, nfds_t n, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int wait = timeoutMs;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    int rc = ::poll(fds, n, wait);
    if (rc >= 0 || errno != EINTR) return rc;
  }
}

Ready waitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  int rc = pollRetrying(&p, 1, timeoutMs);
  if (rc < 0) return Ready::Error;
  if (rc == 0) return Ready::Timeout;
  // A hang-up wins over readable: a hung-up terminal may report both with nothing to read.
  if (p.revents & POLLHUP) return Ready::Hangup;
  if (p.revents & events) return Ready::Yes;
  return Ready::Error;
}

}  // namespace

Ready waitReadable(int fd, int timeoutMs) {
  return waitFor(fd, POLLIN, timeoutMs);
}
Ready waitWritable(int fd, int timeoutMs) {
  return waitFor(fd, POLLOUT, timeoutMs);
}

int waitEitherReadable(int fd0, int fd1, int timeoutMs) {
  pollfd p[2] = {{fd0, POLLIN, 0}, {fd1, POLLIN, 0}};
  int rc = pollRetrying(p, 2, timeoutMs);
  if (rc <= 0) return -1;
  // The wake-up descriptor wins: a stop must not wait behind a pending key.
  if (p[1].revents) return 1;
  if (p[0].revents) return 0;
  return -1;
}

}  // namespace platform
