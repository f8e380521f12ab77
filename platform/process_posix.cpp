#include <unistd.h>

#include "platform/process.h"

namespace platform {

std::int64_t processId() {
  return ::getpid();
}

}  // namespace platform
