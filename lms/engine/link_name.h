// SPDX-License-Identifier: Apache-2.0
#pragma once

// Names of a link to a scanner, one parser for the library and the command
// line: "tcp://HOST[:PORT]" (HOST a dotted IPv4 address, PORT 10002 unless
// given), "serial://DEVICE" (a device path such as /dev/ttyUSB0, or COMn),
// "file:RECORDING" (JSON Lines or MCAP, as lmsview --record writes them;
// "file:RECORDING?topic=/front/scan" names one scanner's scans in an MCAP
// recording of several),
// and the command line's own words ("COM 3", "IP 192.0.2.40").

#include <cstdint>
#include <string>
#include <string_view>

namespace lms {

struct LinkName {
  bool serial = false;
  std::string device;   // serial: the device path or "COM1".."COM10" as the driver knows them
  std::string address;  // TCP: dotted IPv4 text
  std::uint16_t port = 0;
  std::string recording;       // "file:PATH": a recording played back instead of a scanner
  std::string recordingTopic;  // "file:PATH?topic=/front/scan": the scanner of a recording of several
};

// False for a name that is not one of the forms above (nothing is opened).
bool parseLinkName(std::string_view text, LinkName* out);

// Whether `text` is a dotted IPv4 address (four numbers 0-255).
bool isDottedIPv4(std::string_view text);

}  // namespace lms
