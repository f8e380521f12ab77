#pragma once

// JSON Lines in the conventions of the robotics laser-scan message (one
// object a scan), so a line converts to such a message without arithmetic:
// seq, stamp {sec, nanosec} (when the scan's reply began to arrive: the time
// of the scan), received_ns (when it was whole, in ns since the epoch),
// frame_id, angle_min/max/increment (angle 0 straight ahead,
// counter-clockwise),
// time_increment, scan_time, range_min/max (the span of measurements: a
// range outside it, 0 for no echo or a code above range_max, is not a
// distance, as the message has it), ranges (metres) and intensities (empty).

#include <string>
#include <string_view>

#include "lmsview/scanner.h"

namespace app {

// Replaces `out` with one JSON object and a newline; with `withWords` also
// the raw range words, so a replay sends exactly what was received (what
// --record writes).
void formatJsonLine(std::string& out, const lmsview::Scan& scan, std::string_view frameId, bool withWords);

}  // namespace app
