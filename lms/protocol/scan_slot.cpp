// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/scan_slot.h"

#include "lms/protocol/reply.h"

namespace lms {

ScanSlot::ScanSlot() {
  // Room for the largest scan from the start: a scan allocates nothing.
  for (lmsview::Scan& r : records_) {
    r.ranges.reserve(kMaxScanPoints);
    r.words.reserve(kMaxScanPoints);
  }
}

const lmsview::Scan& ScanSlot::publish() {
  const unsigned published = back_;
  records_[published].seq = published_++;
  back_ = swapMiddle(back_, kNewScanBit) & kIndexMask;
  signalReader(false);
  return records_[published];
}

void ScanSlot::signalReader(bool all) {
  // The word changed before this: a reader that tested it under the mutex
  // either saw the change or is asleep by the time we get the mutex.
  { std::lock_guard lock(signalMutex_); }
  if (all)
    signal_.notify_all();
  else
    signal_.notify_one();
}

unsigned ScanSlot::swapMiddle(unsigned index, unsigned marks) {
  // Release: the values written before become visible with the swap. Acquire:
  // the record we get back was last used by the other side before it let go.
  unsigned old = middle_.load(std::memory_order_relaxed);
  while (!middle_.compare_exchange_weak(old, index | marks | (old & kWakeBit), std::memory_order_acq_rel,
                                        std::memory_order_relaxed)) {
  }
  return old;
}

bool ScanSlot::waitForScan() {
  {
    std::unique_lock lock(signalMutex_);
    signal_.wait(
        lock, [this] { return (middle_.load(std::memory_order_acquire) & (kNewScanBit | kWakeBit)) != 0; });
  }
  unsigned v = middle_.load(std::memory_order_acquire);
  if (v & kWakeBit) v = middle_.fetch_and(~kWakeBit, std::memory_order_acq_rel);
  return (v & kNewScanBit) != 0;
}

void ScanSlot::wakeReader() {
  middle_.fetch_or(kWakeBit, std::memory_order_release);
  signalReader(true);
}

const lmsview::Scan* ScanSlot::takeScan() {
  if ((middle_.load(std::memory_order_relaxed) & kNewScanBit) == 0) return nullptr;
  // Only the reader clears the mark, so it is still set here: the swap takes
  // the newest scan and clears the mark in one step.
  front_ = swapMiddle(front_, 0) & kIndexMask;
  return &records_[front_];
}

bool ScanSlot::takeScan(const float*& ranges, const float*& angles, int& count) {
  const lmsview::Scan* scan = takeScan();
  if (scan == nullptr) return false;
  const std::size_t n = scan->words.size();
  centimetres_.resize(n);
  angles_.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    centimetres_[i] = static_cast<float>((scan->words[i] & 0x1FFF) / 10.0);
    angles_[i] = static_cast<float>(scan->geometry.angle(i));
  }
  ranges = centimetres_.data();
  angles = angles_.data();
  count = static_cast<int>(n);
  return true;
}

}  // namespace lms
