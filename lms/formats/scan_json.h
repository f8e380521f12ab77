// SPDX-License-Identifier: Apache-2.0
#pragma once

// Scans as JSON, written and read in one place: the JSON Lines of
// --format jsonl and --record (one object a scan, in the conventions of the
// robotics laser-scan message), the raw-words message of an MCAP
// recording, and the reading of both back into range words for a replay.
// The field names are defined here once, for the writer and the reader.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lms/protocol/reply.h"
#include "lmsview/scan.h"

namespace lms::scan_json {

// The fields a replay reads back.
inline constexpr std::string_view kWords = "words";           // the raw range words, flag bits included
inline constexpr std::string_view kRangeUnit = "range_unit";  // "mm", "cm" or "dm": the words' unit
inline constexpr std::string_view kRangeMax = "range_max";    // metres; the unit of a line without range_unit
inline constexpr std::string_view kFrameId = "frame_id";      // a line of lmsview's own

void putInt(std::string& out, long long v);
// Shortest text that reads back as the same number.
void putDouble(std::string& out, double v);
void putFloat(std::string& out, float v);
// A JSON string: quoted, with quotes, backslashes and control characters escaped.
void putString(std::string& out, std::string_view text);
// The scan's ranges (metres) as a JSON array; a point a filter hid (NaN) is null.
void putRanges(std::string& out, const lmsview::Scan& scan);

// Replaces `out` with one JSON object and a newline: seq, stamp {sec,
// nanosec} (when the scan's reply began to arrive), received_ns (when it
// was whole, ns since the epoch), frame_id, angle_min/max/increment (angle
// 0 straight ahead, counter-clockwise), time_increment, scan_time,
// range_min/max (a range outside them is not a distance), ranges (metres)
// and intensities (empty). With `withWords` (--record) also the raw words
// and their unit, so a replay sends exactly what was received.
void formatLine(std::string& out, const lmsview::Scan& scan, std::string_view frameId, bool withWords);

// The raw-words message of an MCAP recording: seq, stamp, the unit and the words.
void formatRawWords(const lmsview::Scan& scan, std::string* out);

// The unit of a scan's words from the span of its measurements (8.18 m in
// millimetres, 81.8 m in centimetres, 818 m in decimetres): what a
// laser-scan message, which names no unit, tells.
Units unitsOfRangeMax(double metres);

// A scan read back from such a line or message.
struct ReadScan {
  std::vector<std::uint16_t> words;
  Units units = Units::Millimetres;
};
// False, with the reason, for a line that is not one whole object with its words.
bool readLine(std::string_view line, ReadScan* out, std::string* why);

}  // namespace lms::scan_json
