// SPDX-License-Identifier: Apache-2.0
#include "app/hints.h"

#include "lms/protocol/scanner_constants.h"

namespace app {

std::string serialOpenHint(const std::string& device, std::error_code ec, const std::string& group,
                           const std::vector<transport::DeviceHolder>& holders,
                           const std::vector<transport::SerialDeviceInfo>& present) {
  if (ec == std::errc::permission_denied) {
    if (group.empty()) return "you may not open " + device + ": ask for access to it";
    return device + " belongs to group " + group + ": add yourself with `sudo usermod -aG " + group +
           " $USER`, then log out and in again";
  }
  if (ec == std::errc::device_or_resource_busy) {
    std::string who;
    for (const auto& h : holders)
      who += (who.empty() ? "" : ", ") + h.name + " (pid " + std::to_string(h.pid) + ")";
    if (who.empty()) return device + " is held by another program: close it, or end it";
    return device + " is open in " + who + ": close it, or end it";
  }
  if (ec == std::errc::no_such_file_or_directory || ec == std::errc::no_such_device) {
    if (present.empty()) return "there is no serial device here: is the adapter plugged in?";
    std::string list;
    for (const auto& d : present) list += (list.empty() ? "" : ", ") + d.path;
    return "serial devices here: " + list + " (lmsview --list-ports says more)";
  }
  return "";
}

std::string networkOpenHint(std::error_code ec) {
  if (ec == std::errc::connection_refused)
    return "nothing listens on port " + std::to_string(lms::kScannerPort) +
           " at that address: check the address, and that the scanner's network interface is on";
  if (ec == std::errc::timed_out || ec == std::errc::host_unreachable || ec == std::errc::network_unreachable)
    return "no answer from that address: check the address, the cable and the network settings";
  return "";
}

}  // namespace app
