// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include "platform/process.h"

namespace platform {

std::int64_t processId() {
  return ::GetCurrentProcessId();
}

}  // namespace platform
