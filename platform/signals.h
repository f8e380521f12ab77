#pragma once

namespace platform {

// Routes SIGINT and SIGTERM to `handler` (which must be async-signal-safe) and
// ignores SIGPIPE, so that a write to a closed peer is an error, not an end.
void installStopSignals(void (*handler)(int));

}  // namespace platform
