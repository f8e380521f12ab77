// SPDX-License-Identifier: Apache-2.0
// The Win32 serial port through a COM port whose other end is a peer that
// echoes (tests/wine/com_peer.py maps it to a pseudo-terminal under Wine).
// LMSVIEW_TEST_COM names the port; without it the tests are skipped.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "transport/serial_port.h"

using namespace transport;
using namespace platform;

namespace {

std::string testPort() {
  const char* name = std::getenv("LMSVIEW_TEST_COM");
  return name ? name : "";
}

bool underWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::vector<std::uint8_t> readPort(SerialPort& port, std::size_t want, int timeoutMs = 3000) {
  std::vector<std::uint8_t> got;
  const std::int64_t until = processMillis() + timeoutMs;
  while (got.size() < want && processMillis() < until) {
    if (!port.waitData(100)) continue;
    std::uint8_t buf[512];
    const int n = port.read(buf, sizeof buf);
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

// The rate the peer sees on its side of the line.
std::string peerRate(SerialPort& port) {
  const std::string ask =
      "\x01"
      "BAUD?";
  port.write(reinterpret_cast<const std::uint8_t*>(ask.data()), static_cast<int>(ask.size()));
  std::string text;
  const std::int64_t until = processMillis() + 3000;
  while (text.find('\n') == std::string::npos && processMillis() < until) {
    const auto got = readPort(port, 1, 200);
    text.append(got.begin(), got.end());
  }
  return text.substr(0, text.find('\n'));
}

class Win32Serial : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = testPort();
    if (name_.empty()) GTEST_SKIP() << "LMSVIEW_TEST_COM names no port with a peer";
  }
  std::string name_;
};

TEST_F(Win32Serial, EveryByteValueMakesTheRoundTripAndWritesCountWhatWentOut) {
  SerialPort port;
  ASSERT_TRUE(port.open(name_.c_str(), 9600)) << port.lastError().message();
  std::vector<std::uint8_t> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  bytes[0] = 0x02;  // not the peer's command byte
  bytes[1] = 0x11;  // XON and XOFF are data, not flow control
  bytes[2] = 0x13;
  EXPECT_EQ(port.write(bytes.data(), 256), 256);
  EXPECT_EQ(readPort(port, 256), bytes);
  EXPECT_TRUE(port.writeByte(0x55));
  EXPECT_EQ(readPort(port, 1), std::vector<std::uint8_t>{0x55});
}

TEST_F(Win32Serial, TheLineRunsAtTheRateAskedFor) {
  SerialPort port;
  ASSERT_TRUE(port.open(name_.c_str(), 9600));
  EXPECT_EQ(port.baud(), 9600);
  EXPECT_EQ(peerRate(port), "9600");
  ASSERT_TRUE(port.close());
  ASSERT_TRUE(port.open(name_.c_str(), 38400));
  EXPECT_EQ(peerRate(port), "38400");
  ASSERT_TRUE(port.close());
  EXPECT_FALSE(port.open(name_.c_str(), 12345));  // not a rate the line knows
  EXPECT_EQ(port.lastError(), std::errc::invalid_argument);
}

TEST_F(Win32Serial, ReadsNeverWaitAndWaitDataKeepsItsBound) {
  SerialPort port;
  ASSERT_TRUE(port.open(name_.c_str(), 9600));
  std::uint8_t buf[16];
  std::int64_t t0 = processMillis();
  EXPECT_EQ(port.read(buf, sizeof buf), 0);
  EXPECT_EQ(port.available(), 0);
  EXPECT_LT(processMillis() - t0, 200);
  t0 = processMillis();
  EXPECT_FALSE(port.waitData(300));
  const std::int64_t took = processMillis() - t0;
  EXPECT_GE(took, 250);
  EXPECT_LT(took, 2000);
  // The byte waitData reads ahead is handed out first, then the rest.
  const std::uint8_t hello[] = {'h', 'e', 'l', 'l', 'o'};
  ASSERT_EQ(port.write(hello, 5), 5);
  ASSERT_TRUE(port.waitData(3000));
  const auto got = readPort(port, 5);
  EXPECT_EQ(std::string(got.begin(), got.end()), "hello");
  EXPECT_FALSE(port.gone());
}

TEST_F(Win32Serial, APortThatGoesAwayIsReportedNotSpunOn) {
  SerialPort port;
  ASSERT_TRUE(port.open(name_.c_str(), 9600));
  const std::string hangUp =
      "\x01"
      "HANGUP";
  port.write(reinterpret_cast<const std::uint8_t*>(hangUp.data()), static_cast<int>(hangUp.size()));
  const std::int64_t t0 = processMillis();
  std::uint8_t b;
  int waits = 0;
  while (!port.gone() && processMillis() - t0 < 5000) {
    port.waitData(200);
    port.read(&b, 1);
    ++waits;
  }
  EXPECT_TRUE(port.gone());
  EXPECT_LT(processMillis() - t0, 3000);
  EXPECT_LT(waits, 20);  // each wait slept or failed; none spun
}

TEST_F(Win32Serial, ASecondOpenOfAHeldPortSaysInUse) {
  if (underWine())
    GTEST_SKIP() << "Wine opens a COM port for anyone who asks; Windows refuses a second holder";
  SerialPort first;
  ASSERT_TRUE(first.open(name_.c_str(), 9600));
  SerialPort second;
  EXPECT_FALSE(second.open(name_.c_str(), 9600));
  EXPECT_EQ(second.lastError(), std::errc::device_or_resource_busy);
}

TEST(Win32SerialNames, ComNumbersAndDevicePaths) {
  EXPECT_EQ(SerialPort::devicePathFor(3), "\\\\.\\COM3");
  EXPECT_EQ(SerialPort::devicePathFor(0), "");
  EXPECT_TRUE(isDevicePath("\\\\.\\COM12"));
  EXPECT_FALSE(isDevicePath("COM12"));
  EXPECT_FALSE(isDevicePath("12"));
  SerialPort port;
  EXPECT_FALSE(port.open("\\\\.\\COM250", 9600));
  EXPECT_EQ(port.lastError(), std::errc::no_such_file_or_directory);
  EXPECT_EQ(port.deviceName(), "\\\\.\\COM250");
  EXPECT_FALSE(port.open(0, 9600));
  EXPECT_FALSE(port.isOpen());
}

}  // namespace
