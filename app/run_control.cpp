// SPDX-License-Identifier: Apache-2.0
#include "app/run_control.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "app/hints.h"
#include "app/notices.h"
#include "app/outputs/format_table.h"
#include "app/outputs/sink.h"
#include "lms/engine/engine.h"
#include "platform/error.h"
#include "platform/output.h"
#include "platform/signals.h"
#include "platform/terminal.h"

namespace app {

namespace {

// What the signal handlers touch lives as long as the process: a stop may
// come while a run ends (on Windows Ctrl-C runs on a thread of its own), so
// it never reaches an object that is going away. Made once, never destroyed.
struct StopState {
  // Ends the key wait: woken by the acquisition thread when its loop
  // returns, by the display when the count is reached, and by the signal
  // handlers.
  platform::WakeChannel wake;
  // The stop signal's number, a lock-free atomic (a handler may run on another thread).
  std::atomic<int> signal{0};
  static_assert(std::atomic<int>::is_always_lock_free);
};
StopState& stopState() {
  static StopState* const state = new StopState;
  return *state;
}

// What the threads of one run share.
struct Run {
  // The run's engine (the link and its driver, one value in it): made
  // before the threads start and kept until they are done.
  std::shared_ptr<lms::Engine> engine;
  bool serialMode = false;

  // Set before the threads start; read-only afterwards.
  RunOptions options;
  RunIo io;
  Sinks sinks;

  // The wake-up and the stop signal, shared with the signal handlers.
  platform::WakeChannel& wake = stopState().wake;
  std::atomic<int>& signal = stopState().signal;

  // The acquisition loop's end, the display's stop and end.
  std::mutex mutex;
  std::condition_variable changed;
  bool acquisitionDone = false;
  bool displayStop = false;
  bool displayDone = false;
  std::error_code outputError;  // standard output failed: the run ends

