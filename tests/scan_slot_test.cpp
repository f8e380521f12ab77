// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/scan_slot.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "lms/protocol/reply.h"

using namespace lms;

namespace {

// Fills the writer's record with `count` equal words and publishes it.
const lmsview::Scan& publish(ScanSlot& slot, std::uint16_t word, int count = kScanPoints,
                             std::int64_t stamp = 0) {
  lmsview::Scan& s = slot.back();
  s.geometry = replyGeometry(kScanPoints);
  s.words.assign(static_cast<std::size_t>(count), word);
  setRangesFromWords(&s);
  s.stamp_ns = stamp;
  return slot.publish();
}

TEST(ScanSlot, TakeBeforeAnyPublishGivesNothingAndLeavesArgumentsAlone) {
  auto slot = std::make_unique<ScanSlot>();
  EXPECT_EQ(slot->takeScan(), nullptr);
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 42;
  EXPECT_FALSE(slot->takeScan(r, a, count));
  EXPECT_EQ(r, nullptr);
  EXPECT_EQ(count, 42);
}

TEST(ScanSlot, APublishIsNumberedTakenOnceAndTheNewerOfTwoWins) {
  auto slot = std::make_unique<ScanSlot>();
  EXPECT_EQ(publish(*slot, 125).seq, 0u);
  EXPECT_TRUE(slot->newScan());
  const lmsview::Scan* s = slot->takeScan();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->seq, 0u);
  EXPECT_EQ(s->ranges.size(), 361u);
  EXPECT_EQ(s->ranges[360], 0.125f);
  EXPECT_FALSE(slot->newScan());
  EXPECT_EQ(slot->takeScan(), nullptr);

  publish(*slot, 1000);
  publish(*slot, 2000, 7);
  // The driver's form: centimetres (raw / 10) and each point's angle.
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 0;
  ASSERT_TRUE(slot->takeScan(r, a, count));
  EXPECT_EQ(count, 7);
  EXPECT_EQ(r[0], 200.0f);
  EXPECT_EQ(a[6], static_cast<float>(replyGeometry(kScanPoints).angle(6)));
  EXPECT_FALSE(slot->takeScan(r, a, count));
}

TEST(ScanSlot, ATakenRecordKeepsItsValuesWhileTheWriterGoesOn) {
  auto slot = std::make_unique<ScanSlot>();
  publish(*slot, 5);
  const lmsview::Scan* held = slot->takeScan();
  ASSERT_NE(held, nullptr);
  // The writer fills its records in place again and again: never the one the reader holds.
  for (int i = 0; i < 10; ++i) publish(*slot, static_cast<std::uint16_t>(100 + i));
  for (const std::uint16_t w : held->words) ASSERT_EQ(w, 5);
}

// One writer filling its records in place, one reader checking that every
// scan it takes is whole: all words of a scan carry the same number, and
// numbers only grow. Run under ThreadSanitizer this also proves the ordering.
TEST(ScanSlot, ThousandsOfScansAcrossTwoThreadsStayConsistent) {
  auto slot = std::make_unique<ScanSlot>();
  constexpr int kScans = 20000;
  std::atomic<bool> writerDone{false};
  std::thread writer([&] {
    for (int n = 1; n <= kScans; ++n) {
      publish(*slot, static_cast<std::uint16_t>(n));
      if (n % 64 == 0) std::this_thread::yield();
    }
    writerDone.store(true, std::memory_order_release);
  });
  int taken = 0;
  std::uint16_t last = 0;
  bool torn = false;
  for (;;) {
    const bool done = writerDone.load(std::memory_order_acquire);
    if (const lmsview::Scan* s = slot->takeScan()) {
      ++taken;
      if (s->words.size() != kScanPoints || s->words[0] <= last || s->seq + 1 != s->words[0]) torn = true;
      for (const std::uint16_t w : s->words) torn = torn || w != s->words[0];
      last = s->words[0];
    } else if (done) {
      break;
    } else {
      std::this_thread::yield();
    }
  }
  writer.join();
  EXPECT_FALSE(torn);
  EXPECT_GT(taken, 0);
  EXPECT_EQ(last, kScans);  // the newest scan is never lost
}

// The reader sleeps in waitForScan and is woken by each publish: with a
// writer that waits for each scan to be taken, every one arrives, in order,
// with its words and time stamp, and a wake-up ends the last wait.
TEST(ScanSlot, AWaitingReaderIsWokenByEveryPublishAndByWakeReader) {
  auto slot = std::make_unique<ScanSlot>();
  constexpr int kScans = 2000;
  std::atomic<int> takenCount{0};
  std::thread writer([&] {
    for (int n = 1; n <= kScans; ++n) {
      publish(*slot, static_cast<std::uint16_t>(n), kScanPoints, 1000 + n);
      while (takenCount.load(std::memory_order_acquire) < n) std::this_thread::yield();
    }
    slot->wakeReader();
  });
  int expected = 1;
  bool inOrder = true;
  while (slot->waitForScan()) {
    const lmsview::Scan* s = slot->takeScan();
    ASSERT_NE(s, nullptr);
    inOrder = inOrder && s->words[0] == expected && s->stamp_ns == 1000 + expected;
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
  publish(*slot, 3);                     // the swap keeps the pending wake-up
  ASSERT_NE(slot->takeScan(), nullptr);  // and so does the reader's
  EXPECT_FALSE(slot->waitForScan());     // returns at once: woken, no scan
  publish(*slot, 3);
  EXPECT_TRUE(slot->waitForScan());  // a scan waits
  std::thread waker([&] { slot->wakeReader(); });
  ASSERT_NE(slot->takeScan(), nullptr);
  slot->waitForScan();  // ends when the other thread wakes it
  waker.join();
}

}  // namespace
