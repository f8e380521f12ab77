// SPDX-License-Identifier: Apache-2.0
#pragma once

// The one acquisition engine under lmsview::Scanner and the lmsview program.
//
// An Engine owns the source of one run (a serial or network acquisition,
// or a recording played back: one value, visited in one place), applies
// the options, and runs it. Every valid scan is decoded once by the
// acquisition into the hand-off record, numbered there, and fanned out from
// that record: to the display's hand-off (takeScan), to next()'s queue, and
// to the subscribers. The events come worded from the source.
//
// Threads: run() is the acquisition thread (lmsview calls it on a thread of
// its own; open() starts one). It alone fills the hand-off, the queue and
// calls the subscribers. Every other member may be called from any thread.
// `mutex_` guards the queue and the run's state, and `changed_` wakes next()
// and open(); a subscriber's own mutex is held while its callback runs, so
// ending a subscription waits for a call in progress. The acquisition
// thread holds a reference to the engine (open() gives it one), so an
// engine dropped inside a callback leaves nothing dangling.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <variant>
#include <vector>

#include "lms/engine/link_name.h"
#include "lms/engine/player.h"
#include "lms/protocol/acquisition.h"
#include "lmsview/robot.h"
#include "lmsview/scanner.h"
#include "transport/message_sink.h"

namespace lms {

// What a run asks of the engine.
struct EngineOptions {
  std::string link;  // a link name (see link_name.h)
  std::string family = "LMS";
  int baud = 9600;      // serial line rate; 0: find it by trying each
  int scannerBaud = 0;  // serial: move the scanner to this rate for the run
  bool keepScannerBaud = false;
  bool reconnect = false;
  int intervalMs = 1000;             // from one request to the next
  const Variant* variant = nullptr;  // set the scanner to it at each open; nullptr: leave it
  Units units = Units::Millimetres;  // the range unit the scanner is expected to report in
  bool stream = false;               // continuous output
  std::size_t queue = 0;             // scans kept for next(); 0: none (a reader uses takeScan)
  // What of each scan next() and the subscribers get (the display's
  // hand-off gets the scan as it came).
  lmsview::ScanFilter filter{};
  // The TCP client's start-up pauses: lmsview waits 100 ms; a program that
  // opens a scanner gets its first scan sooner with less.
  int clientStartPauseMs = 100;
  transport::MessageSink messages;  // the driver's message lines; silent unless set
};

// One subscriber's callbacks. end() stops them, waiting for a call in
// progress unless it is made from inside that call.
struct Subscriber {
  Subscriber();
  std::function<void(const lmsview::Scan&)> onScan;
  std::function<void(const lmsview::Event&)> onEvent;
  std::mutex inUse;  // held while a callback runs
  std::atomic<std::thread::id> caller{};
  std::atomic<bool> active{true};
  bool failed = false;     // a callback threw (said once); the acquisition thread's
  const std::int64_t pid;  // the process it was made in: a forked child's copy waits for nothing
  void end();
};

class Engine : public std::enable_shared_from_this<Engine> {
 public:
  explicit Engine(EngineOptions options);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine();

  // Checks the options and makes the source (a recording is read here);
  // nothing is opened yet. bad_link_name, bad_argument or bad_recording,
  // with lastErrorDetail() saying why.
  std::error_code prepare();
  // The acquisition, on the calling thread, until stop() or the run's end.
  void run();
  // Raises the stop (ends run() within a cycle's bound).
  void stop();

  // lmsview::Scanner's life cycle: prepare(), a thread of its own running
  // run(), and the wait for the first open (unless reconnecting). After an
  // open that failed, or an acquisition that ended by itself (the link
  // lost, the recording played), open() may be called again; after close()
  // it answers closed.
  std::error_code open();
  // Stops the acquisition and waits for it at most kCloseWaitMs; from inside
  // a callback it does not wait. The thread, if still running, ends within
  // its exchange's bound and lets go of the engine then.
  void close();
  // A timeout of a century or more waits without end; a negative one is none.
  std::error_code next(lmsview::Scan& out, std::chrono::milliseconds timeout);
  // Whether this engine's acquisition was started in another process: a
  // fork()ed child's copy, whose threads stayed in the parent.
  bool forkedAway() const { return startedIn_ != 0 && startedIn_ != ownProcess(); }

  void subscribe(std::shared_ptr<Subscriber> subscriber);

  // The display's end of the hand-off (one reader).
  const lmsview::Scan* takeScan();
  bool waitForScan();
  void wakeScanReader();

  lmsview::Stats stats() const;
  // How the run ended, why it failed (one line), the system's error behind
  // a failed open, and where the link goes ("192.0.2.40 port 10002").
  RunOutcome outcome() const;
  std::string failureText() const;
  std::error_code failureError() const;
  std::string placeText() const;
  bool serialLink() const { return link_.serial; }
  std::string lastErrorDetail() const;

 private:
  using Source = std::variant<std::monostate, SerialAcquisition, NetAcquisition, Player>;
  // `f` on the source; with none, what `f` gives for nothing.
  template <class F>
  auto withSource(F&& f) const;
  template <class F>
  auto withSource(F&& f);

  static std::int64_t ownProcess();
  std::error_code makeSource();
  void onEvent(const lmsview::Event& e);
  // Hands a scan to the queue and the subscribers; a recording, which has no
  // real time to keep up with, waits for room in the queue instead of dropping.
  void deliver(const lmsview::Scan& scan, bool waitForRoom = false);
  template <class Arg>
  void dispatch(const Arg& arg);
  void decideOpen(std::error_code result);
  bool hasScanSubscribers();
  void joinThread();
  void setDetail(std::string detail);

  EngineOptions options_;
  LinkName link_;
  Source source_;
  std::thread thread_;
  std::mutex joinMutex_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  // next()'s queue, up to options_.queue records made as scans come (a
  // large queue costs nothing until it fills), and the records next() gave
  // back, whose buffers the next scans reuse.
  std::deque<lmsview::Scan> queue_;
  lmsview::Scan filtered_;  // the acquisition thread's: the scan as the filter leaves it
  std::vector<lmsview::Scan> spare_;
  std::uint64_t dropped_ = 0;
  bool nextCalled_ = false;  // someone reads with next(): a recording waits for room
  bool prepared_ = false;
  bool started_ = false;
  bool running_ = false;  // the acquisition thread is in run()
  bool closed_ = false;
  bool openDecided_ = false;
  std::int64_t startedIn_ = 0;  // the process open() started the thread in
  std::error_code openResult_;
  std::error_code endError_;  // why acquisition ended by itself
  std::string detail_;        // the reason behind the last failure

  std::mutex subscribersMutex_;
  std::vector<std::shared_ptr<Subscriber>> subscribers_;
  std::vector<std::shared_ptr<Subscriber>> dispatching_;  // the acquisition thread's
};

// The longest close() waits for the acquisition to end; for a scanner that
// streams, for the acknowledge of the end of its stream (the telegram under
// way comes first: 30 ms at 500000 baud, up to two seconds at 9600).
inline constexpr int kCloseWaitMs = 100;
inline constexpr int kCloseStreamWaitMs = 2500;

}  // namespace lms
