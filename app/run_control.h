#pragma once

// One run of the program: create the driver, start the display thread and the
// acquisition thread, wait for a key, stop, and end.
//
// Run state: serialMode, serialDriver and netDriver are written by the main
// thread before it starts the other threads and only read afterwards (the
// thread start orders the writes before every read); runLaser clears the
// driver pointers before it returns, when its driver is gone.

#include "app/cli.h"
#include "lms/driver.h"

namespace app {

class Recorder;

extern bool serialMode;
extern lms::SerialLms* serialDriver;
extern lms::NetLms* netDriver;

// Grace period after the stop request: the longest the program waits for the
// acquisition loop to return.
inline constexpr int kStopGraceMs = 5000;

// Exit statuses.
inline constexpr int kExitStopped = 0;
inline constexpr int kExitLinkFailed = 1;
inline constexpr int kExitUsage = 2;
// Standard output is a pipe whose reader has gone: 128 + SIGPIPE, as a
// shell reports a writer that the signal ended.
inline constexpr int kExitBrokenPipe = 141;

// Runs until a key is pressed, standard input ends (unless options.count or
// options.seconds is set), the count or the time is reached, a signal
// arrives, or the link fails. Returns the process exit status. Scans go to
// standard output in options.format; `recorder`, when given and open, gets
// every valid scan received.
int runLaser(bool serial, const char* portName, const char* address, const char* laserType,
             const RunOptions& options = {}, Recorder* recorder = nullptr);

int AcquisitionThread(void* parameter);
int DataThread(void* parameter);

// Where run messages go: standard output for tables, standard error when
// standard output carries data (csv, jsonl).
std::FILE* messageStream(const RunOptions& options);

// Installs the SIGINT/SIGTERM handlers (the run ends cleanly, terminal
// restored) and ignores SIGPIPE.
void installSignalHandlers();

}  // namespace app
