// SPDX-License-Identifier: Apache-2.0
#include "platform/output.h"

#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/posix/io.h"

namespace platform {

std::error_code writeStdout(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A standard output left non-blocking by another program: wait for room.
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (waitWritable(STDOUT_FILENO, 1000) == Ready::Yes) continue;
      return std::make_error_code(std::errc::timed_out);
    }
    return n < 0 ? lastOsError() : std::make_error_code(std::errc::io_error);
  }
  return {};
}

}  // namespace platform
