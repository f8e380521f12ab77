// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the system knows about its serial devices, for --list-ports and for
// the hints after a failed open. Reads only: nothing is opened for writing.
//
// `root` prefixes every system path read (/dev, /sys, /proc), so tests can
// describe a machine in a folder; "" is this machine.

#include <string>
#include <vector>

namespace transport {

struct SerialDeviceInfo {
  std::string path;         // "/dev/ttyUSB0"
  std::string kind;         // "USB adapter", "USB ACM device", "on-board UART", "serial device"
  std::string stableName;   // its name under /dev/serial/by-id, or ""
  bool accessible = false;  // the current user may open it for reading and writing
};

// The serial devices present and usable, sorted by path. On-board UART
// entries with no UART behind them are left out.
std::vector<SerialDeviceInfo> listSerialDevices(const std::string& root = "");

// The name of the group that owns `path`, or "" when it cannot be told.
std::string deviceGroupName(const std::string& path);

struct DeviceHolder {
  int pid = 0;
  std::string name;
};
// The processes that have `path` open (as far as /proc lets us see).
std::vector<DeviceHolder> processesHolding(const std::string& path, const std::string& root = "");

}  // namespace transport
