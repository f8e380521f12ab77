// SPDX-License-Identifier: Apache-2.0
#include "app/hints.h"
#include "app/port_listing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

using namespace app;
using transport::SerialDeviceInfo;

namespace {

TEST(Hints, SayWhatToDoForEachCommonCause) {
  const std::vector<SerialDeviceInfo> none;
  EXPECT_EQ(
      serialOpenHint("/dev/ttyUSB0", std::make_error_code(std::errc::permission_denied), "dialout", {}, none),
      "/dev/ttyUSB0 belongs to group dialout: add yourself with `sudo usermod -aG dialout $USER`, then log "
      "out "
      "and in again");
  EXPECT_EQ(serialOpenHint("/dev/ttyUSB0", std::make_error_code(std::errc::device_or_resource_busy), "",
                           {{123, "minicom"}, {456, "lmsview"}}, none),
            "/dev/ttyUSB0 is open in minicom (pid 123), lmsview (pid 456): close it, or end it");
  EXPECT_EQ(
      serialOpenHint("/dev/ttyUSB0", std::make_error_code(std::errc::device_or_resource_busy), "", {}, none),
      "/dev/ttyUSB0 is held by another program: close it, or end it");
  EXPECT_EQ(serialOpenHint("/dev/ttyUSB9", std::make_error_code(std::errc::no_such_file_or_directory), "", {},
                           none),
            "there is no serial device here: is the adapter plugged in?");
  EXPECT_EQ(
      serialOpenHint("/dev/ttyUSB9", std::make_error_code(std::errc::no_such_file_or_directory), "", {},
                     {{"/dev/ttyS0", "on-board UART", "", true}, {"/dev/ttyUSB0", "USB adapter", "", true}}),
      "serial devices here: /dev/ttyS0, /dev/ttyUSB0 (lmsview --list-ports says more)");
  EXPECT_EQ(serialOpenHint("/dev/x", std::make_error_code(std::errc::invalid_argument), "", {}, none), "");
  EXPECT_NE(networkOpenHint(std::make_error_code(std::errc::connection_refused))
                .find("nothing listens on port 10002"),
            std::string::npos);
  for (const auto e : {std::errc::timed_out, std::errc::host_unreachable, std::errc::network_unreachable})
    EXPECT_NE(networkOpenHint(std::make_error_code(e)).find("check the address, the cable"),
              std::string::npos);
  EXPECT_EQ(networkOpenHint(std::make_error_code(std::errc::invalid_argument)), "");
}

// A machine described in a folder: /dev, /sys/class/tty and /dev/serial/by-id.
struct FakeMachine {
  FakeMachine() {
    root = std::filesystem::temp_directory_path() / ("lms-ports-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    for (const char* dev : {"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS0", "ttyS1", "tty0", "null"})
      touch("dev", dev);
    uart("ttyS0", 4);  // a 16550A behind it
    uart("ttyS1", 0);  // nothing behind it
    std::filesystem::create_directories(root / "dev/serial/by-id");
    std::filesystem::create_symlink("../../ttyUSB1",
                                    root / "dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");
  }
  ~FakeMachine() { std::filesystem::remove_all(root); }
  void touch(const std::string& dir, const std::string& name) {
    std::filesystem::create_directories(root / dir);
    std::ofstream(root / dir / name).put('x');
  }
  void uart(const std::string& name, int type) {
    const auto sys = root / "sys/class/tty" / name;
    std::filesystem::create_directories(sys / "device");
    std::ofstream(sys / "type") << type << "\n";
  }
  std::filesystem::path root;
};

TEST(ListSerialDevices, NamesKindsAndStableNamesAndLeavesEmptyUartsOut) {
  FakeMachine m;
  const auto found = transport::listSerialDevices(m.root.string());
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].path, "/dev/ttyACM0");
  EXPECT_EQ(found[0].kind, "USB ACM device");
  EXPECT_EQ(found[1].path, "/dev/ttyS0");
  EXPECT_EQ(found[1].kind, "on-board UART");
  EXPECT_EQ(found[2].path, "/dev/ttyUSB0");
  EXPECT_EQ(found[2].stableName, "");
  EXPECT_EQ(found[3].path, "/dev/ttyUSB1");
  EXPECT_EQ(found[3].kind, "USB adapter");
  EXPECT_EQ(found[3].stableName, "usb-FTDI_FT232R_A1B2C3-if00-port0");
  const std::string listing = portListing(found);
  EXPECT_NE(listing.find("/dev/ttyUSB1  USB adapter  by-id: usb-FTDI_FT232R_A1B2C3-if00-port0  you may"),
            std::string::npos)
      << listing;
  EXPECT_EQ(portListing({}), "no serial device found\n");
  EXPECT_TRUE(transport::listSerialDevices((m.root / "nowhere").string()).empty());
}

TEST(ProcessesHolding, FindsThisProcessHoldingAFile) {
  FakeMachine m;
  const auto file = m.root / "dev/ttyUSB0";
  std::ifstream held(file);
  bool found = false;
  for (const auto& h : transport::processesHolding(std::filesystem::canonical(file).string()))
    found = found || h.pid == ::getpid();
  EXPECT_TRUE(found);
  EXPECT_EQ(transport::deviceGroupName("/nonexistent"), "");
  EXPECT_FALSE(transport::deviceGroupName("/dev/null").empty());
}

}  // namespace
