#include "lms/scan_slot.h"

#include <algorithm>

namespace lms {

ScanSlot::ScanSlot() : buffers_{} {}

void ScanSlot::publishScan(const float* ranges, int count) {
  count = std::clamp(count, 0, kScanPoints);
  Buffer& b = buffers_[back_];
  std::copy(ranges, ranges + count, b.ranges);
  b.count = count;
  // Release: the values above become visible with the mark. Acquire: the
  // buffer we get back was last read by the reader before it let go of it.
  back_ = middle_.exchange(back_ | kNewScanBit, std::memory_order_acq_rel) & kIndexMask;
}

bool ScanSlot::takeScan(const float*& ranges, const float*& angles, int& count) {
  if ((middle_.load(std::memory_order_relaxed) & kNewScanBit) == 0) return false;
  // Only the reader clears the mark, so it is still set here: the exchange
  // takes the newest scan and clears the mark in one step.
  front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndexMask;
  const Buffer& b = buffers_[front_];
  ranges = b.ranges;
  angles = kAngleTable.data();
  count = b.count;
  return true;
}

}  // namespace lms
