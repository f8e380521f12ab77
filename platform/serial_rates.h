// SPDX-License-Identifier: Apache-2.0
#pragma once

// The rates a serial line is set up at, on every OS: the scanner family's
// (9600, 19200, 38400, 500000) and the common ones around them, for the
// emulator's line and for adapters set by hand.

#include <algorithm>
#include <string>

namespace platform {

inline constexpr int kLineRates[] = {1200,  2400,   4800,   9600,   19200, 38400,
                                     57600, 115200, 230400, 460800, 500000};

inline bool isLineRate(int baud) {
  return std::find(std::begin(kLineRates), std::end(kLineRates), baud) != std::end(kLineRates);
}

// "1200, 2400, ... 500000", for messages.
inline std::string lineRateList() {
  std::string list;
  for (const int r : kLineRates) list += (list.empty() ? "" : ", ") + std::to_string(r);
  return list;
}

}  // namespace platform
