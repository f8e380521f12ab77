// SPDX-License-Identifier: Apache-2.0
#include "app/port_listing.h"

namespace app {

std::string portListing(const std::vector<transport::SerialDeviceInfo>& devices) {
  if (devices.empty()) return "no serial device found\n";
  std::string out;
  for (const auto& d : devices) {
    out += d.path + "  " + d.kind;
    if (!d.stableName.empty()) out += "  by-id: " + d.stableName;
    out += d.accessible ? "  you may open it\n"
                        : "  you may not open it (see its group: ls -l " + d.path + ")\n";
  }
  return out;
}

}  // namespace app
