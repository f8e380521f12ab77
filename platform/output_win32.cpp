// SPDX-License-Identifier: Apache-2.0
#include "platform/output.h"

#include <windows.h>

#include "platform/error.h"

namespace platform {

std::error_code writeStdout(std::string_view bytes) {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = bytes.size() > 1u << 30 ? 1u << 30 : static_cast<DWORD>(bytes.size());
    if (!::WriteFile(out, bytes.data(), chunk, &written, nullptr)) {
      const DWORD err = ::GetLastError();
      // A pipe whose reader has gone.
      if (err == ERROR_BROKEN_PIPE || err == ERROR_NO_DATA || err == ERROR_PIPE_NOT_CONNECTED)
        return std::make_error_code(std::errc::broken_pipe);
      return osError(static_cast<int>(err));
    }
    if (written == 0) return std::make_error_code(std::errc::io_error);
    bytes.remove_prefix(written);
  }
  return {};
}

}  // namespace platform
