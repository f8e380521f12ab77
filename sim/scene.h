// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the emulated scanner sees: a room with three walls a few metres away
// and a round object that moves a little from scan to scan. Deterministic:
// the same seed and scan index always give the same range words. Ranges are
// raw 13-bit values (0..8191); some words carry flag bits in their top three
// bits, which a reader must ignore.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lms/formats/recording.h"
#include "lms/protocol/reply.h"

namespace sim {

using lms::kScanPoints;

using lms::RangeWords;

class Scene {
 public:
  explicit Scene(std::uint32_t seed = 1);
  // Scan `index` as a reply of `points` points (a variant's) sees the room,
  // in millimetres (`perMetre` 1000), centimetres (100) or decimetres (10).
  RangeWords scan(std::int64_t index, int points = kScanPoints, int perMetre = 1000) const;

 private:
  std::uint32_t seed_;
  double left_, right_, back_;  // wall distances
  double phase_;
};

// Range words replayed from a file (see lms::Recording).
using ReplayScans = lms::Recording;

}  // namespace sim
