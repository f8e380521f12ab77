// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the emulated scanner sees: a room with walls a few metres away and a
// round object that moves a little from scan to scan. Deterministic: the
// same seed and scan index always give the same range words. The scanner
// stands where its pose puts it in the room (by default at the room's
// origin, facing its far wall), so two scanners of one seed at two poses
// see one room from two places. Ranges are
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
  // Puts the scanner at (x, y) metres in the room (x towards the far wall, y
  // to the left) facing yaw degrees (counter-clockwise, 0: the far wall).
  void place(double x, double y, double yawDeg);

 private:
  std::uint32_t seed_;
  double left_, right_, back_, behind_;  // wall distances from the origin, mm
  double x_ = 0, y_ = 0, yaw_ = 0;       // the scanner's pose: mm, mm, rad
  double phase_;
};

// Range words replayed from a file (see lms::Recording).
using ReplayScans = lms::Recording;

}  // namespace sim
