#include "app/run_control.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "app/display.h"
#include "app/hints.h"
#include "app/notices.h"
#include "app/plot.h"
#include "app/recorder.h"
#include "app/scan_formats.h"
#include "app/svg.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/output.h"
#include "platform/signals.h"
#include "platform/terminal.h"

namespace app {

bool serialMode = false;
lms::SerialLms* serialDriver = nullptr;
lms::NetLms* netDriver = nullptr;

namespace {

// The one place that picks the active driver, by serialMode as the run state
// says (never by the pointers).
template <class F>
decltype(auto) withDriver(F&& f) {
  return serialMode ? f(*serialDriver) : f(*netDriver);
}

// What the threads of one run share besides the run state.
struct Run {
  // Ends the key wait: woken by the acquisition thread when its loop
  // returns, by the display when the count is reached, and by the signal
  // handlers (hence a lock-free atomic pointer).
  std::atomic<platform::WakeChannel*> wake{nullptr};
  // The stop signal's number. Windows runs its console handler on a thread of
  // its own, so this is a lock-free atomic rather than a sig_atomic_t.
  std::atomic<int> signal{0};
  static_assert(std::atomic<int>::is_always_lock_free);

  // Set by runLaser before the threads start; read-only afterwards.
  RunOptions options;
  std::FILE* messages = stdout;
  Recorder* recorder = nullptr;

  // The acquisition loop's end, and the display's stop.
  std::mutex mutex;
  std::condition_variable changed;
  bool acquisitionDone = false;
  bool displayStop = false;
  bool displayDone = false;
  std::error_code outputError;  // standard output failed: the run ends

  void wakeKeyWait() {
    if (platform::WakeChannel* w = wake.load(std::memory_order_acquire)) w->wake();
  }
  bool displayStopped() {
    std::lock_guard lock(mutex);
    return displayStop;
  }
  void outputFailed(std::error_code ec) {
    {
      std::lock_guard lock(mutex);
      outputError = ec;
    }
    wakeKeyWait();
  }
};
static_assert(std::atomic<platform::WakeChannel*>::is_always_lock_free);

Run gRun;

extern "C" void onSignal(int sig) {
  gRun.signal.store(sig, std::memory_order_release);
  gRun.wakeKeyWait();
}

// Formats one scan taken from the slot in the run's format, and its SVG
// picture when asked for.
class ScanWriter {
 public:
  ScanWriter()
      : terminal_(platform::isTerminal(platform::StdStream::Out)),
        svg_(gRun.options.svgPath.empty() ? nullptr : std::make_unique<SvgFile>(gRun.options.svgPath)) {
    text_.reserve(64 * 1024);
    // A live picture redraws in place: the cursor would only flicker over it.
    if (gRun.options.format == OutputFormat::Plot && terminal_) {
      platform::useUtf8Output(true);
      platform::hideCursor(true);
    }
  }
  ~ScanWriter() {
    if (gRun.options.format == OutputFormat::Plot && terminal_) {
      platform::hideCursor(false);
      platform::useUtf8Output(false);
    }
  }
  ScanWriter(const ScanWriter&) = delete;
  ScanWriter& operator=(const ScanWriter&) = delete;

  // False when standard output failed (the run is then ending).
  bool show(const lms::ScanView& view, int sample) {
    const RunOptions& o = gRun.options;
    const ShownScan scan{sample, view.receivedNs, view.ranges, view.words, view.count};
    switch (o.format) {
      case OutputFormat::Table:
        formatScanTable(text_, sample, view.ranges, view.angles, view.count, terminal_);
        break;
      case OutputFormat::Csv:
        if (sample == 0) {
          formatCsvHeader(header_, view.count);
          text_ = header_;
          formatCsvRow(row_, scan);
          text_ += row_;
          break;
        }
        formatCsvRow(text_, scan);
        break;
      case OutputFormat::Jsonl:
        formatJsonLine(text_, scan, o.frameId, false);
        break;
      case OutputFormat::Plot:
        plotFrame(scan);
        break;
    }
    // One write for the whole table or line, past stdio, so a reader of a
    // pipe never gets half of it from one read of ours.
    std::fflush(stdout);
    if (const std::error_code ec = platform::writeStdout(text_)) {
      gRun.outputFailed(ec);
      return false;
    }
    if (svg_ && svg_->active()) svg_->write(scanSvg(scan, o.maxRangeM), gRun.messages);
    return true;
  }

