#include "lms/protocol/scan_slot.h"

#include <algorithm>

namespace lms {

void toScan(const ScanView& view, std::uint64_t seq, lmsview::Scan* out) {
  out->seq = seq;
  out->stamp_ns = view.receivedNs;
  const std::size_t n =
      std::min<std::size_t>(static_cast<std::size_t>(std::max(view.count, 0)), out->words.size());
  for (std::size_t i = 0; i < out->words.size(); ++i) {
    const std::uint16_t w = i < n && view.words ? view.words[i] : 0;
    out->words[i] = w;
    out->ranges[i] = static_cast<float>((w & 0x1FFF) / 1000.0);
  }
}

ScanSlot::ScanSlot() : buffers_{} {}

void ScanSlot::publishScan(const float* ranges, int count, const std::uint16_t* words,
                           std::int64_t receivedNs) {
  count = std::clamp(count, 0, kScanPoints);
  Buffer& b = buffers_[back_];
  std::copy(ranges, ranges + count, b.ranges);
  if (words)
    std::copy(words, words + count, b.words);
  else
    std::fill(b.words, b.words + count, std::uint16_t{0});
  b.count = count;
  b.receivedNs = receivedNs;
  back_ = swapMiddle(back_, kNewScanBit) & kIndexMask;
  signalReader(false);
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
  // the buffer we get back was last used by the other side before it let go.
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

bool ScanSlot::takeScan(ScanView& view) {
  if ((middle_.load(std::memory_order_relaxed) & kNewScanBit) == 0) return false;
  // Only the reader clears the mark, so it is still set here: the swap takes
  // the newest scan and clears the mark in one step.
  front_ = swapMiddle(front_, 0) & kIndexMask;
  const Buffer& b = buffers_[front_];
  view.ranges = b.ranges;
  view.angles = kAngleTable.data();
  view.words = b.words;
  view.count = b.count;
  view.receivedNs = b.receivedNs;
  return true;
}

bool ScanSlot::takeScan(const float*& ranges, const float*& angles, int& count) {
  ScanView view;
  if (!takeScan(view)) return false;
  ranges = view.ranges;
  angles = view.angles;
  count = view.count;
  return true;
}

}  // namespace lms
