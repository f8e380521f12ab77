#pragma once

// Scans as data for other programs: CSV (one line a scan) and JSON Lines in
// the conventions of the common robotics laser-scan message (one object a
// scan), so a line converts to such a message without arithmetic.
//
// Angles: 0 rad is the scanner's right, pi/2 straight ahead, pi its left,
// counter-clockwise seen from above; index i is i * pi/360.

#include <cstdint>
#include <string>
#include <string_view>

#include "lmsview/scanner.h"

namespace app {

// "2026-12-07T08:21:15.123Z": ISO 8601, UTC, milliseconds.
std::string isoTimeUtc(std::int64_t nanosSinceEpoch);

// The header line: seq, time_utc, time_ns, then r_000_0deg_cm ... r_180_0deg_cm.
void formatCsvHeader(std::string& out, int count);
// Replaces `out` with one data line (ranges in centimetres, one decimal, from
// the raw words).
void formatCsvRow(std::string& out, const lmsview::Scan& scan);

// Replaces `out` with one JSON object and a newline: seq, stamp {sec,
// nanosec}, frame_id, angle_min/max/increment, time_increment, scan_time,
// range_min/max (the span of measurements: a range outside it, 0 for no
// echo or a code above range_max, is not a distance, as the laser-scan
// message has it), ranges (metres) and intensities (empty); with `withWords`
// also the raw range words, so a replay sends exactly what was received.
void formatJsonLine(std::string& out, const lmsview::Scan& scan, std::string_view frameId, bool withWords);

// Replaces `out` with the scan as the robotics viewers' foxglove.LaserScan
// JSON (no newline): timestamp {sec, nsec}, frame_id, pose at the origin,
// start_angle 0, end_angle pi, ranges (metres) and intensities (empty).
void formatFoxgloveLaserScan(std::string& out, const lmsview::Scan& scan, std::string_view frameId);

}  // namespace app
