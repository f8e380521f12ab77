// SPDX-License-Identifier: Apache-2.0
#pragma once

// A robot's scanners: what of each scanner's scans is kept (a sector, the
// sectors its own body hides, a span of distances), where each sits on the
// robot, and their scans merged in the robot's frame. Angles follow REP 103:
// x ahead, y to the left, counter-clockwise positive, 0 straight ahead.
//
// Plain functions of their arguments: no state, callable from any thread.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "lmsview/export.h"
#include "lmsview/scan.h"

namespace lmsview {

// What of a scan is kept, in the scanner's own frame.
struct ScanFilter {
  // The sector kept, in degrees: cropping shortens the scan (its count and
  // angle_min follow, its words with it). The default keeps the whole field.
  double crop_min_deg = -180.0;
  double crop_max_deg = 180.0;
  // Sectors hidden (a wheel, the robot's own body), each [from, to] degrees:
  // their points become NaN.
  std::vector<std::pair<double, double>> mask_deg;
  // Distances kept, in metres: a point nearer or farther becomes NaN.
  double range_min_m = 0.0;
  double range_max_m = std::numeric_limits<double>::infinity();

  // Whether it changes anything.
  bool active() const {
    return crop_min_deg > -180.0 || crop_max_deg < 180.0 || !mask_deg.empty() || range_min_m > 0.0 ||
           range_max_m < std::numeric_limits<double>::infinity();
  }
};

// `scan` with `filter` applied, into `out` (whose buffers are reused). The
// points that are hidden or out of range become NaN (REP 117: not a
// measurement) and keep their raw words; a scan the filter keeps nothing of
// has no points.
LMSVIEW_API void filter_scan(const Scan& scan, const ScanFilter& filter, Scan* out);

// Where a scanner sits on the robot: metres in the robot's frame and its
// heading in radians.
struct Pose {
  double x = 0.0;
  double y = 0.0;
  double yaw = 0.0;
};

// A scan and where its scanner sits.
struct PlacedScan {
  const Scan* scan = nullptr;
  Pose pose;
};

// One point of a merged cloud: metres in the robot's frame, and the index of
// the scanner it came from (its place in merge()'s input).
struct MergedPoint {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  std::uint32_t scanner = 0;
};

// Bins of the merged scan: 360 degrees in half degrees.
inline constexpr std::size_t kMergedBins = 720;

// Scans of several scanners in the robot's frame.
struct Merged {
  // Every point that is a distance, moved by its scanner's pose.
  std::vector<MergedPoint> points;
  // A 360-degree scan from the robot's origin (angle_min -pi, 0.5 degree
  // bins): the nearest point of each bin, NaN where there is none. It has
  // no raw words. Its stamp is the first scan's.
  Scan scan;
};

// Merges `count` scans (the first one's stamp and seq go to the merged
// scan) into `out`, whose buffers are reused.
LMSVIEW_API void merge(const PlacedScan* scans, std::size_t count, Merged* out);
inline void merge(const std::vector<PlacedScan>& scans, Merged* out) {
  merge(scans.data(), scans.size(), out);
}

}  // namespace lmsview
