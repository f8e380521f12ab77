// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include "platform/process.h"

namespace platform {

std::int64_t processId() {
  return ::getpid();
}

}  // namespace platform