 private:
  // The terminal's size at each frame, so a resized window is followed; in
  // a file or pipe frames follow each other with no escape codes.
  void plotFrame(const ShownScan& scan) {
    PlotView view;
    view.maxRangeM = gRun.options.maxRangeM;
    if (!platform::terminalSize(platform::StdStream::Out, &view.cols, &view.rows)) {
      view.cols = 80;
      view.rows = 24;
    }
    view.scansPerSecond = rate_.add(scan.stampNs);
    formatPlotFrame(frame_, scan, view);
    if (terminal_) {
      // Home, the frame, then clear what an older, larger frame left below.
      text_ = "\x1b[H";
      for (std::size_t at = 0; at < frame_.size();) {
        const std::size_t end = frame_.find('\n', at);
        text_.append(frame_, at, end - at);
        text_ += "\x1b[K\n";
        at = end + 1;
      }
      text_ += "\x1b[J";
    } else {
      text_ = frame_;
      text_ += '\n';
    }
  }

  bool terminal_;
  std::unique_ptr<SvgFile> svg_;
  std::string text_;
  std::string header_;
  std::string row_;
  std::string frame_;
  ScanRate rate_;
};

// --record: every valid scan, on the acquisition thread as it is received, so
// none is missed when the display skips one.
class ScanRecorder {
 public:
  void operator()(const lms::ScanView& view) {
    Recorder* recorder = gRun.recorder;
    if (recorder == nullptr || !recorder->active()) return;
    formatJsonLine(line_, {seq_++, view.receivedNs, view.ranges, view.words, view.count},
                   gRun.options.frameId, true);
    recorder->write(line_, gRun.messages);
  }

 private:
  int seq_ = 0;
  std::string line_;
};

}  // namespace

std::FILE* messageStream(const RunOptions& options) {
  return options.format == OutputFormat::Table ? stdout : stderr;
}

void installSignalHandlers() {
  platform::installStopSignals(onSignal);
}

int AcquisitionThread(void*) {
  withDriver([](auto& d) { return d.run(); });
  {
    std::lock_guard lock(gRun.mutex);
    gRun.acquisitionDone = true;
  }
  gRun.changed.notify_all();
  gRun.wakeKeyWait();
  return 0;
}

int DataThread(void*) {
  std::fputs("DataThread\n", gRun.messages);
  std::fflush(gRun.messages);
  ScanWriter writer;
  int sample = 0;
  lms::ScanView view;
  // The display sleeps until a scan is published (or it is told to stop), so
  // a scan is shown as soon as it is whole and none is skipped while the
  // output keeps up. Every scan taken is shown, the first one included;
  // after a stop one last look shows a scan published during the grace period.
  const int count = gRun.options.count;
  for (bool going = true;;) {
    if (withDriver([&](auto& d) { return d.takeScan(view); })) {
      if (!writer.show(view, sample)) break;
      ++sample;
      if (sample == count) {
        // Enough shown: end the run, and show nothing more.
        gRun.wakeKeyWait();
        std::unique_lock lock(gRun.mutex);
        gRun.changed.wait(lock, [] { return gRun.displayStop; });
        break;
      }
    }
    if (!going) break;
    withDriver([](auto& d) { return d.waitForScan(); });
    going = !gRun.displayStopped();
  }
  {
    std::lock_guard lock(gRun.mutex);
    gRun.displayDone = true;
  }
  gRun.changed.notify_all();
  return 0;
}

namespace {

// What to do about a link that did not open, from what the system says now.
std::string openHint() {
  const std::error_code ec = withDriver([](auto& d) { return d.failureError(); });
  if (!ec) return "";
  if (!serialMode) return networkOpenHint(ec);
  const std::string device = serialDriver->placeText();
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
void waitForTheEnd(const platform::WakeChannel& wake) {
  const RunOptions& o = gRun.options;
  const bool bounded = o.count > 0 || o.seconds > 0;
  const bool terminal = platform::isTerminal(platform::StdStream::In);
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
  bool watching = terminal || !bounded;
  platform::RawKeyMode rawMode;
  // The prompt has a line of its own, so the messages that follow (from other
  // threads, at any moment) and tables in a file start on a fresh line.
  std::fputs("Press any key to continue . . .\n", gRun.messages);
  std::fflush(gRun.messages);
  for (;;) {
    if (o.seconds > 0 && std::chrono::steady_clock::now() >= endAt) break;
    if (!watching || (terminal && !platform::inForeground())) {
      rawMode.restore();
      if (wake.waitFor(slice(terminal && watching ? 1000 : -1))) break;
      continue;
    }
    if (terminal) rawMode.engage();
    const platform::KeyWait how = platform::waitForKey(wake, slice(terminal ? 1000 : -1));
    if (how == platform::KeyWait::Key || how == platform::KeyWait::Woken) break;
    if (how == platform::KeyWait::Error) watching = false;
    if (how == platform::KeyWait::EndOfInput) {
      if (!bounded && !o.reconnect) break;
      watching = false;
    }
  }
  rawMode.restore();
}

}  // namespace

int runLaser(bool serial, const char* portName, const char* address, const char* laserType,
             const RunOptions& options, Recorder* recorder) {
  gRun.options = options;
  gRun.messages = messageStream(options);
  gRun.recorder = recorder;
  serialMode = serial;
  std::unique_ptr<lms::SerialLms> serialOwner;
  std::unique_ptr<lms::NetLms> netOwner;
  if (serialMode) {
    serialOwner = std::make_unique<lms::SerialLms>(portName, laserType);
    serialDriver = serialOwner.get();
  } else {
    netOwner = std::make_unique<lms::NetLms>(address, lms::kScannerPort, laserType);
    netDriver = netOwner.get();
  }
  withDriver([&](auto& d) {
    d.setOutput(linesTo(gRun.messages));
    d.setEvents([serial = d.serialLink()](const lms::DriverEvent& e) {
      const std::string line = noticeText(e, serial);
      if (!line.empty()) linesTo(stderr)(line);
    });
    d.setInterval(options.intervalMs);
    d.setReconnect({.enabled = options.reconnect});
    if (options.baud != 0) d.setBaud(options.baud);
    d.setFindRate(options.findRate);
    if (gRun.recorder != nullptr) d.setScanObserver(ScanRecorder());
    return 0;
  });
  platform::WakeChannel wake;
  gRun.wake.store(&wake, std::memory_order_release);

  std::thread display(DataThread, nullptr);
  std::thread acquisition(AcquisitionThread, nullptr);

  waitForTheEnd(wake);

  withDriver([](auto& d) { return d.stop(); });
  // Every wait from here on is bounded by the grace period: a thread stuck in
  // a write to an output that takes nothing (a reader that does not read,
  // Ctrl-S on a terminal) is not joined but left to the process's end.
  const auto graceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopGraceMs);
  bool finished = false;
  bool displayEnded = false;
  {
    std::unique_lock lock(gRun.mutex);
    finished = gRun.changed.wait_until(lock, graceEnd, [] { return gRun.acquisitionDone; });
    gRun.displayStop = true;
  }
  gRun.changed.notify_all();
  withDriver([](auto& d) {
    d.wakeScanReader();
    return 0;
  });
  {
    std::unique_lock lock(gRun.mutex);
    displayEnded = gRun.changed.wait_until(lock, graceEnd, [] { return gRun.displayDone; });
  }
  if (displayEnded) display.join();

