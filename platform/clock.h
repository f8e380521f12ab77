// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

// Monotonic milliseconds since the process started. (The C library's process
// clock counts CPU time on Linux and cannot measure silence on a link.)
std::int64_t processMillis();

// The monotonic time point at which processMillis() reaches `ms`, for timed waits.
std::chrono::steady_clock::time_point processTimePoint(std::int64_t ms);

// Wall-clock time (UTC) in nanoseconds since the epoch, for time stamps that
// other programs read. Never for measuring intervals: it may jump.
std::int64_t wallClockNanos();

// Sleeps the calling thread; negative or zero returns at once.
void sleepMs(int ms);

}  // namespace platform
