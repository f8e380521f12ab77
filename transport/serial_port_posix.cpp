#include "transport/serial_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/io.h"

namespace {

struct BaudEntry {
  int baud;
  speed_t speed;
};
constexpr BaudEntry kBauds[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},    {9600, B9600},
                                {19200, B19200},   {38400, B38400},   {57600, B57600},  {115200, B115200},
                                {230400, B230400}, {460800, B460800}, {500000, B500000}};

bool speedFor(int baud, speed_t* speed) {
  for (const auto& e : kBauds) {
    if (e.baud == baud) {
      *speed = e.speed;
      return true;
    }
  }
  return false;
}

constexpr tcflag_t kInputOff =
    IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY;
constexpr tcflag_t kLocalOff = ECHO | ECHONL | ICANON | ISIG | IEXTEN;

// Only the bits raw transfer needs change; parity, stop bits, hardware flow
// control and HUPCL keep the device's settings.
void makeRaw(termios& t) {
  t.c_iflag &= ~kInputOff;
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~kLocalOff;
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

// tcsetattr succeeds when any one change applied: compare what we asked for.
bool applied(const termios& want, const termios& got) {
  return (got.c_iflag & kInputOff) == 0 && (got.c_oflag & OPOST) == 0 && (got.c_lflag & kLocalOff) == 0 &&
         (got.c_cflag & CSIZE) == CS8 && (got.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD) &&
         got.c_cc[VMIN] == 0 && got.c_cc[VTIME] == 0 && cfgetospeed(&got) == cfgetospeed(&want) &&
         (got.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS)) ==
             (want.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS));
}

}  // namespace

std::string SerialPort::devicePathFor(int port) {
  if (port < 1) return "";
  return "/dev/ttyS" + std::to_string(port - 1);
}

bool SerialPort::fail(int err) {
  lastError_ = err;
  handle.reset();
  return false;
}

void SerialPort::markGone(int err) {
  gone_ = true;
  lastError_ = err;
}

bool SerialPort::open(int port, int baud) {
  if (isOpen_) return true;
  if (port < 1) {
    szPort.clear();
    lastError_ = ENOENT;
    return false;
  }
  return open(devicePathFor(port).c_str(), baud);
}

bool SerialPort::open(const char* device, int baud) {
  if (isOpen_) return true;
  szPort = device ? device : "";
  gone_ = false;
  speed_t speed{};
  if (!speedFor(baud, &speed)) return fail(EINVAL);
  handle.reset(::open(szPort.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!handle.valid()) return fail(errno);
  // Exclusive use, locked twice: TIOCEXCL stops other opens but not root's;
  // flock stops every cooperating program but not a plain open. Each alone has a hole.
  const bool excl = ::ioctl(handle.get(), TIOCEXCL) == 0;
  if (::flock(handle.get(), LOCK_EX | LOCK_NB) != 0) {
    const int err = errno == EWOULDBLOCK ? EBUSY : errno;
    if (excl) ::ioctl(handle.get(), TIOCNXCL);
    return fail(err);
  }
  termios t{};
  if (::tcgetattr(handle.get(), &t) != 0) return fail(errno);
  makeRaw(t);
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return fail(EINVAL);
  if (::tcsetattr(handle.get(), TCSANOW, &t) != 0) return fail(errno);
  termios back{};
  if (::tcgetattr(handle.get(), &back) != 0) return fail(errno);
  if (!applied(t, back)) return fail(EINVAL);
  isOpen_ = true;
  lastError_ = 0;
  return true;
}

bool SerialPort::close() {
  if (!isOpen_ || !handle.valid()) return true;
  ::ioctl(handle.get(), TIOCNXCL);
  handle.reset();  // also releases the flock
  isOpen_ = false;
  return true;
}

bool SerialPort::writeByte(std::uint8_t byte) {
  return write(&byte, 1) == 1;
}

int SerialPort::write(const std::uint8_t* bytes, int count) {
  if (!isOpen_ || count <= 0) return 0;
  int done = 0;
  while (done < count) {
    ssize_t n = ::write(handle.get(), bytes + done, static_cast<std::size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The output queue is full: wait for room, within a bound.
      if (waitWritable(handle.get(), kSerialWriteWaitMs) == Ready::Yes) continue;
      lastError_ = ETIMEDOUT;
      break;
    }
    if (n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV))
      markGone(errno);
    else
      lastError_ = n < 0 ? errno : EIO;
    break;
  }
  return done;
}

int SerialPort::available() {
  if (!isOpen_) return 0;
  int n = 0;
  if (::ioctl(handle.get(), FIONREAD, &n) != 0) {
    markGone(errno);
    return 0;
  }
  return n;
}

int SerialPort::read(std::uint8_t* buffer, int limit) {
  if (!isOpen_ || limit <= 0) return 0;
  int n = available();
  if (n <= 0) return 0;
  if (limit < n) n = limit;
  for (;;) {
    ssize_t got = ::read(handle.get(), buffer, static_cast<std::size_t>(n));
    if (got > 0) return static_cast<int>(got);
    if (got < 0 && errno == EINTR) continue;
    // With O_NONBLOCK, 0 means the device is gone; EAGAIN means nothing queued.
    if (got == 0)
      markGone(ENODEV);
    else if (errno != EAGAIN)
      markGone(errno);
    return 0;
  }
}

bool SerialPort::waitData(int timeoutMs) {
  if (!isOpen_) return false;
  switch (waitReadable(handle.get(), timeoutMs)) {
    case Ready::Yes:
      return available() > 0;
    case Ready::Hangup:
      // Bytes queued before the hang-up are still delivered.
      if (available() > 0) return true;
      markGone(ENODEV);
      return false;
    case Ready::Error:
      markGone(ENODEV);
      return false;
    case Ready::Timeout:
      return false;
  }
  return false;
}
