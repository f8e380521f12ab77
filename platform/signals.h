// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace platform {

// Routes SIGINT and SIGTERM to `handler` (which must be async-signal-safe),
// and ignores SIGPIPE, so that a write to a closed peer is an error, not an
// end. Every other signal that would end the process (SIGHUP, SIGQUIT,
// SIGUSR1, SIGALRM ...) restores the terminal first and then ends it as the
// signal would, with the usual status; a stop (Ctrl-Z) restores the terminal
// too, and a continue puts single-key mode back.
void installStopSignals(void (*handler)(int));

// A write to a pipe whose reader has gone fails (EPIPE) instead of ending
// the process, so the program can say so and end with its own status.
void ignoreBrokenPipe();

// The statuses a stop from outside gives here, for the help text.
const char* stopStatusText();

}  // namespace platform
