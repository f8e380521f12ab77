#include "app/run_control.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "app/display.h"
#include "platform/signals.h"
#include "platform/terminal.h"

bool serialMode = false;
SerialLms* serialDriver = nullptr;
NetLms* netDriver = nullptr;

namespace {

// Ends the key wait: written by the acquisition thread when its loop returns,
// and by the signal handlers.
WakeChannel* gWake = nullptr;
volatile std::sig_atomic_t gSignal = 0;

// The acquisition loop's end, and the display's stop.
std::mutex gRunMutex;
std::condition_variable gRunChanged;
bool gAcquisitionDone = false;
bool gDisplayStop = false;

extern "C" void onSignal(int sig) {
  gSignal = sig;
  if (gWake) gWake->wake();
}

bool takeScan(const float*& ranges, const float*& angles, int& count) {
  return serialMode ? serialDriver->takeScan(ranges, angles, count)
                    : netDriver->takeScan(ranges, angles, count);
}

void stopDriver() {
  if (serialMode)
    serialDriver->stop();
  else
    netDriver->stop();
}

RunOutcome driverOutcome() {
  return serialMode ? serialDriver->outcome() : netDriver->outcome();
}
std::string driverFailure() {
  return serialMode ? serialDriver->failureText() : netDriver->failureText();
}

// Sleeps up to `ms`; false when the display has been told to stop.
bool displayPause(int ms) {
  std::unique_lock lock(gRunMutex);
  return !gRunChanged.wait_for(lock, std::chrono::milliseconds(ms), [] { return gDisplayStop; });
}

}  // namespace

void installSignalHandlers() {
  installStopSignals(onSignal);
}

int AcquisitionThread(void*) {
  if (serialMode)
    serialDriver->run();
  else
    netDriver->run();
  {
    std::lock_guard lock(gRunMutex);
    gAcquisitionDone = true;
  }
  gRunChanged.notify_all();
  if (gWake) gWake->wake();
  return 0;
}

int DataThread(void*) {
  std::fputs("DataThread\n", stdout);
  std::fflush(stdout);
  const bool terminal = isTerminal(STDOUT_FILENO);
  std::string table;
  table.reserve(64 * 1024);
  int sample = 0;
  const float* ranges = nullptr;
  const float* angles = nullptr;
  int count = 0;
  // Every scan taken is shown, the first one included; after a stop one last
  // look shows a scan published during the grace period.
  for (bool going = true;;) {
    if (takeScan(ranges, angles, count)) {
      formatScanTable(table, sample, ranges, angles, count, terminal);
      std::fwrite(table.data(), 1, table.size(), stdout);
      std::fflush(stdout);
      ++sample;
    }
    if (!going) break;
    going = displayPause(kDisplayPollMs);
  }
  return 0;
}

int runLaser(bool serial, const char* portName, const char* address, const char* laserType) {
  serialMode = serial;
  std::unique_ptr<SerialLms> serialOwner;
  std::unique_ptr<NetLms> netOwner;
  if (serialMode) {
    serialOwner = std::make_unique<SerialLms>(portName, laserType);
    serialDriver = serialOwner.get();
  } else {
    netOwner = std::make_unique<NetLms>(address, kScannerPort, laserType);
    netDriver = netOwner.get();
  }
  WakeChannel wake;
  gWake = &wake;

  std::thread display(DataThread, nullptr);
  std::thread acquisition(AcquisitionThread, nullptr);

  const bool keyboard = isTerminal(STDIN_FILENO);
  KeyWait how = KeyWait::Woken;
  {
    RawKeyMode rawMode(STDIN_FILENO);
    // On a terminal the prompt waits at the end of its line, as a console's
    // does; in a file or pipe it gets a line of its own, so tables that follow
    // start on a fresh line.
    std::fputs(
        isTerminal(STDOUT_FILENO) ? "Press any key to continue . . . " : "Press any key to continue . . .\n",
        stdout);
    std::fflush(stdout);
    how = waitForKey(STDIN_FILENO, wake);
    rawMode.restore();
    if (keyboard && how == KeyWait::Key) std::fputs("\n", stdout);
  }

  stopDriver();
  bool finished = false;
  {
    std::unique_lock lock(gRunMutex);
    finished =
        gRunChanged.wait_for(lock, std::chrono::milliseconds(kStopGraceMs), [] { return gAcquisitionDone; });
    gDisplayStop = true;
  }
  gRunChanged.notify_all();
  display.join();

  int status = kExitStopped;
  const RunOutcome outcome = driverOutcome();
  if (outcome == RunOutcome::ConnectFailed || outcome == RunOutcome::LinkLost) {
    std::fprintf(stderr, "lmsview: %s\n", driverFailure().c_str());
    status = kExitLinkFailed;
  } else if (gSignal != 0) {
    status = 128 + gSignal;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  if (!finished) {
    // The loop is still inside a bounded wait; it cannot be joined within the
    // grace period, so the process ends around it.
    std::fprintf(stderr, "lmsview: acquisition did not stop within %d ms\n", kStopGraceMs);
    std::fflush(stderr);
    ::_exit(status);
  }
  acquisition.join();
  gWake = nullptr;
  return status;
}