  bool displayStopped() {
    std::lock_guard lock(mutex);
    return displayStop;
  }
  void outputFailed(std::error_code ec) {
    {
      std::lock_guard lock(mutex);
      outputError = ec;
    }
    wake.wake();
  }
};

extern "C" void onSignal(int sig) {
  stopRun(sig);
}

Run& runOf(void* parameter) {
  return *static_cast<Run*>(parameter);
}

// The display thread's end, seen by runLaser's bounded wait.
void displayEnded(Run& run) {
  {
    std::lock_guard lock(run.mutex);
    run.displayDone = true;
  }
  run.changed.notify_all();
}

}  // namespace

std::FILE* messageStream(const RunOptions& options) {
  return formatInfo(static_cast<int>(options.format)).messagesToStderr ? stderr : stdout;
}

RunIo RunIo::standard(const RunOptions& options) {
  RunIo io;
  io.out = [](std::string_view bytes) {
    // Messages go through stdio: what is buffered goes first.
    std::fflush(stdout);
    return platform::writeStdout(bytes);
  };
  io.messages = messageStream(options);
  io.notices = stderr;
  io.terminal = platform::isTerminal(platform::StdStream::Out);
  return io;
}

void installSignalHandlers() {
  platform::installStopSignals(onSignal);
}

void stopRun(int sig) {
  StopState& s = stopState();
  s.signal.store(sig, std::memory_order_release);
  s.wake.wake();
}

int AcquisitionThread(void* parameter) {
  Run& run = runOf(parameter);
  run.engine->run();
  {
    std::lock_guard lock(run.mutex);
    run.acquisitionDone = true;
  }
  run.changed.notify_all();
  run.wake.wake();
  return 0;
}

int DataThread(void* parameter) {
  Run& run = runOf(parameter);
  std::fputs("DataThread\n", run.io.messages);
  std::fflush(run.io.messages);
  for (const Sink& s : run.sinks.shown) s.begin();
  int sample = 0;
  // The display sleeps until a scan is published (or it is told to stop), so
  // a scan is shown as soon as it is whole and none is skipped while the
  // output keeps up. Every scan taken is shown, the first one included;
  // after a stop one last look shows a scan published during the grace period.
  const int count = run.options.count;
  // A streaming scanner sends up to 75 scans a second: a table or a picture
  // is redrawn at most every kPeopleRedrawMs (the newest scan then).
  const bool limited = run.options.stream && formatInfo(static_cast<int>(run.options.format)).forPeople;
  for (bool going = true;;) {
    if (const lmsview::Scan* scan = run.engine->takeScan()) {
      std::error_code failed;
      for (const Sink& s : run.sinks.shown)
        if (!failed) failed = s.write(*scan);
      if (failed) {
        run.outputFailed(failed);
        break;
      }
      ++sample;
      if (sample == count) {
        // Enough shown: end the run, and show nothing more.
        run.wake.wake();
        std::unique_lock lock(run.mutex);
        run.changed.wait(lock, [&run] { return run.displayStop; });
        break;
      }
      if (limited) {
        std::unique_lock lock(run.mutex);
        run.changed.wait_for(lock, std::chrono::milliseconds(kPeopleRedrawMs),
                             [&run] { return run.displayStop; });
      }
    }
    if (!going) break;
    run.engine->waitForScan();
    going = !run.displayStopped();
  }
  for (const Sink& s : run.sinks.shown) s.end();
  displayEnded(run);
  return 0;
}

namespace {

// What to do about a link that did not open, from what the system says now.
std::string openHint(Run& run) {
  const std::error_code ec = run.engine->failureError();
  if (!ec) return "";
  if (!run.serialMode) return networkOpenHint(ec);
  const std::string device = run.engine->placeText();
  return serialOpenHint(device, ec, transport::deviceGroupName(device), transport::processesHolding(device),
                        transport::listSerialDevices());
}

// The main thread's wait for the end of the run: a wake-up (the link
// failed, the count was reached, a signal), the time bound, or standard input:
// - a terminal in the foreground: a key ends the run;
// - otherwise, unless --count or --seconds bounds the run: a byte ends it,
//   and so does the end of input unless --reconnect keeps a monitor going;
// - a read error (nohup's unreadable input) stops the watch, not the run;
// - in the background the terminal is left alone until we are brought back.
void waitForTheEnd(Run& run) {
  const RunOptions& o = run.options;
  const bool bounded = o.count > 0 || o.seconds > 0;
  const bool terminal = run.io.watchInput && platform::isTerminal(platform::StdStream::In);
  const auto endAt =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double>(o.seconds > 0 ? o.seconds : 0));
  // Each wait is one slice: the time left (at most 2^30 ms, then again), or
  // a second on a terminal so a move to or from the background is seen.
  auto slice = [&](int cap) -> int {
    if (o.seconds <= 0) return cap;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(endAt - std::chrono::steady_clock::now())
            .count();
    const long long limit = cap < 0 ? (1LL << 30) : cap;
    return static_cast<int>(std::clamp<long long>(ms, 0, limit));
  };
  bool watching = run.io.watchInput && (terminal || !bounded);
  platform::RawKeyMode rawMode(terminal);
  // The prompt has a line of its own, so the messages that follow (from other
  // threads, at any moment) and tables in a file start on a fresh line.
  std::fputs("Press any key to continue . . .\n", run.io.messages);
  std::fflush(run.io.messages);
  for (;;) {
    if (o.seconds > 0 && std::chrono::steady_clock::now() >= endAt) break;
    if (!watching || (terminal && !platform::inForeground())) {
      rawMode.restore();
      if (run.wake.waitFor(slice(terminal && watching ? 1000 : -1))) break;
      continue;
    }
    if (terminal) rawMode.engage();
    const platform::KeyWait how = platform::waitForKey(run.wake, slice(terminal ? 1000 : -1));
    if (how == platform::KeyWait::Key || how == platform::KeyWait::Woken) break;
    if (how == platform::KeyWait::Error) watching = false;
    if (how == platform::KeyWait::EndOfInput) {
      if (!bounded && !o.reconnect) break;
      watching = false;
    }
  }
  rawMode.restore();
}

// Makes the run's engine from the options: its messages to the run's
// message stream, its notices to standard error, every scan received and
// the link's state to the outputs of scans received.
// False (with the reason on standard error) when the link cannot be made.
bool makeEngine(Run& run, const char* portName, const char* address, const char* laserType) {
  const RunOptions& o = run.options;
  lms::EngineOptions e;
  // The port is the device the command line made of its words ("COM7" or a path).
  e.link = run.serialMode ? std::string("serial://") + portName : std::string("IP ") + address;
  e.family = laserType;
  e.baud = o.findRate ? 0 : (o.baud != 0 ? o.baud : lms::kSerialBaud);
  e.scannerBaud = o.scannerBaud;
  e.keepScannerBaud = o.keepScannerBaud;
  e.reconnect = o.reconnect;
  e.intervalMs = o.intervalMs;
  e.variant = lms::variantNamed(o.variant);
  e.units = o.units == "cm"   ? lms::Units::Centimetres
            : o.units == "dm" ? lms::Units::Decimetres
                              : lms::Units::Millimetres;
  e.stream = o.stream;
  e.messages = linesTo(run.io.messages);
  run.engine = std::make_shared<lms::Engine>(std::move(e));
  if (const std::error_code ec = run.engine->prepare()) {
    const std::string detail = run.engine->lastErrorDetail();
    std::fprintf(run.io.notices, "lmsview: %s\n", detail.empty() ? ec.message().c_str() : detail.c_str());
    return false;
  }
  auto events = std::make_shared<lms::Subscriber>();
  events->onEvent = [serial = run.serialMode, notices = run.io.notices, &run](const lmsview::Event& event) {
    const std::string line = noticeText(event, serial);
    if (!line.empty()) linesTo(notices)(line);
    for (const Sink& s : run.sinks.received) s.link(event);
  };
  run.engine->subscribe(std::move(events));
  if (run.sinks.received.empty()) return true;
  // Every valid scan received, on the acquisition thread (none is missed
  // when the display skips one).
  auto scans = std::make_shared<lms::Subscriber>();
  scans->onScan = [&run](const lmsview::Scan& scan) {
    for (const Sink& s : run.sinks.received) s.write(scan);
  };
  run.engine->subscribe(std::move(scans));
  return true;
}

// The exit status, and the final lines on standard error, once the threads
// are done (or left to the process's end).
int finalStatus(Run& run, bool displayEnded) {
  const lms::RunOutcome outcome = run.engine->outcome();
  std::error_code outputError;
  {
    std::lock_guard lock(run.mutex);
    outputError = run.outputError;
  }
  std::FILE* notices = run.io.notices;
  if (outputError == std::errc::broken_pipe) {
    // The reader went away (`lmsview ... | head`): end quietly with the status
    // a pipeline expects from a writer that SIGPIPE would have ended.
    return kExitBrokenPipe;
  }
  if (outputError) {
    std::fprintf(notices, "lmsview: cannot write to standard output: %s\n",
                 platform::errorText(outputError).c_str());
    return kExitLinkFailed;
  }
  if (outcome == lms::RunOutcome::ConnectFailed || outcome == lms::RunOutcome::LinkLost) {
    // While the output takes nothing, a line here could hang as the display does.
    if (displayEnded) {
      std::fprintf(notices, "lmsview: %s\n", run.engine->failureText().c_str());
      const std::string hint = openHint(run);
      if (!hint.empty()) std::fprintf(notices, "lmsview: hint: %s\n", hint.c_str());
    }
    return kExitLinkFailed;
  }
  if (const int sig = run.signal.load(std::memory_order_acquire); sig != 0) return 128 + sig;
  // A run that heard only garbled answers read nothing: that is no success.
  if (const lmsview::Stats stats = run.engine->stats(); stats.scans == 0 && stats.rejected_unexpected > 0) {
    std::fprintf(notices,
                 "lmsview: no scan came: every answer was garbled (%llu of them; is the baud rate right? try "
                 "--baud auto)\n",
                 static_cast<unsigned long long>(stats.rejected_unexpected));
    return kExitLinkFailed;
  }
  return kExitStopped;
}

}  // namespace

