#pragma once

// The scanner driver: owns the link to one scanner, runs the acquisition loop
// (request all measured values, wait for the acknowledge, pause a second, read
// and check the measurement reply, hand the scan to the display) and carries
// the configuration operations. SerialLms and NetLms are the two variants of
// one class template over the link adapter (lms/links.h); everything that
// differs between them lives in the adapter.
//
// Threads: the constructor and stop() run on the controlling thread; run()
// and every operation that talks to the scanner run on one acquisition
// thread; the display thread takes scans through the ScanSlot. stopRequested_
// is an atomic (release/acquire); the pause of a cycle waits on a condition
// variable so that a stop ends it at once, and stop() wakes a TCP wait for
// an answer the same way (a serial wait looks for the stop every 50 ms).
//
// Nothing is printed: the driver's messages (one line each, in the form
// "operation - text", and its transport's progress lines) go to the sink
// given by setOutput, and what happened (opened, lost, reconnecting, the
// rate found...) goes as DriverEvents to setEvents, for the caller to word.
// Both are silent until set, and both are called on the acquisition thread
// (the TCP client's lines also on its own threads).
//
// The definitions are in driver.cpp (the loop) and driver_config.cpp (the
// configuration operations), instantiated there for both variants.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "lms/protocol/exchange.h"
#include "lms/protocol/facts.h"
#include "lms/protocol/links.h"
#include "lms/protocol/reply.h"
#include "lms/protocol/scan_slot.h"
#include "lms/protocol/stream_framer.h"
#include "transport/message_sink.h"

// The compiler checks the driver's message formats against their arguments where it can.
#if defined(__GNUC__)
#define LMS_PRINTF_FORMAT(f, a) __attribute__((format(__printf__, f, a)))
#else
#define LMS_PRINTF_FORMAT(f, a)
#endif

namespace lms {

// How a run ended.
enum class RunOutcome { NotStarted, Running, Stopped, ConnectFailed, LinkLost };

// What happened on the link, for the caller to report, count or word.
struct DriverEvent {
  enum class Kind {
    Opened,            // the link is open (again)
    OpenFailed,        // an open failed for good (text: why; error: the OS's)
    Lost,              // the open link was lost (text: why)
    Reconnecting,      // the next open comes in `delayMs` (attempt `attempt`)
    Rejected,          // a reply was not a whole measurement (text: why)
    RateFound,         // --baud auto: the scanner answered at `rate`
    NoRateFound,       // --baud auto: none answered (text: the rates tried); going on at `rate`
    Silent,            // a request got no answer for the first time this run
    RateSwitched,      // --scanner-baud: the scanner runs at `rate` now (from `from`)
    RateNotSwitched,   // --scanner-baud: it did not take `rate` (text: why); going on at `from`
    RateRestored,      // at the end: the scanner is back at `rate`
    VariantSet,        // --variant: the scanner sends `points` points from now on
    VariantRefused,    // --variant: it did not take `points` (reason); its replies say what it sends
    StreamFound,       // the scanner was streaming when the link opened; `streaming`: its stream is used
    StreamRefused,     // --stream: it did not start continuous output (reason); polling instead
    StreamNotStopped,  // at the end: no acknowledge of the stop came among the streamed bytes
    UnitsDiffer,       // the replies state `unitsSeen`, not the unit set (`unitsAsked`): they win
  };
  Kind kind = Kind::Opened;
  std::string text{};
  std::error_code error{};
  int delayMs = 0;
  int attempt = 0;
  int rate = 0;
  int from = 0;
  int points = 0;
  bool everyRateTried = false;  // Silent: --baud auto looked for the rate already
  bool streaming = false;       // StreamFound
  Units unitsSeen = Units::Millimetres, unitsAsked = Units::Millimetres;  // UnitsDiffer
  lmsview::Event::Reason reason = lmsview::Event::Reason::none;           // Rejected, RateNotSwitched
};

// Counts over a run, read from any thread.
struct DriverStats {
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

template <class Link>
concept SerialLink = std::same_as<Link, SerialPortLink>;
template <class Link>
concept NetLink = std::same_as<Link, TcpClientLink>;

template <class Link>
class LmsDriver {
 public:
  using Transport = typename Link::Transport;

  // Serial: "COM1".."COM10", or a device path ("/dev/ttyUSB0"); laser "LMS" or "PLS".
  LmsDriver(const char* portName, const char* laserType) requires SerialLink<Link>;
  LmsDriver(int a, int b, int c, int comPort, int baudRate) requires SerialLink<Link>;
  // Network: the caller keeps `address` alive for the driver's life.
  LmsDriver(const char* address, int port, const char* laserType) requires NetLink<Link>;
  LmsDriver(const LmsDriver&) = delete;
  LmsDriver& operator=(const LmsDriver&) = delete;
  ~LmsDriver();

