// SPDX-License-Identifier: Apache-2.0
#pragma once

// Standard output for data: a table, a CSV line or a JSON line goes out in
// one write where the OS takes it whole, so a reader of a pipe never sees
// half of one from one call; partial writes and interruptions are continued.

#include <string_view>
#include <system_error>

namespace platform {

// Writes all of `bytes` to standard output; the error of the write that
// failed (std::errc::broken_pipe when the reader has gone).
std::error_code writeStdout(std::string_view bytes);

}  // namespace platform
