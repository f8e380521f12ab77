// SPDX-License-Identifier: Apache-2.0
#pragma once

// Builds measurement replies for tests, independently of the emulator.

#include <cstdint>
#include <vector>

#include "lms/protocol/reply.h"
#include "lms/protocol/telegram.h"

// A reply of 361 points in `units`; `countWord` replaces the count word the
// reply states (its point count and unit) when it is not negative.
inline std::vector<std::uint8_t> makeMeasurementReply(const std::vector<std::uint16_t>& words,
                                                      lms::Units units = lms::Units::Millimetres,
                                                      int countWord = -1) {
  const int count = countWord >= 0 ? countWord : lms::kScanPoints | (static_cast<int>(units) << 14);
  std::vector<std::uint8_t> r{0x02,
                              0x80,
                              0xD6,
                              0x02,
                              0xB0,
                              static_cast<std::uint8_t>(count & 0xFF),
                              static_cast<std::uint8_t>(count >> 8)};
  for (int i = 0; i < lms::kScanPoints; ++i) {
    const std::uint16_t w = i < static_cast<int>(words.size()) ? words[static_cast<std::size_t>(i)] : 0;
    r.push_back(static_cast<std::uint8_t>(w & 0xFF));
    r.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  r.push_back(0x10);
  const std::uint16_t crc = lms::lmsCrc16(r.data(), static_cast<int>(r.size()));
  r.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  r.push_back(static_cast<std::uint8_t>(crc >> 8));
  return r;
}