  // Set before run().
  void setOutput(transport::MessageSink out) { out_ = std::move(out); }
  void setEvents(std::function<void(const DriverEvent&)> events) { events_ = std::move(events); }
  DriverStats stats() const;

  bool run();
  bool stop();
  void setTransport(std::unique_ptr<Transport> next);
  bool stopping() const { return stopRequested_.load(std::memory_order_acquire); }

  int connectToLMS(int port, int baud, Transport& transport) requires SerialLink<Link>;
  int connectToLMS(const char* address, int port, Transport& transport) requires NetLink<Link>;
  int requestScan(Transport& transport);
  int requestScanAndPause(Transport& transport);
  void readScan(Transport& transport);
  int setRangeRes(int selector, Transport& transport);
  int sendPassword(Transport& transport);
  int setUnits(int units, Transport& transport);
  void stopLMS(Transport& transport);
  bool resetLMS(Transport& transport, int baudRate);
  int rdLMSmsg(int length, std::uint8_t* destination, Transport& transport);
  std::uint8_t rdLMSbyte(Transport& transport);

  // The display side's end of the hand-off: the newest scan (see ScanSlot),
  // or the classic form with its ranges in centimetres.
  const lmsview::Scan* takeScan() { return slot_.takeScan(); }
  bool takeScan(const float*& ranges, const float*& angles, int& count) {
    return slot_.takeScan(ranges, angles, count);
  }
  // The display sleeps here until a scan is published or it is woken.
  bool waitForScan() { return slot_.waitForScan(); }
  void wakeScanReader() { slot_.wakeReader(); }

  // Called on the acquisition thread with every valid scan, right after it
  // is published (the display may skip a scan when a newer one comes before
  // it looks; this sees them all). The scan stays as it is until the
  // observer returns. Set before run().
  void setScanObserver(std::function<void(const lmsview::Scan&)> observer) {
    observer_ = std::move(observer);
  }
  // The range unit the scanner is expected to report in (millimetres
  // unless set before run()); each reply states its own, which wins, and
  // a difference is said once.
  void setRangeUnits(Units units) { units_ = units; }
  // Continuous output: once the link opens, the scanner is asked to send
  // every scan as it measures it, and at the end to stop. Set before run().
  void setStream(bool stream) { stream_ = stream; }
  // The variant to set the scanner to each time the link opens; nullptr (the
  // default) sends nothing, and each reply's own length says what it holds.
  void setVariant(const Variant* variant) { variant_ = variant; }

  // The pause of a cycle: from one request's answer to the next request
  // (kCyclePauseMs unless set before run()). The next request still waits
  // for the reply or its bound, so a short pause is limited by the link.
  void setInterval(int ms) { intervalMs_ = ms; }

  RunOutcome outcome() const { return outcome_.load(std::memory_order_acquire); }
  // One line saying why the run failed (empty when it did not), and the
  // error behind a failed open (empty for a lost link).
  std::string failureText() const;
  std::error_code failureError() const;
  // Where the link goes, as the user would name it ("/dev/ttyUSB0",
  // "192.0.2.40 port 10002").
  std::string placeText() const { return Link::placeText(target_); }
  bool serialLink() const { return Link::kSerial; }

  // When the link cannot be opened or is lost, keep trying: attempts
  // `firstDelayMs` apart at first, doubling to `maxDelayMs`, each announced
  // on the notices output. Set before run().
  struct Reconnect {
    bool enabled = false;
    int firstDelayMs = 500;
    int maxDelayMs = 10000;
  };
  void setReconnect(const Reconnect& policy) { reconnect_ = policy; }
  // The waits of opening a link, which tests that open many links shorten:
  // the pause between open attempts and the TCP client's start-up pauses.
  struct Timing {
    int retryPauseMs = kConnectRetryPauseMs;
    int clientStartPauseMs = 100;
  };
  void setTiming(const Timing& timing) { timing_ = timing; }
  // The line's rate (serial; 9600 unless set) and whether to find it by
  // trying each rate the scanner family knows. Set before run().
  void setBaud(int baud) { target_.baud = baud; }
  void setFindRate(bool find) { findRate_ = find; }
  // Serial: after the link opens, move the scanner (and the line) to `baud`
  // with its operating-mode telegram, and at the end of the run back to the
  // rate it had, unless `keep`. 0: leave the rate alone. Set before run().
  void setScannerBaud(int baud, bool keep) {
    scannerBaud_ = baud;
    keepScannerBaud_ = keep;
  }
  bool isLMS() const { return isLMS_; }
  int comPort() const requires SerialLink<Link> { return target_.comPort; }

