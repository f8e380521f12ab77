// SPDX-License-Identifier: Apache-2.0
#pragma once

// Windows only: Winsock, started by the first socket and cleaned up when the
// process ends; false when it cannot start.

#include <system_error>

namespace transport {

bool winsockReady();
// The last Winsock error as the portable condition a caller can branch on
// (refused, timed out, address in use ...), or the OS's own.
std::error_code lastSocketError();

}  // namespace transport
