// SPDX-License-Identifier: Apache-2.0
#include "platform/clock.h"

#include <thread>

namespace platform {

namespace {
const std::chrono::steady_clock::time_point kProcessStart = std::chrono::steady_clock::now();
}

std::int64_t processMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               kProcessStart)
      .count();
}

std::chrono::steady_clock::time_point processTimePoint(std::int64_t ms) {
  return kProcessStart + std::chrono::milliseconds(ms);
}

std::int64_t wallClockNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void sleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace platform
