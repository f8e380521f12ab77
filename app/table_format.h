#pragma once

// Formatting of one scan as a table: a header with the sample number, then one
// row per point (index, angle in degrees, radius), every point of the scan.

#include <string>

namespace app {

// The escape sequence that clears a terminal and homes the cursor.
inline constexpr const char* kClearScreen = "\x1b[H\x1b[2J";

// Replaces `out` with the whole table. `clear` puts the clear-screen sequence
// first (terminal output); otherwise the table ends with an empty line so that
// tables in a file or pipe stay apart.
void formatScanTable(std::string& out, int sample, const float* ranges, const float* angles, int count,
                     bool clear);

}  // namespace app
