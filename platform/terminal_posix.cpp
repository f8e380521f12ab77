#include "platform/terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/io.h"

static_assert(sizeof(termios) <= 64, "saved terminal settings do not fit");

bool isTerminal(int fd) {
  return ::isatty(fd) == 1;
}

RawKeyMode::RawKeyMode(int fd) : fd_(fd) {
  termios t{};
  if (!isTerminal(fd) || ::tcgetattr(fd, &t) != 0) return;
  std::memcpy(saved_, &t, sizeof t);
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  active_ = ::tcsetattr(fd, TCSANOW, &t) == 0;
}

RawKeyMode::~RawKeyMode() {
  restore();
}

void RawKeyMode::restore() {
  if (!active_) return;
  termios t{};
  std::memcpy(&t, saved_, sizeof t);
  ::tcsetattr(fd_, TCSANOW, &t);
  active_ = false;
}

WakeChannel::WakeChannel() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    readFd_ = fds[0];
    writeFd_ = fds[1];
  }
}

WakeChannel::~WakeChannel() {
  if (readFd_ >= 0) ::close(readFd_);
  if (writeFd_ >= 0) ::close(writeFd_);
}

void WakeChannel::wake() const {
  const int saved = errno;
  const char b = 1;
  // A full pipe already wakes the reader; nothing more to do.
  [[maybe_unused]] ssize_t n = ::write(writeFd_, &b, 1);
  errno = saved;
}

KeyWait waitForKey(int fd, const WakeChannel& wake) {
  for (;;) {
    int which = waitEitherReadable(fd, wake.readFd(), -1);
    if (which == 1) return KeyWait::Woken;
    if (which < 0) return KeyWait::Error;
    unsigned char c = 0;
    ssize_t n = ::read(fd, &c, 1);
    if (n == 1) return KeyWait::Key;
    if (n == 0) return KeyWait::EndOfInput;
    if (errno != EINTR && errno != EAGAIN) return KeyWait::Error;
  }
}
