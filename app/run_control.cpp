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
#include "lmsview/robot.h"
#include "platform/clock.h"
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

// One scanner of a run: its engine and thread, and what the robot's merge
// and health keep of it.
struct Station {
  std::string name;     // "" for the three link words
  std::string frameId;  // the frame its scans are in
  bool serial = false;
  lmsview::Pose pose;
  lmsview::ScanFilter filter;
  lms::EngineOptions engineOptions;  // what makeEngine makes the engine from
  std::shared_ptr<lms::Engine> engine;
  std::thread thread;
  bool done = false;  // its acquisition loop returned (run.mutex)

  lmsview::Scan shown;  // the display thread's: the newest scan as the filter leaves it

  // Under run.robotMutex: the newest scan received (filtered), when it
  // came, how far apart its scans come, and the health counts.
  lmsview::Scan received;
  lmsview::Scan latest;
  bool hasLatest = false;
  std::chrono::steady_clock::time_point lastAt{};
  double periodS = 0;  // between its scans, averaged
  std::uint64_t scansAtTick = 0, rejectedAtTick = 0;
  std::size_t receivedPoints = 0;  // the scanner's own count, before any crop
  lms::DiagnosticLevel level = lms::DiagnosticLevel::Ok;
  bool levelSaid = false;
};

// What the threads of one run share.
struct Run {
  // The run's scanners: made before the threads start and kept until they
  // are done (one for the three link words).
  std::vector<std::unique_ptr<Station>> stations;
  bool robotMode = false;
  bool labels = false;  // several stations: each line and table says whose it is
  RobotLayout layout;

  // Set before the threads start; read-only afterwards.
  RunOptions options;
  RunIo io;
  Sinks sinks;

  // The wake-up and the stop signal, shared with the signal handlers.
  platform::WakeChannel& wake = stopState().wake;
  std::atomic<int>& signal = stopState().signal;

  // The acquisition loops' end, the display's stop and end.
  std::mutex mutex;
  std::condition_variable changed;
  std::condition_variable stopping;  // the display's stop only: waits for it are not woken by each scan
  bool acquisitionDone = false;      // every station's loop returned
  bool displayStop = false;
  bool displayDone = false;
  std::error_code outputError;       // standard output failed: the run ends
  std::uint64_t scansPublished = 0;  // several stations: the display waits for this to move

  // Several stations: their scans reach the outputs of scans received one at
  // a time, and the merge and the health read what each station keeps.
  std::mutex robotMutex;
  lmsview::Merged merged;
  std::vector<lmsview::PlacedScan> placed;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

  Station& first() { return *stations.front(); }
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

namespace {

// A station's loop is done; when every one is, the run is woken.
void stationDone(Run& run, Station& station) {
  bool all = false;
  {
    std::lock_guard lock(run.mutex);
    station.done = true;
    all = std::all_of(run.stations.begin(), run.stations.end(), [](const auto& s) { return s->done; });
    run.acquisitionDone = all;
  }
  run.changed.notify_all();
  if (all) run.wake.wake();
}

}  // namespace

int AcquisitionThread(void* parameter) {
  // The run's first station; the others run the same loop on threads of their own.
  Run& run = runOf(parameter);
  run.first().engine->run();
  stationDone(run, run.first());
  return 0;
}

namespace {

// Waits until some station may have a new scan, or the display is stopped.
void waitForScans(Run& run, std::uint64_t* seen) {
  if (run.stations.size() == 1) {
    run.first().engine->waitForScan();
    return;
  }
  std::unique_lock lock(run.mutex);
  run.changed.wait(lock, [&] { return run.scansPublished != *seen || run.displayStop; });
  *seen = run.scansPublished;
}

}  // namespace

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
  std::uint64_t seen = 0;
  bool ended = false;
  for (bool going = true; !ended;) {
    for (std::size_t k = 0; k < run.stations.size() && !ended; ++k) {
      Station& st = *run.stations[k];
      const lmsview::Scan* scan = st.engine->takeScan();
      if (scan == nullptr) continue;
      const lmsview::Scan* shown = scan;
      if (st.filter.active()) {
        lmsview::filter_scan(*scan, st.filter, &st.shown);
        shown = &st.shown;
      }
      std::error_code failed;
      for (const Sink& s : run.sinks.shown)
        if (!failed) failed = s.write(*shown, {k, st.frameId, scan});
      if (failed) {
        run.outputFailed(failed);
        ended = true;
        break;
      }
      ++sample;
      if (sample == count) {
        // Enough shown: end the run, and show nothing more.
        run.wake.wake();
        std::unique_lock lock(run.mutex);
        run.stopping.wait(lock, [&run] { return run.displayStop; });
        ended = true;
        break;
      }
      if (limited) {
        std::unique_lock lock(run.mutex);
        run.stopping.wait_for(lock, std::chrono::milliseconds(kPeopleRedrawMs),
                              [&run] { return run.displayStop; });
      }
    }
    if (ended || !going) break;
    waitForScans(run, &seen);
    going = !run.displayStopped();
  }
  for (const Sink& s : run.sinks.shown) s.end();
  displayEnded(run);
  return 0;
}

