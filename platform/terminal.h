// SPDX-License-Identifier: Apache-2.0
#pragma once

// The console services the front end needs: is a standard stream a terminal,
// wait for one key without Enter and without echo, and a wake-up channel
// through which other threads and signal handlers end that wait.

#include <memory>
#include <string_view>

namespace platform {

enum class StdStream { In, Out, Err };

bool isTerminal(StdStream stream);

// Whether this process may use the terminal on standard input now: it is in
// the terminal's foreground process group (always, where there is no job
// control). A process in the background neither reads the terminal nor
// changes its modes: either would stop it.
bool inForeground();

// Words this OS's users type for help besides -h ("/?" on Windows).
bool isHelpAlias(std::string_view word);

// The size of the terminal on `stream`, in character cells; false when it is
// not a terminal or does not say.
bool terminalSize(StdStream stream, int* cols, int* rows);

// Hides (or shows again) the cursor of the terminal on standard output. A
// signal that ends or stops the process shows it again first.
void hideCursor(bool hidden);

// Text to the terminal is UTF-8 while on (the picture's braille): on Windows
// the console's output code page is set to UTF-8 and put back when turned
// off, by restoreTerminal() and restoreModes(), and at exit; elsewhere the
// terminal takes UTF-8 as it is.
void useUtf8Output(bool on);

// Result of waiting for the key.
enum class KeyWait { Key, EndOfInput, Woken, Timeout, Error };

// Puts the terminal on standard input into single-key mode (no line editing,
// no echo; Ctrl-C still raises SIGINT) and restores the saved settings when
// destroyed. When standard input is not a terminal it does nothing. One at a
// time: the settings are kept where the signal handlers find them, so a
// signal that ends or stops the process restores the terminal first, and a
// continue after a stop puts single-key mode back (installStopSignals).
class RawKeyMode {
 public:
  explicit RawKeyMode(bool engageNow = true);
  RawKeyMode(const RawKeyMode&) = delete;
  RawKeyMode& operator=(const RawKeyMode&) = delete;
  ~RawKeyMode();
  // Single-key mode again (after restore(), or once the process is in the
  // foreground); nothing when it is on or cannot be.
  void engage();
  // The saved settings back; from the background only the mark is cleared
  // (a stop already put them back, and a change from there would stop us).
  void restore();
};

// Async-signal-safe: the terminal's saved settings back while single-key
// mode is on (restoreTerminal), and single-key mode again after a stop, when
// the process is in the terminal's foreground (reapplyKeyMode).
void restoreTerminal();
void reapplyKeyMode();
// What restoreTerminal() puts back without writing anything (the key mode,
// the code page): for an end while the output takes nothing.
void restoreModes();

// Makes sure standard input, output and error are open (on the null device
// when they were closed), so no descriptor the program opens later takes
// their numbers. First thing in main.
void ensureStandardStreams();

// Wakes a sleeper: `wake` may be called from any thread and from a signal
// handler; the wake-up stays pending until a wait sees it. The OS object
// behind it is the platform's own.
class WakeChannel {
 public:
  WakeChannel();
  WakeChannel(const WakeChannel&) = delete;
  WakeChannel& operator=(const WakeChannel&) = delete;
  ~WakeChannel();
  bool valid() const;
  void wake() const;  // async-signal-safe
  // Drops a pending wake-up (not while another thread waits on the channel).
  void clear() const;
  // Sleeps until a wake-up is pending or `timeoutMs` passes (< 0: no bound);
  // true if woken. The wake-up is left pending.
  bool waitFor(int timeoutMs) const;

  struct Native;
  const Native& native() const { return *native_; }

 private:
  std::unique_ptr<Native> native_;
};

// Waits for one byte on standard input (a key, or any byte when it is not a
// terminal), its end, a wake-up on `wake`, or `timeoutMs` (< 0: no bound).
// Blocks without spinning.
KeyWait waitForKey(const WakeChannel& wake, int timeoutMs = -1);

}  // namespace platform
