#pragma once

// Hand-off of finished scans from the acquisition thread (one writer) to the
// display thread (one reader).
//
// Three buffers rotate: the writer fills its back buffer and swaps it with the
// middle one; the reader swaps its front buffer with the middle one when a new
// scan is there. Both swaps are one atomic exchange (acquire-release), so the
// values of a scan are visible before its new-scan mark, the reader's
// test-and-clear is one step, and the writer never writes a buffer the reader
// holds. Nothing is allocated per scan. The angles are the same for every
// scan: the slot hands out the one constant table instead of copying it.

#include <atomic>
#include <cstdint>

#include "lms/scan.h"

namespace lms {

class ScanSlot {
 public:
  ScanSlot();

  // Writer only. Copies `count` ranges (clamped to 0..361).
  void publishScan(const float* ranges, int count);

  // Reader only. On true the pointers and count describe the newest scan
  // (`angles` is kAngleTable); the ranges stay unchanged and readable until
  // this reader's next takeScan that returns true, or the slot's end. On false
  // the arguments are left as they were.
  bool takeScan(const float*& ranges, const float*& angles, int& count);

  // Whether a scan is waiting (for diagnostics and tests).
  bool newScan() const { return (middle_.load(std::memory_order_acquire) & kNewScanBit) != 0; }

 private:
  static constexpr unsigned kNewScanBit = 4;
  static constexpr unsigned kIndexMask = 3;
  struct Buffer {
    float ranges[kScanPoints];
    int count;
  };
  Buffer buffers_[3];
  std::atomic<unsigned> middle_{1};
  unsigned back_ = 0;   // writer's buffer
  unsigned front_ = 2;  // reader's buffer
};

}  // namespace lms
