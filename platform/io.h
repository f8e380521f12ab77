#pragma once

#include <string>

// Thin helpers over descriptor readiness. All waits are bounded by their
// timeout and retry EINTR with the remaining time.
enum class Ready { Yes, Timeout, Hangup, Error };

Ready waitReadable(int fd, int timeoutMs);
Ready waitWritable(int fd, int timeoutMs);

// Waits until one of two descriptors is readable. Returns 0 or 1 for the one
// that is, -1 on timeout or error. `timeoutMs` < 0 waits without a bound (only
// for the main thread's key wait, which a wake-up descriptor can always end).
int waitEitherReadable(int fd0, int fd1, int timeoutMs);

// strerror text for an errno value, safe to call from any thread.
std::string errorText(int err);
