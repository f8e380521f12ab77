// SPDX-License-Identifier: Apache-2.0
// A serial port whose line setup fails after the device was locked must
// leave the device as it found it. The failure is made by wrapping the C
// library's tcsetattr at link time (-Wl,--wrap=tcsetattr): this executable
// only.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/unique_fd.h"
#include "pty_pair.h"
#include "transport/serial_port.h"

namespace {
std::atomic<bool> gFailLineSetup{false};
}

// The linker's wrapping scheme fixes these names.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" int __real_tcsetattr(int fd, int actions, const termios* t);
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" int __wrap_tcsetattr(int fd, int actions, const termios* t) {
  if (gFailLineSetup.load()) {
    errno = EIO;
    return -1;
  }
  return __real_tcsetattr(fd, actions, t);
}

namespace {

TEST(SerialPortOpen, AFailedLineSetupUndoesTheExclusiveUse) {
  PtyPair pty;
  // Another holder keeps the device alive, so its flags outlive our open.
  platform::UniqueFd other(::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(other.valid());

  gFailLineSetup = true;
  transport::SerialPort port;
  EXPECT_FALSE(port.open(pty.slavePath().c_str(), 9600));
  gFailLineSetup = false;
  EXPECT_EQ(port.lastError(), std::errc::io_error);
  EXPECT_FALSE(port.isOpen());

  int exclusive = -1;
  ASSERT_EQ(::ioctl(other.get(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0) << "the device was left in exclusive mode";
  EXPECT_EQ(::flock(other.get(), LOCK_EX | LOCK_NB), 0) << "the device was left locked";
  ::flock(other.get(), LOCK_UN);

  // And it opens normally once the setup works.
  EXPECT_TRUE(port.open(pty.slavePath().c_str(), 9600));
}

}  // namespace
