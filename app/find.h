// SPDX-License-Identifier: Apache-2.0
#pragma once

// lmsview --find: looks for scanners and prints how to read each, changing
// nothing on them.

#include <string>
#include <vector>

#include "lms/protocol/probe.h"
#include "transport/serial_ports.h"

namespace app {

// Where to look: the serial devices the machine lists (no words), or one
// place named as the link's first two words ("COM" PORT, or "IP" ADDRESS).
struct FindPlace {
  bool serial = true;
  std::string shown;   // as the user names it on a command line: "/dev/ttyUSB0", "3", "192.0.2.40"
  std::string device;  // serial: the device path
};

// The line for what a look found at `place` (at `baud` on a serial line),
// or "" when there is nothing to say.
std::string findLine(const FindPlace& place, int baud, const lms::ProbeResult& r);

// Looks at every place (each serial one at each rate the scanner family
// knows, until a scanner answers) and writes a line for each scanner found
// and each place that could not be opened. The exit status: 0 when a
// scanner was found, 1 when none was.
int runFind(const std::vector<FindPlace>& places);

// The places of the serial devices the machine lists.
std::vector<FindPlace> listedPlaces(const std::vector<transport::SerialDeviceInfo>& devices);

}  // namespace app
