#include "lms/protocol/scan_slot.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace lms;

namespace {

struct Scan {
  float ranges[kScanPoints];
};

Scan makeScan(float value) {
  Scan s{};
  for (float& r : s.ranges) r = value;
  return s;
}

TEST(ScanSlot, TakeBeforeAnyPublishReturnsFalseAndLeavesArgumentsAlone) {
  auto slot = std::make_unique<ScanSlot>();
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 42;
  EXPECT_FALSE(slot->takeScan(r, a, count));
  EXPECT_EQ(r, nullptr);
  EXPECT_EQ(count, 42);
}

TEST(ScanSlot, OnePublishIsTakenOnce) {
  auto slot = std::make_unique<ScanSlot>();
  Scan s = makeScan(12.5f);
  slot->publishScan(s.ranges, kScanPoints);
  EXPECT_TRUE(slot->newScan());
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 0;
  ASSERT_TRUE(slot->takeScan(r, a, count));
  EXPECT_EQ(count, kScanPoints);
  EXPECT_EQ(r[360], 12.5f);
  EXPECT_EQ(a, kAngleTable.data());  // the one table, not a copy per scan
  EXPECT_FALSE(slot->newScan());
  const float* r2 = nullptr;
  EXPECT_FALSE(slot->takeScan(r2, a, count));
  EXPECT_EQ(r2, nullptr);
}

TEST(ScanSlot, TwoPublishesThenOneTakeHandsOutTheNewer) {
  auto slot = std::make_unique<ScanSlot>();
  Scan first = makeScan(1.0f);
  Scan second = makeScan(2.0f);
  slot->publishScan(first.ranges, kScanPoints);
  slot->publishScan(second.ranges, 7);
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 0;
  ASSERT_TRUE(slot->takeScan(r, a, count));
  EXPECT_EQ(count, 7);
  EXPECT_EQ(r[0], 2.0f);
  EXPECT_FALSE(slot->takeScan(r, a, count));
}

TEST(ScanSlot, TakenArraysKeepTheirValuesWhileTheWriterGoesOn) {
  auto slot = std::make_unique<ScanSlot>();
  Scan s = makeScan(5.0f);
  slot->publishScan(s.ranges, kScanPoints);
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 0;
  ASSERT_TRUE(slot->takeScan(r, a, count));
  // The driver reuses its decode buffer: publishing from it again and again
  // must never reach the arrays the reader holds.
  for (int i = 0; i < 10; ++i) {
    s = makeScan(100.0f + static_cast<float>(i));
    slot->publishScan(s.ranges, kScanPoints);
  }
  for (int i = 0; i < kScanPoints; ++i) ASSERT_EQ(r[i], 5.0f);
}

TEST(ScanSlot, ClampsCountToTheArraySize) {
  auto slot = std::make_unique<ScanSlot>();
  Scan s = makeScan(1.0f);
  slot->publishScan(s.ranges, -3);
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 9;
  ASSERT_TRUE(slot->takeScan(r, a, count));
  EXPECT_EQ(count, 0);
}

// One writer reusing a single buffer, one reader checking that every scan it
// takes is whole: all ranges of a scan carry the same sequence number, and
// numbers only grow. Run under ThreadSanitizer this also proves the ordering.
TEST(ScanSlot, ThousandsOfScansAcrossTwoThreadsStayConsistent) {
  auto slot = std::make_unique<ScanSlot>();
  constexpr int kScans = 20000;
  std::atomic<bool> writerDone{false};
  std::thread writer([&] {
    Scan buf = makeScan(0);
    for (int n = 1; n <= kScans; ++n) {
      for (float& v : buf.ranges) v = static_cast<float>(n);
      slot->publishScan(buf.ranges, kScanPoints);
      if (n % 64 == 0) std::this_thread::yield();
    }
    writerDone.store(true, std::memory_order_release);
  });
  int taken = 0;
  float last = 0;
  bool torn = false;
  for (;;) {
    const bool done = writerDone.load(std::memory_order_acquire);
    const float* r = nullptr;
    const float* a = nullptr;
    int count = 0;
    if (slot->takeScan(r, a, count)) {
      ++taken;
      if (count != kScanPoints || r[0] <= last) torn = true;
      for (int i = 0; i < count; ++i) {
        if (r[i] != r[0] || a[i] != kAngleTable[static_cast<std::size_t>(i)]) torn = true;
      }
      last = r[0];
    } else if (done) {
      break;
    } else {
      std::this_thread::yield();
    }
  }
  writer.join();
  EXPECT_FALSE(torn);
  EXPECT_GT(taken, 0);
  EXPECT_EQ(last, static_cast<float>(kScans));  // the newest scan is never lost
}

// The reader sleeps in waitForScan and is woken by each publish: with a
// writer that waits for each scan to be taken, every one arrives, in order,
// with its words and time stamp, and a wake-up ends the last wait.
TEST(ScanSlot, AWaitingReaderIsWokenByEveryPublishAndByWakeReader) {
  auto slot = std::make_unique<ScanSlot>();
  constexpr int kScans = 2000;
  std::atomic<int> takenCount{0};
  std::thread writer([&] {
    Scan buf = makeScan(0);
    std::uint16_t words[kScanPoints] = {};
    for (int n = 1; n <= kScans; ++n) {
      for (float& v : buf.ranges) v = static_cast<float>(n);
      words[0] = static_cast<std::uint16_t>(n);
      slot->publishScan(buf.ranges, kScanPoints, words, 1000 + n);
      while (takenCount.load(std::memory_order_acquire) < n) std::this_thread::yield();
    }
    slot->wakeReader();
  });
  int expected = 1;
  bool inOrder = true;
  while (slot->waitForScan()) {
    ScanView v;
    ASSERT_TRUE(slot->takeScan(v));
    inOrder = inOrder && v.ranges[0] == static_cast<float>(expected) && v.words[0] == expected &&
              v.receivedNs == 1000 + expected && v.angles == kAngleTable.data();
    takenCount.store(expected, std::memory_order_release);
    ++expected;
  }
  writer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(expected, kScans + 1);
  EXPECT_FALSE(slot->newScan());
}

TEST(ScanSlot, AWakeUpBeforeTheWaitIsNotLost) {
  auto slot = std::make_unique<ScanSlot>();
  slot->wakeReader();
  Scan s = makeScan(3.0f);
  slot->publishScan(s.ranges, kScanPoints);  // the swap keeps the pending wake-up
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 0;
  ASSERT_TRUE(slot->takeScan(r, a, count));  // and so does the reader's
  EXPECT_FALSE(slot->waitForScan());         // returns at once: woken, no scan
  slot->publishScan(s.ranges, kScanPoints);
  EXPECT_TRUE(slot->waitForScan());  // a scan waits
  std::thread waker([&] { slot->wakeReader(); });
  ASSERT_TRUE(slot->takeScan(r, a, count));
  slot->waitForScan();  // ends when the other thread wakes it
  waker.join();
}

}  // namespace
