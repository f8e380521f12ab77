// SPDX-License-Identifier: Apache-2.0
#pragma once

// A look at one place for a scanner, changing nothing on it: a line that
// carries a scanner's stream is only listened to, and a quiet one is asked
// for one scan, whose reply header tells the variant and the unit. Each
// look is bounded (about a second; a few on a slow line that carries
// bytes); it runs on the calling thread.

#include <string>
#include <system_error>

#include "lms/protocol/reply.h"

namespace lms {

struct ProbeResult {
  bool opened = false;  // the place could be opened (else `error` says why)
  std::error_code error;
  bool found = false;
  bool streaming = false;  // it sends unasked: continuous output
  bool refused = false;    // it answered, but refused the request (NAK)
  int points = 0;          // the variant its scans have
  Units units = Units::Millimetres;
};

// The serial device `device` at `baud`.
ProbeResult probeSerial(const std::string& device, int baud);
// The scanner (or its serial gateway) at `address`:`port`.
ProbeResult probeTcp(const std::string& address, int port);

// Whether `p` (7 bytes) begins a measurement reply: start, reply address,
// a variant's length, the reply command and a count word that agrees with
// the length and names a unit. Enough to know a scanner and its variant
// and unit before its reply is whole.
bool isMeasurementHeader(const std::uint8_t* p);

}  // namespace lms
