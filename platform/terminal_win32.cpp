// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/terminal.h"

namespace platform {

struct WakeChannel::Native {
  HANDLE event = nullptr;  // manual reset: a wake-up stays until seen
};

namespace {

HANDLE handleOf(StdStream stream) {
  switch (stream) {
    case StdStream::In:
      return ::GetStdHandle(STD_INPUT_HANDLE);
    case StdStream::Out:
      return ::GetStdHandle(STD_OUTPUT_HANDLE);
    case StdStream::Err:
      return ::GetStdHandle(STD_ERROR_HANDLE);
  }
  return nullptr;
}

std::atomic<bool> gKeyModeOn{false};
DWORD gSavedMode = 0;
std::atomic<bool> gCursorHidden{false};

void writeOut(const char* text, DWORD length) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, nullptr);
}

// Standard input that is not a console (a pipe, a file): one reader thread
// reads one byte and says what came. It is a plain OS thread left to end
// with the process: a pipe read cannot be cancelled everywhere, and a
// std::thread destroyed while joinable would end the program.
struct InputReader {
  HANDLE done = nullptr;  // manual reset, set when the read returned
  std::atomic<bool> gotByte{false};
  std::atomic<bool> started{false};
};
InputReader gReader;

DWORD WINAPI readOneByte(LPVOID) {
  char c = 0;
  DWORD n = 0;
  const BOOL ok = ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &c, 1, &n, nullptr);
  gReader.gotByte.store(ok && n == 1, std::memory_order_release);
  ::SetEvent(gReader.done);
  return 0;
}

}  // namespace

bool isTerminal(StdStream stream) {
  DWORD mode = 0;
  // A console answers GetConsoleMode; a file or pipe (or NUL) does not.
  return ::GetConsoleMode(handleOf(stream), &mode) != 0;
}

bool terminalSize(StdStream stream, int* cols, int* rows) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(handleOf(stream), &info)) return false;
  *cols = info.srWindow.Right - info.srWindow.Left + 1;
  *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  return *cols > 0 && *rows > 0;
}

void hideCursor(bool hidden) {
  if (!isTerminal(StdStream::Out)) return;
  gCursorHidden.store(hidden);
  if (hidden)
    writeOut("\x1b[?25l", 6);
  else
    writeOut("\x1b[?25h", 6);
}

bool inForeground() {
  return true;  // a console has no background process groups
}

bool isHelpAlias(std::string_view word) {
  return word == "/?" || word == "/h" || word == "/H";
}

RawKeyMode::RawKeyMode(bool engageNow) {
  if (engageNow) engage();
}

void RawKeyMode::engage() {
  const HANDLE in = handleOf(StdStream::In);
  DWORD mode = 0;
  if (gKeyModeOn.load() || !::GetConsoleMode(in, &mode)) return;
  gSavedMode = mode;
  // One key without Enter and without echo; Ctrl-C still reaches the handler.
  if (::SetConsoleMode(
          in, (mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) | ENABLE_PROCESSED_INPUT))
    gKeyModeOn.store(true);
}

RawKeyMode::~RawKeyMode() {
  restore();
}

void RawKeyMode::restore() {
  if (!gKeyModeOn.exchange(false)) return;
  ::SetConsoleMode(handleOf(StdStream::In), gSavedMode);
}

// The console's output code page before useUtf8Output, or 0. The console
// is shared with the shell that started us, so it is always put back.
std::atomic<UINT> gSavedCodePage{0};

void useUtf8Output(bool on) {
  if (on) {
    const UINT page = ::GetConsoleOutputCP();
    if (page == 0 || page == CP_UTF8 || gSavedCodePage.load() != 0) return;
    gSavedCodePage.store(page);
    static const bool registered = [] { return std::atexit([] { useUtf8Output(false); }) == 0; }();
    (void)registered;
    ::SetConsoleOutputCP(CP_UTF8);
  } else if (const UINT page = gSavedCodePage.exchange(0); page != 0) {
    ::SetConsoleOutputCP(page);
  }
}

void restoreModes() {
  if (gKeyModeOn.load()) ::SetConsoleMode(handleOf(StdStream::In), gSavedMode);
  if (const UINT page = gSavedCodePage.load(); page != 0) ::SetConsoleOutputCP(page);
}

void restoreTerminal() {
  restoreModes();
  if (gCursorHidden.load()) writeOut("\x1b[?25h", 6);
}

void reapplyKeyMode() {}  // no job control on a console

void ensureStandardStreams() {
  // Tables and data go out byte for byte: no "\r\n" in files and pipes.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  // A console draws the escape sequences (clear, cursor) instead of showing them.
  for (const StdStream s : {StdStream::Out, StdStream::Err}) {
    DWORD mode = 0;
    if (::GetConsoleMode(handleOf(s), &mode))
      ::SetConsoleMode(handleOf(s), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING | ENABLE_PROCESSED_OUTPUT);
  }
}

WakeChannel::WakeChannel() : native_(std::make_unique<Native>()) {
  native_->event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

WakeChannel::~WakeChannel() {
  if (native_->event) ::CloseHandle(native_->event);
}

bool WakeChannel::valid() const {
  return native_->event != nullptr;
}

void WakeChannel::wake() const {
  ::SetEvent(native_->event);
}

void WakeChannel::clear() const {
  ::ResetEvent(native_->event);
}

bool WakeChannel::waitFor(int timeoutMs) const {
  return ::WaitForSingleObject(native_->event, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)) ==
         WAIT_OBJECT_0;
}

KeyWait waitForKey(const WakeChannel& wake, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto left = [&]() -> DWORD {
    if (timeoutMs < 0) return INFINITE;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    return ms > 0 ? static_cast<DWORD>(ms) : 0;
  };
  const HANDLE in = handleOf(StdStream::In);
  if (isTerminal(StdStream::In)) {
    for (;;) {
      const HANDLE handles[2] = {wake.native().event, in};
      const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, left());
      if (r == WAIT_OBJECT_0) return KeyWait::Woken;
      if (r == WAIT_TIMEOUT) return KeyWait::Timeout;
      if (r != WAIT_OBJECT_0 + 1) return KeyWait::Error;
      INPUT_RECORD record{};
      DWORD n = 0;
      if (!::ReadConsoleInputA(in, &record, 1, &n)) return KeyWait::Error;
      // Only a key going down counts; mouse, focus and key-up events do not.
      if (n == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return KeyWait::Key;
    }
  }
  if (!gReader.started.exchange(true)) {
    gReader.done = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE thread = ::CreateThread(nullptr, 0, readOneByte, nullptr, 0, nullptr);
    if (thread == nullptr) return KeyWait::Error;
    ::CloseHandle(thread);
  }
  const HANDLE handles[2] = {wake.native().event, gReader.done};
  const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, left());
  if (r == WAIT_OBJECT_0) return KeyWait::Woken;
  if (r == WAIT_TIMEOUT) return KeyWait::Timeout;
  if (r != WAIT_OBJECT_0 + 1) return KeyWait::Error;
  return gReader.gotByte.load(std::memory_order_acquire) ? KeyWait::Key : KeyWait::EndOfInput;
}

}  // namespace platform
