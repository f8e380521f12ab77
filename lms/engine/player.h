// SPDX-License-Identifier: Apache-2.0
#pragma once

// A recording played back as a source: the same faces as a scanner's
// acquisition (run, stop, the hand-off, events, counts), so the engine
// treats both alike. Its scans come once each, `intervalMs` apart, stamped
// as they are played.
//
// Threads: load() and the setters before run(); run() on the acquisition
// thread; stop() from any thread (it wakes the pause); the counts from any.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>

#include "lms/formats/recording.h"
#include "lms/protocol/acquisition.h"
#include "lms/protocol/scan_slot.h"
#include "lmsview/scan.h"

namespace lms {

class Player {
 public:
  Player(std::string path, Recording recording) : path_(std::move(path)), recording_(std::move(recording)) {}
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Reads a recording (its scans on `topic`, or any one topic's when
  // empty); false with the reason when it cannot be played.
  static bool load(const std::string& path, const std::string& topic, Recording* out, std::string* why);
  void setInterval(int ms) { intervalMs_ = ms; }
  void setEvents(std::function<void(const lmsview::Event&)> events) { events_ = std::move(events); }
  // Called with each scan as it is published; it may wait (for room in a
  // reader's queue): a recording has no real time to keep up with.
  void setScanObserver(std::function<void(const lmsview::Scan&)> observer) {
    observer_ = std::move(observer);
  }

  void run();
  void stop();

  ScanSlot& slot() { return slot_; }
  AcquisitionStats stats() const;
  RunOutcome outcome() const { return outcome_.load(std::memory_order_acquire); }
  std::string failureText() const { return {}; }
  std::error_code failureError() const { return {}; }
  std::string placeText() const { return "recording " + path_; }

 private:
  void emit(lmsview::Event::Kind kind, std::string text, std::string where = {});
  bool stopping() const { return stop_.load(std::memory_order_acquire); }

  std::string path_;
  Recording recording_;
  int intervalMs_ = 1000;
  ScanSlot slot_;
  std::function<void(const lmsview::Event&)> events_;
  std::function<void(const lmsview::Scan&)> observer_;
  std::atomic<bool> stop_{false};
  std::atomic<RunOutcome> outcome_{RunOutcome::NotStarted};
  std::atomic<std::int64_t> played_{0};  // relaxed: a count
  std::mutex mutex_;                     // the pause's wait
  std::condition_variable wake_;
};

}  // namespace lms