 private:
  static Link linkOf(Transport& transport) { return Link{&transport}; }
  void say(const char* format, ...) LMS_PRINTF_FORMAT(2, 3);
  void emit(const DriverEvent& event);
  bool pauseUnlessStopped(int ms);
  bool pauseUnlessStopped(std::chrono::nanoseconds time);
  int connectWithRetries(const typename Link::Target& target, Transport& transport, int attempts);
  void findRate();
  bool switchScanner(int baud);
  void moveScanner();
  void resumeAtScannerBaud();
  void restoreScanner();
  void applyVariant();
  void lookAtScannerBaud();
  void cycle();
  // Continuous output (driver_stream.cpp).
  enum class LineState { Quiet, Streaming, Noisy, Lost };
  LineState settleLine(int quietMs = kQuietMs);
  void readIntoFramer();
  bool takeStreamed(bool publish, std::uint8_t waitFor = 0);
  void foundStreaming();
  void startStream();
  void streamCycle();
  bool stopStream();
  void publishReply(const std::uint8_t* reply, std::int64_t firstNs);
  void reject(ReplyCheck check, int length, int whole);
  int request(Link& link);
  void read(Link& link);
  AckResult exchange(const std::uint8_t* telegram, int length, Link& link, int ackTimeoutMs = kAckTimeoutMs);
  AckResult exchange(const std::uint8_t* telegram, int length, Transport& transport);
  void fail(RunOutcome outcome, std::string text, std::error_code ec);
  static bool parseLaserType(const char* laserType);

  ScanSlot slot_;  // first in the object, as the hand-off record
  // The three integers of the serial constructor (16, 4, 0 unless given):
  // kept for the callers of that constructor; nothing reads them.
  int reserved_[3] = {16, 4, 0};
  typename Link::Target target_;
  Units units_ = Units::Millimetres;
  int intervalMs_ = kCyclePauseMs;
  bool isLMS_ = true;
  std::unique_ptr<Transport> transport_;  // replaced under mutex_ (setTransport), read by stop()
  Link link_{};                           // bound to transport_ once per run
  std::atomic<bool> stopRequested_{false};
  std::atomic<RunOutcome> outcome_{RunOutcome::NotStarted};
  mutable std::mutex mutex_;  // guards failureText_, the stop wait and transport_'s replacement
  std::condition_variable stopWake_;
  std::string failureText_;
  std::error_code failureError_;
  Reconnect reconnect_;
  Timing timing_;
  // --baud auto: the rate found is kept across reconnects (target_.baud);
  // it is looked for again after an open when none is known, and when the
  // scanner stops answering at it.
  bool findRate_ = false;
  bool rateKnown_ = false;
  bool findRateDue_ = false;
  bool hinted_ = false;
  // --scanner-baud: the rate asked for, the rate the scanner had, and
  // whether it runs at the new one now; a reconnect tries that first.
  int scannerBaud_ = 0;
  bool keepScannerBaud_ = false;
  int foundBaud_ = 0;
  bool switched_ = false;
  bool moveDue_ = false;
  bool resumeDue_ = false;
  bool ending_ = false;  // the last exchanges after a stop: a stop does not cut them short
  const Variant* variant_ = nullptr;
  bool variantDue_ = false;
  bool lookedAtScannerBaud_ = false;
  // --stream: asked for; to be started on this link; running; and when the
  // last scan came (process ms), so a scanner that stops sending is asked again.
  bool stream_ = false;
  bool streamDue_ = false;
  bool streaming_ = false;
  std::int64_t lastStreamedMs_ = 0;
  bool unitsSaid_ = false;
  StreamFramer framer_;
  ReplyCarry held_;  // the scan that may prove a line streams
  ReplyCarry carry_;
  transport::MessageSink out_;
  std::function<void(const DriverEvent&)> events_;
  struct Counters {
    std::atomic<std::int64_t> requests{0}, scans{0}, noReply{0}, notAReply{0}, tooShort{0}, badChecksum{0},
        reconnects{0}, refused{0}, unanswered{0}, unexpected{0}, discarded{0};
  } counters_;  // relaxed: counts only, read for reports
  std::function<void(const lmsview::Scan&)> observer_;
};

using SerialLms = LmsDriver<SerialPortLink>;
using NetLms = LmsDriver<TcpClientLink>;

extern template class LmsDriver<SerialPortLink>;
extern template class LmsDriver<TcpClientLink>;

}  // namespace lms
