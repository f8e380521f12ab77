// SPDX-License-Identifier: Apache-2.0
#pragma once

// A robot's scanners: what of each scanner's scans is kept (ScanFilter: a
// sector, the sectors its own body hides, a span of distances) and their
// scans merged in the robot's frame by where each sits (Pose). The records
// are in lmsview/scan.h. Angles follow REP 103: x ahead, y to the left,
// counter-clockwise positive, 0 straight ahead.
//
// Plain functions of their arguments: no state, callable from any thread.

#include <cstddef>
#include <vector>

#include "lmsview/export.h"
#include "lmsview/scan.h"

namespace lmsview {

// `scan` with `filter` applied, into `out` (whose buffers are reused). The
// points that are hidden or out of range become NaN (REP 117: not a
// measurement) and keep their raw words; a scan the filter keeps nothing of
// has no points.
LMSVIEW_API void filter_scan(const Scan& scan, const ScanFilter& filter, Scan* out);

// Merges `count` scans (the first one's stamp and seq go to the merged
// scan) into `out`, whose buffers are reused.
LMSVIEW_API void merge(const PlacedScan* scans, std::size_t count, Merged* out);
inline void merge(const std::vector<PlacedScan>& scans, Merged* out) {
  merge(scans.data(), scans.size(), out);
}

}  // namespace lmsview
