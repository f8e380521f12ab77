// SPDX-License-Identifier: Apache-2.0
#include "platform/posix/serial_line.h"

#include <termios.h>

#include "platform/error.h"
#include "platform/serial_rates.h"

namespace platform {

namespace {

struct BaudEntry {
  int baud;
  speed_t speed;
};
constexpr BaudEntry kBauds[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},    {9600, B9600},
                                {19200, B19200},   {38400, B38400},   {57600, B57600},  {115200, B115200},
                                {230400, B230400}, {460800, B460800}, {500000, B500000}};

static_assert(std::size(kBauds) == std::size(kLineRates), "one termios speed for each line rate");

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

void makeRaw(termios& t) {
  t.c_iflag &= ~kInputOff;
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~kLocalOff;
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

bool applied(const termios& want, const termios& got) {
  return (got.c_iflag & kInputOff) == 0 && (got.c_oflag & OPOST) == 0 && (got.c_lflag & kLocalOff) == 0 &&
         (got.c_cflag & CSIZE) == CS8 && (got.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD) &&
         got.c_cc[VMIN] == 0 && got.c_cc[VTIME] == 0 && cfgetospeed(&got) == cfgetospeed(&want) &&
         cfgetispeed(&got) == cfgetispeed(&want) &&
         (got.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS)) ==
             (want.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS));
}

}  // namespace

bool serialBaudSupported(int baud) {
  speed_t unused{};
  return speedFor(baud, &unused);
}

std::error_code configureRawLine(int fd, int baud) {
  speed_t speed{};
  if (!speedFor(baud, &speed)) return std::make_error_code(std::errc::invalid_argument);
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return lastOsError();
  makeRaw(t);
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0)
    return std::make_error_code(std::errc::invalid_argument);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return lastOsError();
  termios back{};
  if (::tcgetattr(fd, &back) != 0) return lastOsError();
  if (!applied(t, back)) return std::make_error_code(std::errc::invalid_argument);
  return {};
}

bool lineRunsAt(int fd, int baud) {
  speed_t speed{};
  termios t{};
  if (!speedFor(baud, &speed) || ::tcgetattr(fd, &t) != 0) return false;
  return cfgetospeed(&t) == speed && cfgetispeed(&t) == speed;
}

}  // namespace platform
