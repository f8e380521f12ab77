// SPDX-License-Identifier: Apache-2.0
#include "transport/serial_port.h"

#include <gtest/gtest.h>
#include <termios.h>

#include "fd_count.h"
#include "platform/clock.h"
#include "pty_pair.h"

using namespace transport;
using namespace platform;

namespace {

std::vector<std::uint8_t> allByteValues() {
  std::vector<std::uint8_t> v(256);
  for (int i = 0; i < 256; ++i) v[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  return v;
}

// Reads from the port until `want` bytes are in, waiting at most `timeoutMs` in all.
std::vector<std::uint8_t> readPort(SerialPort& port, std::size_t want, int timeoutMs = 2000) {
  std::vector<std::uint8_t> got;
  const std::int64_t until = processMillis() + timeoutMs;
  while (got.size() < want && processMillis() < until) {
    if (!port.waitData(50)) continue;
    std::uint8_t buf[64];
    int n = port.read(buf, sizeof buf);
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

TEST(SerialPort, EveryByteValuePassesUnchangedBothWays) {
  PtyPair pty;
  SerialPort port;
  ASSERT_TRUE(port.open(pty.slavePath().c_str(), 9600));
  const auto bytes = allByteValues();
  EXPECT_EQ(port.write(bytes.data(), 256), 256);
  EXPECT_EQ(pty.read(256), bytes);
  ASSERT_TRUE(pty.write(bytes));
  EXPECT_EQ(readPort(port, 256), bytes);
  // XON and XOFF are data here, not flow control.
  ASSERT_TRUE(pty.write({0x11, 0x13, 0x11}));
  EXPECT_EQ(readPort(port, 3), (std::vector<std::uint8_t>{0x11, 0x13, 0x11}));
  EXPECT_TRUE(port.writeByte(0x13));
  EXPECT_EQ(pty.read(1), std::vector<std::uint8_t>{0x13});
}

TEST(SerialPort, ReadTakesAtMostTheLimitAndLeavesTheRestQueued) {
  PtyPair pty;
  SerialPort port;
  ASSERT_TRUE(port.open(pty.slavePath().c_str(), 9600));
  std::uint8_t buf[16] = {};
  EXPECT_EQ(port.read(buf, 16), 0);  // nothing queued: at once
  ASSERT_TRUE(pty.write({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  const std::int64_t until = processMillis() + 2000;
  while (port.available() < 10 && processMillis() < until) port.waitData(50);
  ASSERT_EQ(port.available(), 10);
  EXPECT_EQ(port.read(buf, 0), 0);
  EXPECT_EQ(port.read(buf, 4), 4);
  EXPECT_EQ(buf[3], 4);
  EXPECT_EQ(port.available(), 6);
  EXPECT_EQ(port.read(buf, 16), 6);
  EXPECT_EQ(buf[0], 5);
  EXPECT_EQ(buf[5], 10);
}

TEST(SerialPort, ClosedPortDoesNothing) {
  SerialPort port;
  std::uint8_t b = 0;
  EXPECT_TRUE(port.close());
  EXPECT_EQ(port.write(&b, 1), 0);
  EXPECT_FALSE(port.writeByte(0x02));  // a byte that was not written is reported
  EXPECT_EQ(port.available(), 0);
  EXPECT_EQ(port.read(&b, 1), 0);
  EXPECT_FALSE(port.waitData(10));
}

TEST(SerialPort, OpenOfAMissingDeviceFailsAndLeavesNothingOpen) {
  const int before = openFdCount();
  SerialPort port;
  EXPECT_FALSE(port.open("/dev/lmsview-no-such-device", 9600));
  EXPECT_EQ(port.lastError(), std::errc::no_such_file_or_directory);
  EXPECT_FALSE(port.isOpen());
  EXPECT_FALSE(port.open(0, 9600));
  EXPECT_EQ(openFdCount(), before);
  EXPECT_EQ(SerialPort::devicePathFor(1), "/dev/ttyS0");
  EXPECT_EQ(SerialPort::devicePathFor(10), "/dev/ttyS9");
}

TEST(SerialPort, UnsupportedBaudRateFailsCleanly) {
  PtyPair pty;
  const int before = openFdCount();
  SerialPort port;
  EXPECT_FALSE(port.open(pty.slavePath().c_str(), 12345));
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(openFdCount(), before);
}

TEST(SerialPort, SecondOpenKeepsTheFirstSettingsAndLineSettingsSurvive) {
  PtyPair pty;
  termios t = pty.settings();
  t.c_cflag |= PARENB | PARODD | CSTOPB | CRTSCTS;
  ASSERT_EQ(::tcsetattr(pty.master(), TCSANOW, &t), 0);
  SerialPort port;
  ASSERT_TRUE(port.open(pty.slavePath().c_str(), 9600));
  EXPECT_TRUE(port.open(pty.slavePath().c_str(), 38400));
  const termios after = pty.settings();
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));
  EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  // A pseudo-terminal drops PARENB itself; odd parity, two stop bits and
  // hardware flow control it keeps, and so must the port.
  EXPECT_EQ(after.c_cflag & (PARODD | CSTOPB | CRTSCTS), PARODD | CSTOPB | CRTSCTS);
  EXPECT_EQ(after.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

TEST(SerialPort, SecondProgramCannotOpenTheSameDevice) {
  PtyPair pty;
  SerialPort first;
  ASSERT_TRUE(first.open(pty.slavePath().c_str(), 9600));
  SerialPort second;
  EXPECT_FALSE(second.open(pty.slavePath().c_str(), 9600));
  EXPECT_EQ(second.lastError(), std::errc::device_or_resource_busy);
  first.close();
  EXPECT_TRUE(second.open(pty.slavePath().c_str(), 9600));
}

TEST(SerialPort, ClosedPortCanBeOpenedAgain) {
  PtyPair pty;
  const int before = openFdCount();
  SerialPort port;
  ASSERT_TRUE(port.open(pty.slavePath().c_str(), 9600));
  EXPECT_TRUE(port.close());
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(openFdCount(), before);
  ASSERT_TRUE(port.open(pty.slavePath().c_str(), 19200));
  EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(pty.settings())), static_cast<speed_t>(B19200));
}

TEST(SerialPort, DeviceThatGoesAwayIsReportedNotSpunOn) {
  PtyPair pty;
  SerialPort port;
  ASSERT_TRUE(port.open(pty.slavePath().c_str(), 9600));
  pty.closeMaster();
  const std::int64_t t0 = processMillis();
  EXPECT_FALSE(port.waitData(2000));
  EXPECT_LT(processMillis() - t0, 1000);  // a hang-up ends the wait at once
  EXPECT_TRUE(port.gone());
  std::uint8_t b;
  EXPECT_EQ(port.read(&b, 1), 0);
}

TEST(SerialPort, WriteToALineThatTakesNothingEndsWithinItsBound) {
  PtyPair pty;  // nobody reads the other end, so the line's queue fills up
  SerialPort port;
  ASSERT_TRUE(port.open(pty.slavePath().c_str(), 9600));
  const std::vector<std::uint8_t> big(1 << 20, 0x55);
  const std::int64_t t0 = processMillis();
  const int written = port.write(big.data(), static_cast<int>(big.size()));
  const std::int64_t took = processMillis() - t0;
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int>(big.size()));  // the count is what went out, not what was asked
  EXPECT_EQ(port.lastError(), std::errc::timed_out);
  EXPECT_GE(took, kSerialWriteWaitMs - 50);
  EXPECT_LT(took, kSerialWriteWaitMs + 1500);
  EXPECT_FALSE(port.gone());
}

TEST(SerialPort, DevicePathsAreToldFromComNumbers) {
  EXPECT_TRUE(isDevicePath("/dev/ttyUSB0"));
  EXPECT_FALSE(isDevicePath("3"));
  EXPECT_FALSE(isDevicePath(""));
  EXPECT_FALSE(isDevicePath("COM3"));
  EXPECT_EQ(SerialPort::devicePathFor(1), "/dev/ttyS0");
  EXPECT_EQ(SerialPort::devicePathFor(10), "/dev/ttyS9");
  EXPECT_EQ(SerialPort::devicePathFor(0), "");
}

}  // namespace
