// SPDX-License-Identifier: Apache-2.0
#pragma once

// Runs a EmulatedScanner on a real link: a TCP listener (one client at a time), a
// pseudo-terminal it creates, or a serial device it opens. POSIX only: the
// emulator runs on Linux. serve() blocks the
// calling thread until stop() is called (from any thread or a signal handler),
// the time limit passes, or standard input ends when asked; every wait in it
// is bounded.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/posix/unique_fd.h"
#include "platform/terminal.h"
#include "sim/emulated_scanner.h"

namespace sim {

struct SimOptions {
  std::uint32_t seed = 1;
  const ReplayScans* replay = nullptr;
  bool replayOnce = false;  // stop serving once every replayed scan has been sent
  bool pace = false;        // send serial bytes at the baud rate
  int baud = 9600;
  bool verbose = false;  // one line per exchange to `log`
  std::FILE* log = stdout;
  double maxSeconds = 0;         // 0: no limit
  bool stopOnEof = false;        // end when standard input reaches end of input
  std::FILE* scanLog = nullptr;  // one line per measurement reply: number, fate, words
  // One line per measurement reply: its number, the monotonic ns of its last
  // byte sent, and the wall-clock ns (UTC, since the epoch) at which its
  // first byte and its last byte were sent.
  std::FILE* timingLog = nullptr;
  SimSetup setup;  // the variant and unit the scanner is set to at the start
};

class SimServer {
 public:
  SimServer(const SimFaults& faults, const SimOptions& options);
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Listens on a loopback address unless `anyAddress` allows others.
  bool listenTcp(const std::string& address, std::uint16_t port, bool anyAddress, std::string* error);
  // Creates a pseudo-terminal; its slave side is the device the reader opens.
  bool createPty(std::string* error);
  // Opens a serial device at the options' baud rate.
  bool openDevice(const std::string& path, std::string* error);
  const std::string& devicePath() const { return devicePath_; }
  // The TCP port listened on (the one the system chose when asked for 0).
  std::uint16_t boundPort() const;

  void serve();
  void stop() {
    stopping_.store(true, std::memory_order_release);
    wake_.wake();
  }
  SimCounters counters() const;

 private:
  bool sendPlan(int fd, const std::vector<Piece>& plan);
  void logTiming();
  bool writeAll(int fd, const std::uint8_t* p, std::size_t n);
  bool pause(int ms);                                           // false when stopping
  bool pauseUntil(std::chrono::steady_clock::time_point when);  // on the monotonic clock
  void closeLink();
  void acceptClient();
  bool stopping() const { return stopping_.load(std::memory_order_acquire); }
  enum class Input { Nothing, Link, End };
  Input waitForInput(int timeoutMs);
  bool readAndAnswer();
  bool answer(const ParsedTelegram& t, bool* over);
  void switchRate(int rate);
  // Continuous output: the milliseconds until the next scan may go (the
  // mirror has finished one that was not sent, and the line is free), and
  // its sending.
  int streamWaitMs();
  bool sendStreamed();
  void note(const std::string& what);

  EmulatedScanner engine_;
  SimOptions options_;
  mutable std::mutex countersMutex_;
  SimCounters counters_;
  TelegramParser parser_;
  platform::WakeChannel wake_;
  std::atomic<bool> stopping_{false};
  platform::UniqueFd listener_;
  platform::UniqueFd link_;      // the TCP connection, the pty master, or the device
  platform::UniqueFd ptySlave_;  // held open so the pseudo-terminal stays up between readers
  bool tcp_ = false;
  bool linkClosedForGood_ = false;
  std::string devicePath_;
  std::int64_t plannedScan_ = -1;  // the measurement reply in the plan being sent
  std::int64_t replyBeganNs_ = 0;  // when the plan's reply began to go out (wall clock)
  std::int64_t lastInput_ = 0;     // when the link last brought bytes (process ms)
  // The line is busy with what was sent until then (paced lines).
  std::chrono::steady_clock::time_point lineFree_{};
  // The stream's mirror: when scan 0 began, and the last scan sent.
  bool streamOn_ = false;
  std::chrono::steady_clock::time_point mirrorStart_{};
  std::int64_t lastStreamed_ = -1;
};

}  // namespace sim
