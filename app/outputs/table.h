// SPDX-License-Identifier: Apache-2.0
#pragma once

// --format table: one scan as a table, a header with its sample number, then
// one row per point (index, degrees from the scanner's right, range in
// centimetres); on a terminal each table replaces the last, elsewhere they
// follow each other.

#include <cstdint>
#include <string>

#include "lmsview/scanner.h"

namespace app {

// The escape sequence that clears a terminal and homes the cursor.
inline constexpr const char* kClearScreen = "\x1b[H\x1b[2J";

// Replaces `out` with the whole table of `scan`, numbered `sample` (the
// tables shown count 0, 1, 2 ...; the scan's seq counts the scans received).
// `clear` puts the clear-screen sequence first (terminal output); otherwise
// the table ends with an empty line so that tables in a file or pipe stay
// apart.
void formatScanTable(std::string& out, const lmsview::Scan& scan, std::uint64_t sample, bool clear);

}  // namespace app
