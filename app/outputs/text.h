#pragma once

// What several outputs write the same way: times, numbers and strings as
// JSON has them, and where a point lies as a person reads it.

#include <cstdint>
#include <string>
#include <string_view>

#include "lmsview/scanner.h"

namespace app {

// "2026-12-07T08:21:15.123Z": ISO 8601, UTC, milliseconds.
std::string isoTimeUtc(std::int64_t nanosSinceEpoch);

void putInt(std::string& out, long long v);
// Shortest text that reads back as the same number.
void putDouble(std::string& out, double v);
void putFloat(std::string& out, float v);
// A JSON string: quoted, with quotes, backslashes and control characters escaped.
void putJsonString(std::string& out, std::string_view text);
// The scan's ranges (metres) as a JSON array.
void putRangesJson(std::string& out, const lmsview::Scan& scan);

// Point i's angle in degrees from the scanner's right (0 to 180 for a
// 180-degree field, 40 to 140 for a 100-degree one), as people and the
// table read it: the field is centred on straight ahead.
double degreesFromRight(const lmsview::Geometry& g, std::size_t i);
// The same in radians, counter-clockwise: the direction to draw point i in
// a picture with the scanner's right at 0 and its front up at pi/2.
double drawingAngle(const lmsview::Geometry& g, std::size_t i);

}  // namespace app
