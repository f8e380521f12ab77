// SPDX-License-Identifier: Apache-2.0
#pragma once

// The acquisition: owns the link to one scanner and runs the loop that
// opens it (again, with back-off, when asked to reconnect), sets the
// scanner up (its rate, its variant, continuous output), then asks for
// scans, or reads them as they stream, checks and decodes each reply once
// and hands it over, until it is stopped or the link is gone. Its jobs live
// apart: the loop and the polling cycle (acquisition.cpp), the line's rate
// (rate_control.cpp), and continuous output (continuous_output.cpp).
//
// Threads: configure(), the setters and stop() run on the controlling
// thread (stop() from any thread); run() and every exchange on the
// acquisition thread; the display thread takes scans through slot().
// `stopRequested_` is an atomic (release/acquire); a pause waits on a
// condition variable that a stop wakes, and stop() wakes a TCP wait for an
// answer the same way (a serial wait looks for the stop every 50 ms).
// Counters are relaxed atomics, read from any thread.
//
// Nothing is printed: the message lines (one each, "operation - text", and
// the transport's progress lines) go to the sink given by setMessages, and
// what happened goes as lmsview::Events, worded (lms/protocol/events.h), to
// setEvents; both are called on the acquisition thread (the TCP client's
// lines also on its own threads).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>

#include "lms/protocol/exchange.h"
#include "lms/protocol/links.h"
#include "lms/protocol/reply.h"
#include "lms/protocol/scan_slot.h"
#include "lms/protocol/scanner_constants.h"
#include "lms/protocol/stream_framer.h"
#include "lmsview/scan.h"
#include "transport/message_sink.h"

// The compiler checks the message formats against their arguments where it can.
#if defined(__GNUC__)
#define LMSVIEW_PRINTF_FORMAT(f, a) __attribute__((format(__printf__, f, a)))
#else
#define LMSVIEW_PRINTF_FORMAT(f, a)
#endif

namespace lms {

// How a run ended.
enum class RunOutcome { NotStarted, Running, Stopped, ConnectFailed, LinkLost };

// Counts over a run, read from any thread.
struct AcquisitionStats {
  std::int64_t requests = 0;
  std::int64_t scans = 0;
  std::int64_t noReply = 0;
  std::int64_t notAReply = 0;
  std::int64_t tooShort = 0;
  std::int64_t badChecksum = 0;
  std::int64_t reconnects = 0;
  std::int64_t refused = 0;     // requests answered with NAK
  std::int64_t unanswered = 0;  // requests with no answer in time (or not sent)
  std::int64_t unexpected = 0;  // answers that began with neither ACK nor NAK
  std::int64_t discarded = 0;   // streamed bytes no telegram held (noise, cut telegrams)
};

inline constexpr int kCyclePauseMs = 1000;
// Open attempts before giving up, and the pause between them.
inline constexpr int kConnectAttempts = 3;
inline constexpr int kConnectRetryPauseMs = 300;
// How many bytes of an unexpected answer a message shows.
inline constexpr int kShownAnswerBytes = 8;
// How long --baud auto waits for the acknowledge at each rate.
inline constexpr int kProbeAckMs = 400;
// A line on which nothing arrives for this long is quiet: the next request
// meets no tail of an earlier answer.
inline constexpr int kQuietMs = 50;

// What a run asks of the acquisition.
struct AcquisitionSettings {
  // The pause of a cycle: from one request's answer to the next request. The
  // next request still waits for the reply or its bound, so a short pause
  // is limited by the link.
  int intervalMs = kCyclePauseMs;
  // When the link cannot be opened or is lost, keep trying: attempts
  // `firstDelayMs` apart at first, doubling to `maxDelayMs`.
  struct Reconnect {
    bool enabled = false;
    int firstDelayMs = 500;
    int maxDelayMs = 10000;
  } reconnect;
  // The waits of opening a link, which tests that open many links shorten:
  // the pause between open attempts and the TCP client's start-up pauses.
  struct Timing {
    int retryPauseMs = kConnectRetryPauseMs;
    int clientStartPauseMs = 100;
  } timing;
  // Serial: the line's rate, or 0 to find it by trying each rate the
  // scanner family knows; and a rate to move the scanner to for the run
  // (0: leave it), back at the end unless `keepScannerBaud`.
  int baud = kSerialBaud;
  int scannerBaud = 0;
  bool keepScannerBaud = false;
  // The variant to set the scanner to each time the link opens; nullptr
  // sends nothing, and each reply's own length says what it holds.
  const Variant* variant = nullptr;
  // The unit the scanner is expected to report in: each reply states its
  // own, which wins, and a difference is said once.
  Units units = Units::Millimetres;
  // Continuous output: once the link opens the scanner is asked to send
  // every scan as it measures it, and at the end to stop.
  bool stream = false;
};

template <class Link>
class Acquisition {
 public:
  using Transport = typename Link::Transport;
  using Target = typename Link::Target;

  explicit Acquisition(Target target);
  Acquisition(const Acquisition&) = delete;
  Acquisition& operator=(const Acquisition&) = delete;
  ~Acquisition();

