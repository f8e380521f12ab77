// SPDX-License-Identifier: Apache-2.0
#pragma once

// Hand-off of finished scans from the acquisition thread (one writer) to the
// display thread (one reader).
//
// Three scan records rotate: the writer fills its back record in place and
// swaps it with the middle one; the reader swaps its front record with the
// middle one when a new scan is there. Both swaps are one atomic exchange
// (acquire-release), so the values of a scan are visible before its new-scan
// mark, the reader's test-and-clear is one step, and the writer never writes
// a record the reader holds. Nothing is allocated per scan once the records
// have grown to the largest scan.
//
// Publishing numbers the scan: `seq` counts the scans published, so every
// consumer of a source sees the same numbers.
//
// The reader can sleep until a scan is published (waitForScan): a condition
// variable carries the signal only (the data stays lock-free). A publish or
// wakeReader() changes the atomic word, then takes and drops the signal's
// mutex before notifying, so a reader between its test and its sleep cannot
// miss it. A wake-up bit in that word survives both swaps until the reader
// sees it. (The C++20 atomic wait would do, but the libstdc++ of the Windows
// build can lose its notifications.)

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "lmsview/scan.h"

namespace lms {

class ScanSlot {
 public:
  ScanSlot();

  // Writer only: the record to fill before publish(); its buffers are kept
  // from an earlier scan, so filling them allocates nothing.
  lmsview::Scan& back() { return records_[back_]; }
  // Writer only: numbers the back record and hands it over. The record
  // returned is the one just published; it stays unchanged until the
  // writer's next publish, so the writer may still read it.
  const lmsview::Scan& publish();

  // Reader only. The newest scan, or nullptr when none came since the last
  // take; the record stays unchanged and readable until the reader's next
  // successful take.
  const lmsview::Scan* takeScan();
  // Reader only, the driver's form: the newest scan's ranges in centimetres
  // (raw / 10), its angles in radians and its count, in buffers of the
  // reader's that stay until its next take.
  bool takeScan(const float*& ranges, const float*& angles, int& count);

  // Reader only. Sleeps, without a timeout, until a scan is waiting or
  // wakeReader() was called; true when a scan is waiting.
  bool waitForScan();
  // Any thread: ends the reader's waitForScan (now, or the next one).
  void wakeReader();

  // Whether a scan is waiting (for diagnostics and tests).
  bool newScan() const { return (middle_.load(std::memory_order_acquire) & kNewScanBit) != 0; }

 private:
  static constexpr unsigned kIndexMask = 3;
  static constexpr unsigned kNewScanBit = 4;
  static constexpr unsigned kWakeBit = 8;
  // Swaps the middle record index for `index` (with `marks`), keeping a
  // pending wake-up; returns the old word.
  unsigned swapMiddle(unsigned index, unsigned marks);
  void signalReader(bool all);

  lmsview::Scan records_[3];
  std::atomic<unsigned> middle_{1};
  std::mutex signalMutex_;
  std::condition_variable signal_;
  unsigned back_ = 0;                        // writer's record
  unsigned front_ = 2;                       // reader's record
  std::uint64_t published_ = 0;              // writer's
  std::vector<float> centimetres_, angles_;  // reader's, for the driver's form
};

}  // namespace lms
