#include "app/run_control.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "app/display.h"
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
  // returns, and by the signal handlers (hence a lock-free atomic pointer).
  std::atomic<platform::WakeChannel*> wake{nullptr};
  volatile std::sig_atomic_t signal = 0;

  // The acquisition loop's end, and the display's stop.
  std::mutex mutex;
  std::condition_variable changed;
  bool acquisitionDone = false;
  bool displayStop = false;

  void wakeKeyWait() {
    if (platform::WakeChannel* w = wake.load(std::memory_order_acquire)) w->wake();
  }
  // Sleeps up to `ms`; false when the display has been told to stop.
  bool displayPause(int ms) {
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return displayStop; });
  }
};
static_assert(std::atomic<platform::WakeChannel*>::is_always_lock_free);

Run gRun;

extern "C" void onSignal(int sig) {
  gRun.signal = sig;
  gRun.wakeKeyWait();
}

}  // namespace

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
  std::fputs("DataThread\n", stdout);
  std::fflush(stdout);
  const bool terminal = platform::isTerminal(platform::StdStream::Out);
  std::string table;
  table.reserve(64 * 1024);
  int sample = 0;
  const float* ranges = nullptr;
  const float* angles = nullptr;
  int count = 0;
  // Every scan taken is shown, the first one included; after a stop one last
  // look shows a scan published during the grace period.
  for (bool going = true;;) {
    if (withDriver([&](auto& d) { return d.takeScan(ranges, angles, count); })) {
      formatScanTable(table, sample, ranges, angles, count, terminal);
      std::fwrite(table.data(), 1, table.size(), stdout);
      std::fflush(stdout);
      ++sample;
    }
    if (!going) break;
    going = gRun.displayPause(kDisplayPollMs);
  }
  return 0;
}

int runLaser(bool serial, const char* portName, const char* address, const char* laserType) {
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
  platform::WakeChannel wake;
  gRun.wake.store(&wake, std::memory_order_release);

  std::thread display(DataThread, nullptr);
  std::thread acquisition(AcquisitionThread, nullptr);

  const bool keyboard = platform::isTerminal(platform::StdStream::In);
  platform::KeyWait how = platform::KeyWait::Woken;
  {
    platform::RawKeyMode rawMode;
    // On a terminal the prompt waits at the end of its line, as a console's
    // does; in a file or pipe it gets a line of its own, so tables that follow
    // start on a fresh line.
    std::fputs(platform::isTerminal(platform::StdStream::Out) ? "Press any key to continue . . . "
                                                              : "Press any key to continue . . .\n",
               stdout);
    std::fflush(stdout);
    how = platform::waitForKey(wake);
    rawMode.restore();
    if (keyboard && how == platform::KeyWait::Key) std::fputs("\n", stdout);
  }

  withDriver([](auto& d) { return d.stop(); });
  bool finished = false;
  {
    std::unique_lock lock(gRun.mutex);
    finished = gRun.changed.wait_for(lock, std::chrono::milliseconds(kStopGraceMs),
                                     [] { return gRun.acquisitionDone; });
    gRun.displayStop = true;
  }
  gRun.changed.notify_all();
  display.join();

  int status = kExitStopped;
  const lms::RunOutcome outcome = withDriver([](auto& d) { return d.outcome(); });
  if (outcome == lms::RunOutcome::ConnectFailed || outcome == lms::RunOutcome::LinkLost) {
    std::fprintf(stderr, "lmsview: %s\n", withDriver([](auto& d) { return d.failureText(); }).c_str());
    status = kExitLinkFailed;
  } else if (gRun.signal != 0) {
    status = 128 + gRun.signal;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  if (!finished) {
    // The loop is still inside a bounded wait; it cannot be joined within the
    // grace period, so the process ends around it.
    std::fprintf(stderr, "lmsview: acquisition did not stop within %d ms\n", kStopGraceMs);
    std::fflush(stderr);
    std::_Exit(status);
  }
  acquisition.join();
  gRun.wake.store(nullptr, std::memory_order_release);
  serialDriver = nullptr;
  netDriver = nullptr;
  return status;
}

}  // namespace app
