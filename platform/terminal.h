#pragma once

// The console services the front end needs: is an output a terminal, wait for
// one key without Enter and without echo, and a wake-up channel through which
// other threads and signal handlers end that wait.

bool isTerminal(int fd);

// Result of waiting for the key.
enum class KeyWait { Key, EndOfInput, Woken, Error };

// Puts a terminal into single-key mode (no line editing, no echo; Ctrl-C still
// raises SIGINT) and restores the saved settings when destroyed. On anything
// that is not a terminal it does nothing.
class RawKeyMode {
 public:
  explicit RawKeyMode(int fd);
  RawKeyMode(const RawKeyMode&) = delete;
  RawKeyMode& operator=(const RawKeyMode&) = delete;
  ~RawKeyMode();
  void restore();

 private:
  int fd_;
  bool active_ = false;
  unsigned char saved_[64];  // a struct termios, kept opaque so this header includes no OS header
};

// A self-pipe: `wake` may be called from any thread and from a signal handler.
class WakeChannel {
 public:
  WakeChannel();
  WakeChannel(const WakeChannel&) = delete;
  WakeChannel& operator=(const WakeChannel&) = delete;
  ~WakeChannel();
  bool valid() const { return readFd_ >= 0; }
  void wake() const;  // async-signal-safe
  int readFd() const { return readFd_; }

 private:
  int readFd_ = -1;
  int writeFd_ = -1;
};

// Waits for one byte on `fd` (a key, or any byte when `fd` is not a terminal),
// end of input, or a wake-up on `wake`. Blocks without spinning.
KeyWait waitForKey(int fd, const WakeChannel& wake);
