// SPDX-License-Identifier: Apache-2.0
#pragma once

// The --list-ports listing.

#include <string>
#include <vector>

#include "transport/serial_ports.h"

namespace app {

// One line per device (path, kind, stable name, whether you may open it), or
// a line saying there is none.
std::string portListing(const std::vector<transport::SerialDeviceInfo>& devices);

}  // namespace app
