// SPDX-License-Identifier: Apache-2.0
#include "platform/signals.h"

#include <signal.h>

#include <cerrno>

#include "platform/terminal.h"

namespace platform {

namespace {

// Signals whose default action ends the process and that come from outside.
// Faults (SIGSEGV, SIGBUS ...) are left to their default and to the sanitizers.
constexpr int kEndingSignals[] = {SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,  SIGVTALRM,
                                  SIGPROF, SIGXCPU, SIGIO,   SIGPWR,  SIGSTKFLT};

void setHandler(int sig, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
}

extern "C" void onEndingSignal(int sig) {
  const int saved = errno;
  restoreTerminal();
  // Ends the process as the signal itself would, once this handler returns
  // and the signal is unblocked.
  setHandler(sig, SIG_DFL);
  raise(sig);
  errno = saved;
}

extern "C" void onStop(int) {
  const int saved = errno;
  restoreTerminal();
  setHandler(SIGTSTP, SIG_DFL);
  raise(SIGTSTP);  // stops once this handler returns
  errno = saved;
}

extern "C" void onContinue(int) {
  const int saved = errno;
  setHandler(SIGTSTP, onStop);
  reapplyKeyMode();
  errno = saved;
}

}  // namespace

void installStopSignals(void (*handler)(int)) {
  setHandler(SIGINT, handler);
  setHandler(SIGTERM, handler);
  setHandler(SIGPIPE, SIG_IGN);
  // A file that reaches the size limit is a write that fails (EFBIG), said
  // as any other: a recording stops, the run goes on.
  setHandler(SIGXFSZ, SIG_IGN);
  for (const int sig : kEndingSignals) setHandler(sig, onEndingSignal);
  setHandler(SIGTSTP, onStop);
  setHandler(SIGCONT, onContinue);
}

void ignoreBrokenPipe() {
  setHandler(SIGPIPE, SIG_IGN);
}

const char* stopStatusText() {
  return "130/143 ended by SIGINT/SIGTERM";
}

}  // namespace platform
