#pragma once

// Facts about the scanner that every part of the program shares.

#include <array>
#include <cstdint>

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

}  // namespace lms
