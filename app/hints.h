// SPDX-License-Identifier: Apache-2.0
#pragma once

// What to do about a link that would not open: a second line after the
// one-line message, for the causes people meet most.

#include <string>
#include <system_error>
#include <vector>

#include "transport/serial_ports.h"

namespace app {

// The hint for a serial device that failed to open with `ec`, or "".
// `holders` and `present` describe the machine (the caller reads them;
// tests pass their own).
std::string serialOpenHint(const std::string& device, std::error_code ec, const std::string& group,
                           const std::vector<transport::DeviceHolder>& holders,
                           const std::vector<transport::SerialDeviceInfo>& present);

// The hint for a TCP connection that failed with `ec`, or "".
std::string networkOpenHint(std::error_code ec);

}  // namespace app
