// SPDX-License-Identifier: Apache-2.0
#pragma once

// The scanner family's fixed numbers that every part of the program shares.

#include <array>
#include <cstdint>
#include <string>

namespace lms {

// The scanner address used when the user names none: a fixed private-network
// address. Tests never use it.
inline constexpr const char* kDefaultScannerAddress = "192.168.0.10";
// The TCP port of the scanner (or of its serial gateway).
inline constexpr std::uint16_t kScannerPort = 10002;
// The serial line's rate.
inline constexpr int kSerialBaud = 9600;
// The rates the scanner family knows, in the order --baud auto tries them.
inline constexpr std::array<int, 4> kScannerRates{9600, 19200, 38400, 500000};
inline bool isScannerRate(int baud) {
  for (const int rate : kScannerRates)
    if (rate == baud) return true;
  return false;
}
// "9600, 19200, 38400 or 500000", for messages.
inline std::string scannerRateNames() {
  std::string names;
  for (std::size_t i = 0; i < kScannerRates.size(); ++i)
    names += (i == 0 ? "" : i + 1 == kScannerRates.size() ? " or " : ", ") + std::to_string(kScannerRates[i]);
  return names;
}

}  // namespace lms
