// SPDX-License-Identifier: Apache-2.0
#include "platform/signals.h"

#include <windows.h>

#include <csignal>

#include "platform/terminal.h"

namespace platform {

namespace {

void (*gHandler)(int) = nullptr;

// Windows allows about five seconds after a console close.
constexpr DWORD kCloseGraceMs = 4500;

// Runs on a thread of its own that the system starts. Ctrl-C and Ctrl-Break
// end the run as SIGINT does; closing the console ends it as SIGTERM does
// (Windows allows the process about five seconds for that).
BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (gHandler) gHandler(SIGINT);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      restoreTerminal();
      if (gHandler) gHandler(SIGTERM);
      // Windows ends the process as soon as this returns: wait here, bounded
      // within the time it allows, while the run ends in order. The process's
      // own exit ends this thread sooner.
      ::Sleep(kCloseGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void installStopSignals(void (*handler)(int)) {
  gHandler = handler;
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
  std::signal(SIGTERM, handler);
}

void ignoreBrokenPipe() {}  // a closed pipe is an error of the write here

const char* stopStatusText() {
  return "130 ended by Ctrl-C or Ctrl-Break, 143 by closing the console";
}

}  // namespace platform
