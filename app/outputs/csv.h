// SPDX-License-Identifier: Apache-2.0
#pragma once

// --format csv: a header line, then one line a scan: seq, time_utc (ISO 8601
// UTC with milliseconds), time_ns, and the ranges in centimetres with one
// decimal, one column a point named by its degrees from the scanner's right
// (r_000_0deg_cm, r_000_5deg_cm ... r_180_0deg_cm). A scan of another
// geometry than the one before starts with a header line of its own.

#include <string>

#include "lmsview/scanner.h"

namespace app {

// The header line for scans of geometry `g`.
void formatCsvHeader(std::string& out, const lmsview::Geometry& g);
// Replaces `out` with one data line.
void formatCsvRow(std::string& out, const lmsview::Scan& scan);

}  // namespace app
