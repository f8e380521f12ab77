#pragma once

// Windows only: Winsock, started by the first socket and cleaned up when the
// process ends; false when it cannot start.

namespace transport {

bool winsockReady();

}  // namespace transport
