// SPDX-License-Identifier: Apache-2.0
#include "platform/error.h"

#include <cerrno>

namespace platform {

std::error_code lastOsError() {
  return osError(errno);
}

std::string errorText(const std::error_code& ec) {
  return ec.message();
}

}  // namespace platform