  int status = kExitStopped;
  const lms::RunOutcome outcome = withDriver([](auto& d) { return d.outcome(); });
  std::error_code outputError;
  {
    std::lock_guard lock(gRun.mutex);
    outputError = gRun.outputError;
  }
  if (outputError == std::errc::broken_pipe) {
    // The reader went away (`lmsview ... | head`): end quietly with the status
    // a pipeline expects from a writer that SIGPIPE would have ended.
    status = kExitBrokenPipe;
  } else if (outputError) {
    std::fprintf(stderr, "lmsview: cannot write to standard output: %s\n",
                 platform::errorText(outputError).c_str());
    status = kExitLinkFailed;
  } else if (outcome == lms::RunOutcome::ConnectFailed || outcome == lms::RunOutcome::LinkLost) {
    if (displayEnded) {
      std::fprintf(stderr, "lmsview: %s\n", withDriver([](auto& d) { return d.failureText(); }).c_str());
      const std::string hint = openHint();
      if (!hint.empty()) std::fprintf(stderr, "lmsview: hint: %s\n", hint.c_str());
    }
    status = kExitLinkFailed;
  } else if (const int sig = gRun.signal.load(std::memory_order_acquire); sig != 0) {
    status = 128 + sig;
  }
  if (!displayEnded) {
    // The output takes nothing: any further write would hang as the display
    // does, so the process ends here, with the status a stop gives (the key
    // mode is already back; the cursor is not shown, as that is a write too).
    platform::restoreModes();
    std::_Exit(status);
  }
  std::fflush(stdout);
  std::fflush(stderr);
  if (!finished) {
    // The loop is still inside a bounded wait; it cannot be joined within the
    // grace period, so the process ends around it.
    std::fprintf(stderr, "lmsview: acquisition did not stop within %d ms\n", kStopGraceMs);
    std::fflush(stderr);
    platform::restoreModes();
    std::_Exit(status);
  }
  acquisition.join();
  gRun.wake.store(nullptr, std::memory_order_release);
  serialDriver = nullptr;
  netDriver = nullptr;
  return status;
}

}  // namespace app