namespace {

// What to do about a link that did not open, from what the system says now.
std::string openHint(const Station& st) {
  const std::error_code ec = st.engine->failureError();
  if (!ec) return "";
  if (!st.serial) return networkOpenHint(ec);
  const std::string device = st.engine->placeText();
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

// "lmsview: " before a line, and the station's name in a robot's run.
std::string said(const Run& run, const Station& st, const std::string& line) {
  return "lmsview: " + (run.labels ? st.name + ": " : std::string()) + line;
}

// The scans a robot's stations deliver, on their acquisition threads, one at
// a time: filtered, handed to the outputs of scans received, and at each
// scan of the first station merged with the newest of the others (those no
// older than their own period and 5 ms).
void robotReceived(Run& run, std::size_t k, const lmsview::Scan& scan) {
  Station& st = *run.stations[k];
  std::lock_guard lock(run.robotMutex);
  const lmsview::Scan* kept = &scan;
  if (st.filter.active()) {
    lmsview::filter_scan(scan, st.filter, &st.received);
    kept = &st.received;
  }
  for (const Sink& s : run.sinks.received) s.write(*kept, {k, st.frameId, &scan});
  const auto now = std::chrono::steady_clock::now();
  if (st.hasLatest) {
    const double gap = std::chrono::duration<double>(now - st.lastAt).count();
    st.periodS = st.periodS == 0 ? gap : 0.8 * st.periodS + 0.2 * gap;
  }
  st.latest = *kept;
  st.receivedPoints = scan.geometry.count;
  st.hasLatest = true;
  st.lastAt = now;
  if (k == 0) {
    run.placed.clear();
    for (const auto& other : run.stations) {
      const bool fresh = other.get() == &st || (other->hasLatest && other->periodS > 0 &&
                                                std::chrono::duration<double>(now - other->lastAt).count() <=
                                                    other->periodS + 0.005);
      if (fresh) run.placed.push_back({&other->latest, other->pose});
    }
    lmsview::merge(run.placed, &run.merged);
    for (const Sink& s : run.sinks.received) s.merged(run.merged);
  }
  {
    std::lock_guard wake(run.mutex);
    ++run.scansPublished;
  }
  run.changed.notify_all();
}

// Makes a station's engine: its messages to the run's message stream (its
// name before them in a robot's run), its notices to standard error, every
// scan received and the link's state to the outputs of scans received.
// False (with the reason on standard error) when the link cannot be made.
bool makeEngine(Run& run, std::size_t k) {
  Station& st = *run.stations[k];
  lms::EngineOptions e = st.engineOptions;
  if (run.labels) {
    e.messages = [out = linesTo(run.io.messages), prefix = st.name + ": "](std::string_view line) {
      out(prefix + std::string(line));
    };
  } else {
    e.messages = linesTo(run.io.messages);
  }
  st.engine = std::make_shared<lms::Engine>(std::move(e));
  if (const std::error_code ec = st.engine->prepare()) {
    const std::string detail = st.engine->lastErrorDetail();
    std::fprintf(run.io.notices, "%s\n", said(run, st, detail.empty() ? ec.message() : detail).c_str());
    return false;
  }
  auto events = std::make_shared<lms::Subscriber>();
  events->onEvent = [&run, &st](const lmsview::Event& event) {
    const std::string line = noticeText(event, st.serial);
    if (!line.empty())
      linesTo(run.io.notices)(run.labels ? "lmsview: " + st.name + ": " + line.substr(9) : line);
    for (const Sink& s : run.sinks.received) s.link(event);
  };
  st.engine->subscribe(std::move(events));
  if (run.robotMode) {
    auto scans = std::make_shared<lms::Subscriber>();
    scans->onScan = [&run, k](const lmsview::Scan& scan) { robotReceived(run, k, scan); };
    st.engine->subscribe(std::move(scans));
    return true;
  }
  if (run.sinks.received.empty()) return true;
  // Every valid scan received, on the acquisition thread (none is missed
  // when the display skips one).
  auto scans = std::make_shared<lms::Subscriber>();
  scans->onScan = [&run, &st](const lmsview::Scan& scan) {
    for (const Sink& s : run.sinks.received) s.write(scan, {0, st.frameId, &scan});
  };
  st.engine->subscribe(std::move(scans));
  return true;
}

// The exit status, and the final lines on standard error, once the threads
// are done (or left to the process's end).
int finalStatus(Run& run, bool displayEnded) {
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
  bool failed = false;
  for (const auto& station : run.stations) {
    const Station& st = *station;
    const lms::RunOutcome outcome = st.engine->outcome();
    if (outcome != lms::RunOutcome::ConnectFailed && outcome != lms::RunOutcome::LinkLost) continue;
    failed = true;
    // While the output takes nothing, a line here could hang as the display does.
    if (displayEnded) {
      std::fprintf(notices, "%s\n", said(run, st, st.engine->failureText()).c_str());
      const std::string hint = openHint(st);
      if (!hint.empty()) std::fprintf(notices, "%s\n", said(run, st, "hint: " + hint).c_str());
    }
  }
  if (failed) return kExitLinkFailed;
  if (const int sig = run.signal.load(std::memory_order_acquire); sig != 0) return 128 + sig;
  // A run that heard only garbled answers read nothing: that is no success.
  for (const auto& station : run.stations) {
    const Station& st = *station;
    if (const lmsview::Stats stats = st.engine->stats(); stats.scans == 0 && stats.rejected_unexpected > 0) {
      std::fprintf(
          notices, "%s\n",
          said(run, st,
               "no scan came: every answer was garbled (" + std::to_string(stats.rejected_unexpected) +
                   " of them; is the baud rate right? try --baud auto)")
              .c_str());
      return kExitLinkFailed;
    }
  }
  return kExitStopped;
}

// A robot's health, once a second until the run stops: one status a
// station to the outputs, and a line on standard error when a station's
// level changes.
void watchHealth(Run& run) {
  using Level = lms::DiagnosticLevel;
  auto tick = std::chrono::steady_clock::now();
  for (;;) {
    tick += std::chrono::seconds(1);
    {
      std::unique_lock lock(run.mutex);
      if (run.stopping.wait_until(lock, tick, [&run] { return run.displayStop; })) return;
    }
    Health h;
    h.stampNs = platform::wallClockNanos();
    // A link given up on for good is an error; one being opened again is stale.
    std::vector<bool> ended;
    {
      std::lock_guard lock(run.mutex);
      for (const auto& st : run.stations) ended.push_back(st->done);
    }
    std::lock_guard lock(run.robotMutex);
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t k = 0; k < run.stations.size(); ++k) {
      Station& st = *run.stations[k];
      const lms::EngineOptions& e = st.engineOptions;
      const lmsview::Stats stats = st.engine->stats();
      const std::uint64_t rejected = stats.rejected_no_reply + stats.rejected_not_a_reply +
                                     stats.rejected_too_short + stats.rejected_checksum +
                                     stats.rejected_refused + stats.rejected_unanswered +
                                     stats.rejected_unexpected;
      const double perSecond = static_cast<double>(stats.scans - st.scansAtTick);
      const bool newRejects = rejected > st.rejectedAtTick;
      st.scansAtTick = stats.scans;
      st.rejectedAtTick = rejected;
      // What the link can give: the mirror's rate streaming, else one scan
      // a cycle (the pause and the reply's time on a serial line).
      const std::size_t points = st.hasLatest ? st.receivedPoints : 361;
      const int turns = points == 181 || points == 101 ? 1 : points == 401 ? 4 : 2;
      const double lineS = st.serial ? 742.0 * 10 / std::max(e.baud, 9600) : 0.005;
      const double expected = e.stream ? 75.0 / turns : 1.0 / (e.intervalMs / 1000.0 + lineS);
      const double period = std::max(1.0 / expected, st.periodS);
      const double age =
          std::chrono::duration<double>(now - (st.hasLatest ? st.lastAt : run.started)).count();
      const lms::RunOutcome outcome = st.engine->outcome();
      lms::DiagnosticStatus d;
      d.name = "lmsview: " + st.name;
      d.hardwareId = st.engine->placeText();
      char text[96];
      if (ended[k] && (outcome == lms::RunOutcome::ConnectFailed || outcome == lms::RunOutcome::LinkLost)) {
        d.level = Level::Error;
        d.message = st.engine->failureText();
      } else if (age > 3 * period) {
        d.level = Level::Stale;
        std::snprintf(text, sizeof text, "stale: no scan for %.1f s", age);
        d.message = text;
      } else if ((perSecond < 0.5 * expected && expected >= 2) || newRejects) {
        d.level = Level::Warn;
        std::snprintf(text, sizeof text, "%.1f scans/s of %.1f expected%s", perSecond, expected,
                      newRejects ? ", replies rejected" : "");
        d.message = text;
      } else {
        d.level = Level::Ok;
        std::snprintf(text, sizeof text, "%.1f scans/s", perSecond);
        d.message = text;
      }
      const auto value = [&d](const char* key, double v) {
        char number[32];
        std::snprintf(number, sizeof number, "%.3g", v);
        d.values.emplace_back(key, number);
      };
      value("scans_per_second", perSecond);
      value("expected_per_second", expected);
      d.values.emplace_back("rejected", std::to_string(rejected));
      d.values.emplace_back("reconnects", std::to_string(stats.reconnects));
      value("last_scan_age_s", st.hasLatest ? age : -1);
      d.values.emplace_back("link", d.hardwareId);
      d.values.emplace_back("baud", st.serial ? std::to_string(e.baud) : "");
      const lms::Variant* variant = lms::variantOf(static_cast<int>(st.receivedPoints));
      d.values.emplace_back("variant", variant ? variant->name : "");
      d.values.emplace_back("unit", st.hasLatest ? lms::unitsName(lms::unitsOf(st.latest.geometry)) : "");
      if (d.level != st.level || !st.levelSaid) {
        // The first status is said only when it is not OK.
        if (st.levelSaid || d.level != Level::Ok) linesTo(run.io.notices)(said(run, st, d.message) + "\n");
        st.level = d.level;
        st.levelSaid = true;
      }
      h.statuses.push_back(std::move(d));
    }
    for (const Sink& s : run.sinks.received) s.health(h);
  }
}

// The run's stations, made and started: the common part of the three link
// words and a robot's config.
int runStations(Run& run, const OpenedOutputs& opened) {
  run.sinks = makeSinks(
      {run.options, run.io.messages, run.io.terminal, run.io.out, run.robotMode ? &run.layout : nullptr},
      opened);
  for (std::size_t k = 0; k < run.stations.size(); ++k)
    if (!makeEngine(run, k)) return kExitLinkFailed;
  for (const Sink& s : run.sinks.received) s.begin();

  std::thread display(DataThread, &run);
  run.first().thread = std::thread(AcquisitionThread, &run);
  for (std::size_t k = 1; k < run.stations.size(); ++k) {
    Station* st = run.stations[k].get();
    st->thread = std::thread([&run, st] {
      st->engine->run();
      stationDone(run, *st);
    });
  }
  std::thread health;
  if (run.robotMode) health = std::thread([&run] { watchHealth(run); });

  waitForTheEnd(run);

  for (const auto& st : run.stations) st->engine->stop();
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
  run.stopping.notify_all();
  for (const auto& st : run.stations) st->engine->wakeScanReader();
  {
    std::unique_lock lock(run.mutex);
    displayEnded = run.changed.wait_until(lock, graceEnd, [&run] { return run.displayDone; });
  }
  if (displayEnded) display.join();
  if (health.joinable()) health.join();

  const int status = finalStatus(run, displayEnded);
  if (!displayEnded) {
    // The output takes nothing: any further write would hang as the display
    // does, so the process ends here, with the status a stop gives (the key
    // mode is already back; the cursor is not shown, as that is a write too).
    platform::restoreModes();
    std::_Exit(status);
  }
  std::fflush(stdout);
  std::fflush(run.io.notices);
  if (!finished) {
    // A loop is still inside a bounded wait; it cannot be joined within the
    // grace period, so the process ends around it.
    std::fprintf(run.io.notices, "lmsview: acquisition did not stop within %d ms\n", kStopGraceMs);
    std::fflush(run.io.notices);
    platform::restoreModes();
    std::_Exit(status);
  }
  for (const auto& st : run.stations) st->thread.join();
  // The stop has ended this run, and every thread that could wake it is
  // gone: a later run in this process starts without it. (A stop that comes
  // while a run starts is kept: it ends that run.)
  run.signal.store(0, std::memory_order_release);
  run.wake.clear();
  // A recording's summary goes out once no more scans come.
  for (const Sink& s : run.sinks.received) s.end();
  // A script must be able to tell that its recording is not whole, or that
  // no picture was written: the output is named, and the run ends with 1.
  bool shortfall = false;
  for (const std::vector<Sink>* sinks : {&run.sinks.shown, &run.sinks.received}) {
    for (const Sink& s : *sinks) {
      if (const std::string line = s.shortfall(); !line.empty()) {
        std::fprintf(run.io.notices, "lmsview: %s\n", line.c_str());
        shortfall = true;
      }
    }
  }
  std::fflush(run.io.notices);
  return shortfall && status == kExitStopped ? kExitLinkFailed : status;
}

// The engine's options for one scanner, as the three link words or a
// robot's config give them.
lms::EngineOptions engineOptionsOf(const ScannerConfig& c) {
  lms::EngineOptions e;
  e.link = c.link;
  e.family = c.family;
  e.baud = c.findRate ? 0 : (c.baud != 0 ? c.baud : lms::kSerialBaud);
  e.scannerBaud = c.scannerBaud;
  e.keepScannerBaud = c.keepScannerBaud;
  e.reconnect = c.reconnect;
  e.intervalMs = c.intervalMs;
  e.variant = lms::variantNamed(c.variant);
  e.units = c.units == "cm"   ? lms::Units::Centimetres
            : c.units == "dm" ? lms::Units::Decimetres
                              : lms::Units::Millimetres;
  e.stream = c.stream;
  return e;
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
  auto st = std::make_unique<Station>();
  st->serial = serial;
  st->frameId = options.frameId;
  ScannerConfig c;
  // The port is the device the command line made of its words ("COM7" or a path).
  c.link = serial ? std::string("serial://") + portName : std::string("IP ") + address;
  c.family = laserType;
  c.baud = options.baud;
  c.findRate = options.findRate;
  c.scannerBaud = options.scannerBaud;
  c.keepScannerBaud = options.keepScannerBaud;
  c.variant = options.variant;
  c.units = options.units;
  c.intervalMs = options.intervalMs;
  c.reconnect = options.reconnect;
  c.stream = options.stream;
  st->engineOptions = engineOptionsOf(c);
  run.stations.push_back(std::move(st));
  return runStations(run, opened);
}

RobotLayout robotLayout(const RobotConfig& config) {
  RobotLayout layout;
  layout.baseFrame = config.baseFrame;
  for (const ScannerConfig& c : config.scanners)
    layout.scanners.push_back({c.name, c.name + "_laser", c.link, c.pose});
  return layout;
}

int runRobot(const RobotConfig& config, const RunOptions& options, const OpenedOutputs& opened) {
  return runRobot(config, options, opened, RunIo::standard(options));
}

int runRobot(const RobotConfig& config, const RunOptions& options, const OpenedOutputs& opened,
             const RunIo& io) {
  Run run;
  run.options = options;
  run.io = io;
  run.robotMode = true;
  run.labels = config.scanners.size() > 1;
  run.layout = robotLayout(config);
  for (const ScannerConfig& c : config.scanners) {
    auto st = std::make_unique<Station>();
    st->name = c.name;
    st->frameId = c.name + "_laser";
    st->serial = c.serial;
    st->pose = c.pose;
    st->filter = c.filter;
    st->engineOptions = engineOptionsOf(c);
    run.stations.push_back(std::move(st));
  }
  return runStations(run, opened);
}

}  // namespace app
