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

#include "lms/protocol/reply.h"
#include "lmsview/scanner.h"

namespace lms {

// One scan as the reader gets it. The arrays stay unchanged and readable
// until this reader's next successful take, or the slot's end.
struct ScanView {
  const float* ranges = nullptr;         // centimetres
  const float* angles = nullptr;         // radians: kAngleTable
  const std::uint16_t* words = nullptr;  // the raw range words as received, flag bits included
  int count = 0;
  std::int64_t receivedNs = 0;  // host wall-clock time of reception, ns since the epoch (UTC)
};

// The one scan type after the hand-off: the raw words, ranges in metres from
// them (bits 0-12 / 1000), the stamp, and the number `seq` the caller counts.
void toScan(const ScanView& view, std::uint64_t seq, lmsview::Scan* out);

class ScanSlot {
 public:
  ScanSlot();

  // Writer only. Copies `count` ranges (clamped to 0..361) and, when given,
  // as many raw words (otherwise the words read 0).
  void publishScan(const float* ranges, int count, const std::uint16_t* words = nullptr,
                   std::int64_t receivedNs = 0);

  // Reader only. On true the pointers and count describe the newest scan
  // (`angles` is kAngleTable); on false the arguments are left as they were.
  bool takeScan(const float*& ranges, const float*& angles, int& count);
  bool takeScan(ScanView& view);

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
  // Swaps the middle buffer index for `index` (with `marks`), keeping a
  // pending wake-up; returns the old word.
  unsigned swapMiddle(unsigned index, unsigned marks);
  struct Buffer {
    float ranges[kScanPoints];
    std::uint16_t words[kScanPoints];
    int count;
    std::int64_t receivedNs;
  };
  void signalReader(bool all);

  Buffer buffers_[3];
  std::atomic<unsigned> middle_{1};
  std::mutex signalMutex_;
  std::condition_variable signal_;
  unsigned back_ = 0;   // writer's buffer
  unsigned front_ = 2;  // reader's buffer
};

}  // namespace lms
