// SPDX-License-Identifier: Apache-2.0
#pragma once

// What several outputs write the same way: times, numbers and strings as
// JSON has them, and where a point lies as a person reads it.

#include <cstdint>
#include <string>
#include <string_view>

#include "lms/formats/scan_json.h"
#include "lmsview/scanner.h"

namespace app {

// "2026-12-07T08:21:15.123Z": ISO 8601, UTC, milliseconds.
std::string isoTimeUtc(std::int64_t nanosSinceEpoch);

// Numbers and strings as JSON has them: written where the scan's JSON is.
using lms::scan_json::putDouble;
using lms::scan_json::putFloat;
using lms::scan_json::putInt;
inline void putJsonString(std::string& out, std::string_view text) {
  lms::scan_json::putString(out, text);
}
inline void putRangesJson(std::string& out, const lmsview::Scan& scan) {
  lms::scan_json::putRanges(out, scan);
}

// Point i's angle in degrees from the scanner's right (0 to 180 for a
// 180-degree field, 40 to 140 for a 100-degree one), as people and the
// table read it: the field is centred on straight ahead.
double degreesFromRight(const lmsview::Geometry& g, std::size_t i);
// The same in radians, counter-clockwise: the direction to draw point i in
// a picture with the scanner's right at 0 and its front up at pi/2.
double drawingAngle(const lmsview::Geometry& g, std::size_t i);

}  // namespace app