  // Set before run().
  void configure(const AcquisitionSettings& settings);
  void setMessages(transport::MessageSink out) { out_ = std::move(out); }
  void setEvents(std::function<void(const lmsview::Event&)> events) { events_ = std::move(events); }
  // Called on the acquisition thread with every valid scan, right after it
  // is published (the display may skip a scan when a newer one comes
  // before it looks; this sees them all). The scan stays as it is until the
  // observer returns.
  void setScanObserver(std::function<void(const lmsview::Scan&)> observer) {
    observer_ = std::move(observer);
  }

  // The loop, on the calling thread, until stop() or the link's end. The
  // link is let go when it returns.
  void run();
  void stop();
  bool stopping() const { return stopRequested_.load(std::memory_order_acquire); }

  // The hand-off of finished scans to one reader.
  ScanSlot& slot() { return slot_; }
  AcquisitionStats stats() const;
  RunOutcome outcome() const { return outcome_.load(std::memory_order_acquire); }
  // One line saying why the run failed (empty when it did not), and the
  // error behind a failed open (empty for a lost link).
  std::string failureText() const;
  std::error_code failureError() const;
  // Where the link goes, as the user would name it ("/dev/ttyUSB0",
  // "192.0.2.40 port 10002").
  std::string placeText() const { return Link::placeText(target_); }
  const Target& target() const { return target_; }

  // What the scanner driver's own operations (driver.h) do on a transport
  // of their caller's, with this acquisition's messages and counters.
  int connect(const Target& target, Transport& transport, int attempts);
  AckResult exchange(const std::uint8_t* telegram, int length, Transport& transport);
  int request(Transport& transport);
  void read(Transport& transport);
  void say(const char* format, ...) LMSVIEW_PRINTF_FORMAT(2, 3);

 private:
  static Link linkOf(Transport& transport) { return Link{&transport}; }
  void emit(lmsview::Event event);
  bool pauseUnlessStopped(int ms);
  bool pauseUnlessStopped(std::chrono::nanoseconds time);
  void setTransport(std::unique_ptr<Transport> next);
  void fail(RunOutcome outcome, std::string text, std::error_code ec);

  // The loop and the polling cycle (acquisition.cpp).
  void prepareOpenLink();
  void cycle();
  int request(Link& link);
  void read(Link& link);
  void reject(ReplyCheck check, int length, int whole);
  void publishReply(const std::uint8_t* reply, std::int64_t firstNs);
  AckResult exchange(const std::uint8_t* telegram, int length, Link& link, int ackTimeoutMs = kAckTimeoutMs);
  void applyVariant();

  // The line's rate (rate_control.cpp): --baud auto, --scanner-baud.
  enum class LineState { Quiet, Streaming, Noisy, Lost };
  bool answersHere(LineState line);
  void takeAnswer(LineState line);
  void findRate();
  void lookAtScannerBaud();
  bool switchScanner(int baud);
  void moveScanner();
  void resumeAtScannerBaud();
  void restoreScanner();

  // Continuous output (continuous_output.cpp).
  LineState settleLine(int quietMs = kQuietMs);
  void readIntoFramer();
  bool takeStreamed(bool publish, std::uint8_t waitFor = 0);
  void foundStreaming();
  void startStream();
  void streamCycle();
  bool stopStream();

  Target target_;
  AcquisitionSettings settings_;
  ScanSlot slot_;
  std::unique_ptr<Transport> transport_;  // replaced under mutex_ (setTransport), read by stop()
  Link link_{};                           // bound to transport_ once per open
  std::atomic<bool> stopRequested_{false};
  std::atomic<RunOutcome> outcome_{RunOutcome::NotStarted};
  mutable std::mutex mutex_;  // guards failureText_, the stop wait and transport_'s replacement
  std::condition_variable stopWake_;
  std::string failureText_;
  std::error_code failureError_;
  bool ending_ = false;  // the last exchanges after a stop: a stop does not cut them short
  bool hinted_ = false;  // the silence of a link said once a run
  bool unitsSaid_ = false;
  bool variantDue_ = false;
  ReplyCarry carry_;

  // --baud auto: the rate found is kept across reconnects (target_.baud);
  // it is looked for again after an open when none is known, and when the
  // scanner stops answering at it. --scanner-baud: the rate the scanner had,
  // and whether it runs at the new one now; a reconnect tries that first.
  struct Rate {
    bool known = false;
    bool findDue = false;
    bool moveDue = false;
    bool resumeDue = false;
    bool lookedAtScannerBaud = false;
    bool switched = false;
    int foundBaud = 0;
  } rate_;

  // Continuous output: to be started on this link; running; when the last
  // scan came (process ms), so a scanner that stops sending is asked again.
  struct Stream {
    bool due = false;
    bool on = false;
    std::int64_t lastScanMs = 0;
  } stream_;
  StreamFramer framer_;
  ReplyCarry held_;  // the scan that may prove a line streams

  transport::MessageSink out_;
  std::function<void(const lmsview::Event&)> events_;
  std::function<void(const lmsview::Scan&)> observer_;
  struct Counters {
    std::atomic<std::int64_t> requests{0}, scans{0}, noReply{0}, notAReply{0}, tooShort{0}, badChecksum{0},
        reconnects{0}, refused{0}, unanswered{0}, unexpected{0}, discarded{0};
  } counters_;  // relaxed: counts only, read for reports
};

using SerialAcquisition = Acquisition<SerialPortLink>;
using NetAcquisition = Acquisition<TcpClientLink>;

extern template class Acquisition<SerialPortLink>;
extern template class Acquisition<TcpClientLink>;

}  // namespace lms
