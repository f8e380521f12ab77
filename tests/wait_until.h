// SPDX-License-Identifier: Apache-2.0
#pragma once

// The one bounded wait of the tests: polls `done` every `stepMs` until it
// holds or `timeoutMs` pass, and says which.

#include <cstdint>

#include "platform/clock.h"

template <class Done>
bool waitUntil(Done&& done, int timeoutMs, int stepMs = 10) {
  const std::int64_t until = platform::processMillis() + timeoutMs;
  while (!done()) {
    if (platform::processMillis() >= until) return done();
    platform::sleepMs(stepMs);
  }
  return true;
}
