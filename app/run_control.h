// SPDX-License-Identifier: Apache-2.0
#pragma once

// One run of the program: create the driver, start the display thread and the
// acquisition thread, wait for a key, stop, and end.
//
// A Run object holds what the run's threads share: the run state (serialMode,
// serialDriver, netDriver: written by runLaser before it starts the threads,
// read-only afterwards, so the thread start orders the writes before every
// read), the sinks, and the end of the run. runLaser creates it and passes it
// to the threads through their parameter; the signal handler reaches it
// through one atomic pointer.

#include <cstdio>
#include <functional>
#include <string_view>
#include <system_error>

#include "app/outputs/sink.h"
#include "app/robot_config.h"
#include "app/run_options.h"

namespace app {

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

// How a run meets the process's standard streams. The program uses the
// defaults; in-process tests give their own.
struct RunIo {
  // Data for standard output, one call a table or line.
  std::function<std::error_code(std::string_view)> out;
  std::FILE* messages = nullptr;  // the run's messages (default: messageStream(options))
  std::FILE* notices = nullptr;   // notices and the final lines (default: standard error)
  bool watchInput = true;         // standard input (a key) may end the run
  bool terminal = false;          // standard output is a terminal (set by the default)
  static RunIo standard(const RunOptions& options);
};

// Runs until a key is pressed, standard input ends (see waitForTheEnd), the
// count or the time is reached, a signal arrives, or the link fails. Returns
// the process exit status. The opened outputs get every valid scan received.
int runLaser(bool serial, const char* portName, const char* address, const char* laserType,
             const RunOptions& options = {}, const OpenedOutputs& opened = {});
int runLaser(bool serial, const char* portName, const char* address, const char* laserType,
             const RunOptions& options, const OpenedOutputs& opened, const RunIo& io);

// The same for a robot's scanners (lmsview --config): each on a thread of
// its own, its scans on /NAME/scan in frame NAME_laser, merged at each scan
// of the first, their health once a second. One scanner's lost link does not
// end the run; the run ends with 1 when any link failed.
int runRobot(const RobotConfig& config, const RunOptions& options, const OpenedOutputs& opened);
int runRobot(const RobotConfig& config, const RunOptions& options, const OpenedOutputs& opened,
             const RunIo& io);

// Where a robot's scanners sit, as its outputs are told.
RobotLayout robotLayout(const RobotConfig& config);

// The threads of a run; `parameter` is the run's Run object.
int AcquisitionThread(void* parameter);
int DataThread(void* parameter);

// Where run messages go: standard output for tables, standard error when
// standard output carries data.
std::FILE* messageStream(const RunOptions& options);

// Installs the SIGINT/SIGTERM handlers (the run ends cleanly, terminal
// restored) and ignores SIGPIPE.
void installSignalHandlers();

// Ends the run in progress as signal `sig` does (async-signal-safe).
void stopRun(int sig);

}  // namespace app
