#include <windows.h>

#include "platform/process.h"

namespace platform {

std::int64_t processId() {
  return ::GetCurrentProcessId();
}

}  // namespace platform
