// SPDX-License-Identifier: Apache-2.0
#include "transport/serial_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/posix/io.h"
#include "platform/posix/serial_line.h"
#include "platform/posix/unique_fd.h"

namespace transport {

using platform::lastOsError;
using platform::osError;

struct SerialPort::Native {
  platform::UniqueFd fd;
};

namespace {

// Exclusive use, locked twice: TIOCEXCL stops other opens but not root's;
// flock stops every cooperating program but not a plain open. Each alone has
// a hole. Held until committed, so every failed open undoes both.
class ExclusiveUse {
 public:
  explicit ExclusiveUse(int fd) : fd_(fd) {}
  ExclusiveUse(const ExclusiveUse&) = delete;
  ExclusiveUse& operator=(const ExclusiveUse&) = delete;
  ~ExclusiveUse() {
    if (committed_) return;
    if (excl_) ::ioctl(fd_, TIOCNXCL);
    if (locked_) ::flock(fd_, LOCK_UN);
  }
  std::error_code take() {
    excl_ = ::ioctl(fd_, TIOCEXCL) == 0;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
      return errno == EWOULDBLOCK ? std::make_error_code(std::errc::device_or_resource_busy) : lastOsError();
    locked_ = true;
    return {};
  }
  void commit() { committed_ = true; }

 private:
  int fd_;
  bool excl_ = false;
  bool locked_ = false;
  bool committed_ = false;
};

}  // namespace

bool isDevicePath(std::string_view name) {
  return !name.empty() && name.front() == '/';
}

std::string_view comNumberMeaning() {
  return "/dev/ttyS(n-1)";
}

std::string_view devicePathExample() {
  return "/dev/ttyUSB0";
}

std::string SerialPort::devicePathFor(int port) {
  if (port < 1) return "";
  return "/dev/ttyS" + std::to_string(port - 1);
}

SerialPort::SerialPort() : native_(std::make_unique<Native>()) {}

SerialPort::~SerialPort() {
  close();
}

bool SerialPort::fail(std::error_code ec) {
  lastError_ = ec;
  native_->fd.reset();
  return false;
}

bool SerialPort::open(const char* device, int baud) {
  if (isOpen_) return true;
  devicePath_ = device ? device : "";
  gone_ = false;
  if (!platform::serialBaudSupported(baud)) return fail(std::make_error_code(std::errc::invalid_argument));
  native_->fd.reset(::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!native_->fd.valid()) return fail(lastOsError());
  // The lock is undone (on failure) before fail() closes the descriptor.
  const std::error_code ec = [fd = native_->fd.get(), baud] {
    ExclusiveUse exclusive(fd);
    if (const auto e = exclusive.take()) return e;
    if (const auto e = platform::configureRawLine(fd, baud)) return e;
    exclusive.commit();
    return std::error_code();
  }();
  if (ec) return fail(ec);
  // What came in before the line was set to this rate means nothing at it.
  ::tcflush(native_->fd.get(), TCIFLUSH);
  isOpen_ = true;
  baud_ = baud;
  lastError_.clear();
  return true;
}

bool SerialPort::close() {
  if (!isOpen_ || !native_->fd.valid()) return true;
  ::ioctl(native_->fd.get(), TIOCNXCL);
  native_->fd.reset();  // also releases the flock
  isOpen_ = false;
  return true;
}

int SerialPort::write(const std::uint8_t* bytes, int count) {
  if (!isOpen_ || count <= 0) return 0;
  const int fd = native_->fd.get();
  int done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd, bytes + done, static_cast<std::size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The output queue is full: wait for room, within a bound.
      if (platform::waitWritable(fd, kSerialWriteWaitMs) == platform::Ready::Yes) continue;
      lastError_ = std::make_error_code(std::errc::timed_out);
      break;
    }
    if (n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV))
      markGone(lastOsError());
    else
      lastError_ = n < 0 ? lastOsError() : osError(EIO);
    break;
  }
  return done;
}

int SerialPort::available() {
  if (!isOpen_) return 0;
  int n = 0;
  if (::ioctl(native_->fd.get(), FIONREAD, &n) != 0) {
    markGone(lastOsError());
    return 0;
  }
  return n;
}

int SerialPort::read(std::uint8_t* buffer, int limit) {
  if (!isOpen_ || limit <= 0) return 0;
  // A read of a line set to return at once gives 0 both when nothing is
  // queued and when the device is gone: the queue is asked first.
  int n = available();
  if (n <= 0) return 0;
  if (limit < n) n = limit;
  for (;;) {
    const ssize_t got = ::read(native_->fd.get(), buffer, static_cast<std::size_t>(n));
    if (got > 0) return static_cast<int>(got);
    if (got < 0 && errno == EINTR) continue;
    // With O_NONBLOCK, 0 means the device is gone; EAGAIN means nothing queued.
    if (got == 0)
      markGone(osError(ENODEV));
    else if (errno != EAGAIN)
      markGone(lastOsError());
    return 0;
  }
}

bool SerialPort::waitData(int timeoutMs) {
  if (!isOpen_) return false;
  switch (platform::waitReadable(native_->fd.get(), timeoutMs)) {
    case platform::Ready::Yes:
      return true;
    case platform::Ready::Hangup:
      // Bytes queued before the hang-up are still delivered.
      if (available() > 0) return true;
      markGone(osError(ENODEV));
      return false;
    case platform::Ready::Error:
      markGone(osError(ENODEV));
      return false;
    case platform::Ready::Timeout:
      return false;
  }
  return false;
}

}  // namespace transport