int runLaser(bool serial, const char* portName, const char* address, const char* laserType,
             const RunOptions& options, const OpenedOutputs& opened) {
  return runLaser(serial, portName, address, laserType, options, opened, RunIo::standard(options));
}

int runLaser(bool serial, const char* portName, const char* address, const char* laserType,
             const RunOptions& options, const OpenedOutputs& opened, const RunIo& io) {
  Run run;
  run.options = options;
  run.io = io;
  run.serialMode = serial;
  run.sinks = makeSinks({options, io.messages, io.terminal, io.out}, opened);
  if (!makeEngine(run, portName, address, laserType)) return kExitLinkFailed;
  for (const Sink& s : run.sinks.received) s.begin();
  // A stop left over from an earlier run in this process does not end this one.
  run.signal.store(0, std::memory_order_release);
  run.wake.clear();

  std::thread display(DataThread, &run);
  std::thread acquisition(AcquisitionThread, &run);

  waitForTheEnd(run);

  run.engine->stop();
  // Every wait from here on is bounded by the grace period: a thread stuck in
  // a write to an output that takes nothing (a reader that does not read,
  // Ctrl-S on a terminal) is not joined but left to the process's end.
  const auto graceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopGraceMs);
  bool finished = false;
  bool displayEnded = false;
  {
    std::unique_lock lock(run.mutex);
    finished = run.changed.wait_until(lock, graceEnd, [&run] { return run.acquisitionDone; });
    run.displayStop = true;
  }
  run.changed.notify_all();
  run.engine->wakeScanReader();
  {
    std::unique_lock lock(run.mutex);
    displayEnded = run.changed.wait_until(lock, graceEnd, [&run] { return run.displayDone; });
  }
  if (displayEnded) display.join();

  const int status = finalStatus(run, displayEnded);
  if (!displayEnded) {
    // The output takes nothing: any further write would hang as the display
    // does, so the process ends here, with the status a stop gives (the key
    // mode is already back; the cursor is not shown, as that is a write too).
    platform::restoreModes();
    std::_Exit(status);
  }
  std::fflush(stdout);
  std::fflush(io.notices);
  if (!finished) {
    // The loop is still inside a bounded wait; it cannot be joined within the
    // grace period, so the process ends around it.
    std::fprintf(io.notices, "lmsview: acquisition did not stop within %d ms\n", kStopGraceMs);
    std::fflush(io.notices);
    platform::restoreModes();
    std::_Exit(status);
  }
  acquisition.join();
  // A recording's summary goes out once no more scans come.
  for (const Sink& s : run.sinks.received) s.end();
  // A script must be able to tell that its recording is not whole, or that
  // no picture was written: the output is named, and the run ends with 1.
  bool shortfall = false;
  for (const std::vector<Sink>* sinks : {&run.sinks.shown, &run.sinks.received}) {
    for (const Sink& s : *sinks) {
      if (const std::string line = s.shortfall(); !line.empty()) {
        std::fprintf(io.notices, "lmsview: %s\n", line.c_str());
        shortfall = true;
      }
    }
  }
  std::fflush(io.notices);
  return shortfall && status == kExitStopped ? kExitLinkFailed : status;
}

}  // namespace app
