// SPDX-License-Identifier: Apache-2.0
#pragma once

// POSIX only: thin helpers over descriptor readiness, for the POSIX
// implementations of the platform and transport layers and the emulator.
// All waits are bounded by their timeout and retry EINTR with the remaining time.

namespace platform {

enum class Ready { Yes, Timeout, Hangup, Error };

Ready waitReadable(int fd, int timeoutMs);
Ready waitWritable(int fd, int timeoutMs);

// Waits until one of two descriptors is readable. Returns 0 or 1 for the one
// that is, -1 on timeout or error. `timeoutMs` < 0 waits without a bound (only
// for the main thread's key wait, which a wake-up descriptor can always end).
int waitEitherReadable(int fd0, int fd1, int timeoutMs);

}  // namespace platform
