#pragma once

// --format table: one scan as a table, a header with its sample number, then
// one row per point (index, degrees from the scanner's right, range in
// centimetres); on a terminal each table replaces the last, elsewhere they
// follow each other.

#include <string>

#include "lmsview/scanner.h"

namespace app {

// The escape sequence that clears a terminal and homes the cursor.
inline constexpr const char* kClearScreen = "\x1b[H\x1b[2J";

// Replaces `out` with the whole table of `scan` (its sample number is its
// seq). `clear` puts the clear-screen sequence first (terminal output);
// otherwise the table ends with an empty line so that tables in a file or
// pipe stay apart.
void formatScanTable(std::string& out, const lmsview::Scan& scan, bool clear);

}  // namespace app
