// SPDX-License-Identifier: Apache-2.0
// A robot's scanners: filters and the merge (lmsview/robot.h).

#include "lmsview/robot.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "lms/protocol/reply.h"

namespace lmsview {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// A bound on a point's own angle takes that point whatever the rounding.
constexpr double kSlackDeg = 1e-9;

// Whether `deg` lies in [from, to] (either order).
bool within(double deg, double from, double to) {
  return deg >= std::min(from, to) - kSlackDeg && deg <= std::max(from, to) + kSlackDeg;
}

}  // namespace

void filter_scan(const Scan& scan, const ScanFilter& filter, Scan* out) {
  const Geometry& g = scan.geometry;
  // The kept sector as indices.
  std::size_t first = g.count, last = 0;
  for (std::size_t i = 0; i < g.count; ++i) {
    if (within(g.angle(i) / kDegree, filter.crop_min_deg, filter.crop_max_deg)) {
      first = std::min(first, i);
      last = i;
    }
  }
  out->seq = scan.seq;
  out->stamp_ns = scan.stamp_ns;
  out->received_ns = scan.received_ns;
  out->words_rebuilt = scan.words_rebuilt;
  out->geometry = g;
  out->ranges.clear();
  out->words.clear();
  if (first > last || first >= g.count) {
    out->geometry.count = 0;
    return;
  }
  out->geometry.count = last - first + 1;
  out->geometry.angle_min = g.angle(first);
  const auto begin = static_cast<std::ptrdiff_t>(first), end = static_cast<std::ptrdiff_t>(last + 1);
  if (scan.ranges.size() >= last + 1)
    out->ranges.assign(scan.ranges.begin() + begin, scan.ranges.begin() + end);
  if (scan.words.size() >= last + 1) out->words.assign(scan.words.begin() + begin, scan.words.begin() + end);
  for (std::size_t i = 0; i < out->ranges.size(); ++i) {
    const double deg = out->geometry.angle(i) / kDegree;
    const float r = out->ranges[i];
    bool hidden = r < filter.range_min_m || r > filter.range_max_m;
    for (const auto& [from, to] : filter.mask_deg) hidden = hidden || within(deg, from, to);
    if (hidden) out->ranges[i] = kNaN;
  }
}

void merge(const PlacedScan* scans, std::size_t count, Merged* out) {
  out->points.clear();
  Scan& merged = out->scan;
  Geometry& g = merged.geometry;
  g.count = kMergedBins;
  g.angle_increment = 2 * std::numbers::pi / static_cast<double>(kMergedBins);
  g.angle_min = -std::numbers::pi;
  g.range_min = 0.0;  // a point may lie nearer the origin than its scanner measures
  g.range_max = 0.0;
  g.range_unit = 0.0;
  merged.words.clear();
  merged.ranges.assign(kMergedBins, kNaN);
  merged.seq = count > 0 && scans[0].scan ? scans[0].scan->seq : 0;
  merged.stamp_ns = count > 0 && scans[0].scan ? scans[0].scan->stamp_ns : 0;
  merged.received_ns = count > 0 && scans[0].scan ? scans[0].scan->received_ns : 0;
  merged.words_rebuilt = false;
  for (std::size_t k = 0; k < count; ++k) {
    const Scan* scan = scans[k].scan;
    if (scan == nullptr) continue;
    const Pose& pose = scans[k].pose;
    const double c = std::cos(pose.yaw), s = std::sin(pose.yaw);
    const Geometry& sg = scan->geometry;
    // The farthest a scanner can reach from the robot's origin.
    g.range_max = std::max(g.range_max, sg.range_max + std::hypot(pose.x, pose.y));
    const std::size_t n = std::min(sg.count, scan->ranges.size());
    for (std::size_t i = 0; i < n; ++i) {
      if (!lms::isDistance(*scan, i)) continue;
      const double r = scan->ranges[i];
      const double a = sg.angle(i);
      const double lx = r * std::cos(a), ly = r * std::sin(a);
      const double x = pose.x + c * lx - s * ly;
      const double y = pose.y + s * lx + c * ly;
      out->points.push_back(
          {static_cast<float>(x), static_cast<float>(y), 0.0f, static_cast<std::uint32_t>(k)});
      const double bearing = std::atan2(y, x);
      auto bin = static_cast<std::size_t>(std::lround((bearing - g.angle_min) / g.angle_increment));
      if (bin >= kMergedBins) bin = 0;  // +pi is -pi
      const auto d = static_cast<float>(std::hypot(x, y));
      if (!(merged.ranges[bin] <= d)) merged.ranges[bin] = d;  // NaN or farther: this one
    }
  }
}

}  // namespace lmsview
