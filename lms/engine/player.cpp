// SPDX-License-Identifier: Apache-2.0
#include "lms/engine/player.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "lms/protocol/reply.h"
#include "platform/clock.h"

namespace lms {

using Kind = lmsview::Event::Kind;

bool Player::load(const std::string& path, const std::string& topic, Recording* out, std::string* why) {
  std::string notice;
  try {
    return out->load(path, why, &notice, topic);
  } catch (const std::bad_alloc&) {
    *why = "not enough memory to read the recording";
    return false;
  }
}

void Player::emit(Kind kind, std::string text, std::string where) {
  if (!events_) return;
  lmsview::Event e;
  e.kind = kind;
  e.text = std::move(text);
  e.where = std::move(where);
  events_(e);
}

AcquisitionStats Player::stats() const {
  AcquisitionStats s;
  s.scans = played_.load(std::memory_order_relaxed);
  return s;
}

void Player::run() {
  outcome_.store(RunOutcome::Running, std::memory_order_release);
  emit(Kind::opened, "opened " + placeText() + " (" + std::to_string(recording_.size()) + " scans)",
       placeText());
  if (!recording_.cut().empty())
    emit(Kind::recording_cut, "the recording was cut short: " + recording_.cut());
  if (recording_.wordsRebuilt())
    emit(Kind::words_rebuilt,
         "the recording holds no raw words: they are made from its ranges, without their flag bits");
  const auto pause = std::chrono::milliseconds(std::max(intervalMs_, 0));
  for (std::size_t i = 0; i < recording_.size(); ++i) {
    if (stopping()) break;
    lmsview::Scan& scan = slot_.back();
    const auto at = static_cast<std::int64_t>(i);
    scan.words = recording_.scan(at);
    scan.geometry = replyGeometry(static_cast<int>(scan.words.size()), recording_.units(at));
    scan.words_rebuilt = recording_.wordsRebuilt();
    setRangesFromWords(&scan);
    scan.stamp_ns = scan.received_ns = platform::wallClockNanos();
    const lmsview::Scan& published = slot_.publish();
    played_.fetch_add(1, std::memory_order_relaxed);
    if (observer_) observer_(published);
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, pause, [this] { return stopping(); })) break;
  }
  if (!stopping()) emit(Kind::recording_ended, "the recording has played its last scan");
  outcome_.store(RunOutcome::Stopped, std::memory_order_release);
}

void Player::stop() {
  {
    std::lock_guard lock(mutex_);
    stop_.store(true, std::memory_order_release);
  }
  wake_.notify_all();
}

}  // namespace lms
