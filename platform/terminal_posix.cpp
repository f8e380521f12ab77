// SPDX-License-Identifier: Apache-2.0
#include "platform/terminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>

#include "platform/posix/io.h"
#include "platform/posix/wake_channel.h"

namespace platform {

namespace {

// Single-key mode's two settings, for the signal handlers: written before
// `gKeyModeOn` is raised and left alone while it is.
termios gSaved{};
termios gKeyMode{};
volatile std::sig_atomic_t gKeyModeOn = 0;
volatile std::sig_atomic_t gCursorHidden = 0;

constexpr char kShowCursor[] = "\x1b[?25h";
constexpr char kHideCursor[] = "\x1b[?25l";

void writeStdoutRaw(const char* text, std::size_t length) {
  [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, text, length);
}

int fdOf(StdStream stream) {
  switch (stream) {
    case StdStream::In:
      return STDIN_FILENO;
    case StdStream::Out:
      return STDOUT_FILENO;
    case StdStream::Err:
      return STDERR_FILENO;
  }
  return -1;
}
}  // namespace

bool isTerminal(StdStream stream) {
  return ::isatty(fdOf(stream)) == 1;
}

bool terminalSize(StdStream stream, int* cols, int* rows) {
  winsize ws{};
  if (::ioctl(fdOf(stream), TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return false;
  *cols = ws.ws_col;
  *rows = ws.ws_row;
  return true;
}

void hideCursor(bool hidden) {
  if (!isTerminal(StdStream::Out)) return;
  gCursorHidden = hidden ? 1 : 0;
  if (hidden)
    writeStdoutRaw(kHideCursor, sizeof kHideCursor - 1);
  else
    writeStdoutRaw(kShowCursor, sizeof kShowCursor - 1);
}

bool inForeground() {
  // Not a terminal (or no controlling one): nothing to stop us.
  const pid_t group = ::tcgetpgrp(STDIN_FILENO);
  return group < 0 || group == ::getpgrp();
}

bool isHelpAlias(std::string_view) {
  return false;
}

RawKeyMode::RawKeyMode(bool engageNow) {
  if (engageNow) engage();
}

void RawKeyMode::engage() {
  if (gKeyModeOn || !isTerminal(StdStream::In) || !inForeground() || ::tcgetattr(STDIN_FILENO, &gSaved) != 0)
    return;
  gKeyMode = gSaved;
  gKeyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  gKeyMode.c_cc[VMIN] = 1;
  gKeyMode.c_cc[VTIME] = 0;
  gKeyModeOn = 1;  // before the change: a signal from now on restores
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &gKeyMode) != 0) gKeyModeOn = 0;
}

RawKeyMode::~RawKeyMode() {
  restore();
}

void RawKeyMode::restore() {
  if (!gKeyModeOn) return;
  gKeyModeOn = 0;
  if (inForeground()) ::tcsetattr(STDIN_FILENO, TCSANOW, &gSaved);
}

void restoreTerminal() {
  restoreModes();
  if (gCursorHidden) writeStdoutRaw(kShowCursor, sizeof kShowCursor - 1);
}

void restoreModes() {
  if (gKeyModeOn) ::tcsetattr(STDIN_FILENO, TCSANOW, &gSaved);
}

void useUtf8Output(bool) {}

void reapplyKeyMode() {
  // In the background a change of terminal settings would stop us again.
  if (::tcgetpgrp(STDIN_FILENO) != ::getpgrp()) return;
  if (gKeyModeOn) ::tcsetattr(STDIN_FILENO, TCSANOW, &gKeyMode);
  if (gCursorHidden) writeStdoutRaw(kHideCursor, sizeof kHideCursor - 1);
}

void ensureStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free number, which is this one.
    const int got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (got != fd && got >= 0) ::close(got);
  }
}

WakeChannel::WakeChannel() : native_(std::make_unique<Native>()) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    native_->readFd = fds[0];
    native_->writeFd = fds[1];
  }
}

WakeChannel::~WakeChannel() {
  if (native_->readFd >= 0) ::close(native_->readFd);
  if (native_->writeFd >= 0) ::close(native_->writeFd);
}

bool WakeChannel::valid() const {
  return native_->readFd >= 0;
}

void WakeChannel::wake() const {
  const int saved = errno;
  const char b = 1;
  // A full pipe already wakes the reader; nothing more to do.
  [[maybe_unused]] ssize_t n = ::write(native_->writeFd, &b, 1);
  errno = saved;
}

void WakeChannel::clear() const {
  char buf[64];
  while (::read(native_->readFd, buf, sizeof buf) > 0) {
  }
}

bool WakeChannel::waitFor(int timeoutMs) const {
  return waitReadable(native_->readFd, timeoutMs) == Ready::Yes;
}

KeyWait waitForKey(const WakeChannel& wake, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int left = -1;
    if (timeoutMs >= 0) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
              .count();
      if (ms <= 0) return KeyWait::Timeout;
      left = static_cast<int>(ms);
    }
    const int which = waitEitherReadable(STDIN_FILENO, wake.native().readFd, left);
    if (which == 1) return KeyWait::Woken;
    if (which < 0) {
      // A bounded wait can end a little before its deadline as the clock
      // sees it: the loop's check says Timeout when the time is up.
      if (timeoutMs >= 0) continue;
      return KeyWait::Error;
    }
    unsigned char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n == 1) return KeyWait::Key;
    if (n == 0) return KeyWait::EndOfInput;
    if (errno != EINTR && errno != EAGAIN) return KeyWait::Error;
  }
}

}  // namespace platform
