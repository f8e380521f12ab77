// SPDX-License-Identifier: Apache-2.0
#pragma once

// Errors of the operating system as std::error_code values, so callers test
// them portably (`ec == std::errc::no_such_file_or_directory`) and keep the
// number for messages.

#include <string>
#include <system_error>

namespace platform {

// The calling thread's last error of the OS (errno on POSIX).
std::error_code lastOsError();

// An error of the OS from its number.
inline std::error_code osError(int value) {
  return {value, std::system_category()};
}

// The OS's words for an error, safe to call from any thread.
std::string errorText(const std::error_code& ec);

}  // namespace platform
