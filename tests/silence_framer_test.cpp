// SPDX-License-Identifier: Apache-2.0
#include "transport/silence_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace transport;

namespace {

void add(SilenceFramer& f, const std::string& s, std::int64_t t) {
  f.addChunk(reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<int>(s.size()), t);
}

std::string take(SilenceFramer& f, int wanted = 1000) {
  std::vector<std::uint8_t> buf(1000);
  int n = f.readReady(buf.data(), wanted);
  return std::string(buf.begin(), buf.begin() + std::min(n, wanted));
}

TEST(SilenceRule, FiftyMillisecondsCountAndFortyNineDoNot) {
  EXPECT_TRUE(silenceCounts(1000, 1050));
  EXPECT_FALSE(silenceCounts(1000, 1049));
  EXPECT_TRUE(silenceCounts(0, 51));
  EXPECT_FALSE(silenceCounts(0, 0));
  EXPECT_FALSE(silenceCounts(5000, 4000));  // a clock never runs back, but a negative gap must not count
}

TEST(SilenceFramer, ChunksCloserThan50msFormOneMessagePublishedAt50ms) {
  SilenceFramer f;
  add(f, "ab", 100);
  add(f, "cd", 149);
  add(f, "ef", 198);
  EXPECT_FALSE(f.publishIfDue(247));
  EXPECT_FALSE(f.ready());
  EXPECT_EQ(f.dueTime(), 248);
  EXPECT_TRUE(f.publishIfDue(248));
  EXPECT_FALSE(f.pending());
  EXPECT_EQ(take(f), "abcdef");
  EXPECT_FALSE(f.ready());
}

TEST(SilenceFramer, GapOf50msStartsNewMessageAnd49msDoesNot) {
  SilenceFramer f;
  add(f, "one", 0);
  add(f, "two", 50);  // the framer has not looked in between: still a new burst
  ASSERT_TRUE(f.publishIfDue(100));
  EXPECT_EQ(take(f), "two");

  SilenceFramer g;
  add(g, "one", 0);
  add(g, "two", 49);
  ASSERT_TRUE(g.publishIfDue(99));
  EXPECT_EQ(take(g), "onetwo");
}

TEST(SilenceFramer, FirstChunkAlwaysStartsAMessage) {
  SilenceFramer f;
  add(f, "x", 0);  // time 0 equals the framer's initial chunk time
  ASSERT_TRUE(f.publishIfDue(50));
  EXPECT_EQ(take(f), "x");
}

TEST(SilenceFramer, SecondMessageIsDroppedWhileFirstIsUnreadAndThirdPasses) {
  SilenceFramer f;
  add(f, "first", 0);
  ASSERT_TRUE(f.publishIfDue(50));
  add(f, "second", 200);
  EXPECT_FALSE(f.publishIfDue(250));
  EXPECT_FALSE(f.pending());
  EXPECT_EQ(f.droppedMessages(), 1);
  EXPECT_EQ(take(f), "first");
  add(f, "third", 400);
  ASSERT_TRUE(f.publishIfDue(450));
  EXPECT_EQ(take(f), "third");
}

TEST(SilenceFramer, ZeroBytesPassIntactWithExactLength) {
  SilenceFramer f;
  std::vector<std::uint8_t> reply(732, 0);
  reply[0] = 0x02;
  reply[731] = 0xFF;
  f.addChunk(reply.data(), 500, 10);
  f.addChunk(reply.data() + 500, 232, 20);
  ASSERT_TRUE(f.publishIfDue(70));
  std::vector<std::uint8_t> out(802, 0xAA);
  EXPECT_EQ(f.readReady(out.data(), 802), 732);
  EXPECT_TRUE(std::equal(reply.begin(), reply.end(), out.begin()));
  EXPECT_EQ(out[732], 0xAA);
}

TEST(SilenceFramer, ReadReadyWithWantedOneTakesTheWholeMessage) {
  SilenceFramer f;
  std::vector<std::uint8_t> msg(732, 7);
  f.addChunk(msg.data(), 732, 0);
  ASSERT_TRUE(f.publishIfDue(50));
  std::uint8_t out[2] = {0, 0};
  EXPECT_EQ(f.readReady(out, 1), 732);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(out[1], 0);
  EXPECT_FALSE(f.ready());
  EXPECT_EQ(f.readReady(out, 1), 0);
}

TEST(SilenceFramer, BurstBeyond1000BytesKeepsItsFirst1000) {
  SilenceFramer f;
  std::vector<std::uint8_t> chunk(999);
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i);
  f.addChunk(chunk.data(), 999, 0);
  f.addChunk(chunk.data(), 999, 1);
  f.addChunk(chunk.data(), 999, 2);
  ASSERT_TRUE(f.publishIfDue(60));
  std::vector<std::uint8_t> out(1000);
  EXPECT_EQ(f.readReady(out.data(), 1000), 1000);
  EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), out.begin()));
  EXPECT_EQ(out[999], 0);  // first byte of the second chunk
  EXPECT_EQ(f.droppedBytes(), 3 * 999 - 1000);
  // The next burst starts clean.
  add(f, "ok", 500);
  ASSERT_TRUE(f.publishIfDue(550));
  EXPECT_EQ(take(f), "ok");
}

}  // namespace

namespace {

// A stand-in for the telegram check the driver passes: a message is whole
// when it starts with 'T', its second byte gives its length, and its last
// byte is 'E'. The framer must treat it as opaque.
int toyCheck(const std::uint8_t* b, int n) {
  if (n < 2 || b[0] != 'T' || n < b[1]) return 0;
  return b[b[1] - 1] == 'E' ? b[1] : 0;
}

std::vector<std::uint8_t> toy(int length) {
  std::vector<std::uint8_t> m(static_cast<std::size_t>(length), 'x');
  m[0] = 'T';
  m[1] = static_cast<std::uint8_t>(length);
  m.back() = 'E';
  return m;
}

std::vector<std::uint8_t> takeBytes(SilenceFramer& f) {
  std::uint8_t buf[kMessageCapacity];
  const int n = f.readReady(buf, kMessageCapacity);
  return {buf, buf + n};
}

TEST(SilenceFramerWithCheck, AWholeMessageIsPublishedAtItsLastByte) {
  SilenceFramer f;
  f.setMessageCheck(toyCheck);
  const auto m = toy(20);
  EXPECT_EQ(f.addChunk(m.data(), 20, 1000), 1);  // in one chunk: at once, no silence needed
  EXPECT_TRUE(f.ready());
  EXPECT_FALSE(f.pending());
  EXPECT_EQ(takeBytes(f), m);
  // In several chunks: published with the chunk that completes it.
  EXPECT_EQ(f.addChunk(m.data(), 7, 2000), 0);
  EXPECT_EQ(f.addChunk(m.data() + 7, 6, 2010), 0);
  EXPECT_EQ(f.addChunk(m.data() + 13, 7, 2020), 1);
  EXPECT_EQ(takeBytes(f), m);
}

TEST(SilenceFramerWithCheck, WhatIsNotWholeWaitsForTheSilenceAsBefore) {
  SilenceFramer f;
  f.setMessageCheck(toyCheck);
  auto bad = toy(20);
  bad.back() = 'X';  // the check says no
  EXPECT_EQ(f.addChunk(bad.data(), 20, 1000), 0);
  EXPECT_FALSE(f.publishIfDue(1049));
  EXPECT_TRUE(f.publishIfDue(1050));
  EXPECT_EQ(takeBytes(f), bad);
  const auto m = toy(30);
  EXPECT_EQ(f.addChunk(m.data(), 29, 2000), 0);  // one byte short
  EXPECT_FALSE(f.ready());
  EXPECT_TRUE(f.publishIfDue(2050));
  EXPECT_EQ(takeBytes(f).size(), 29u);
}

TEST(SilenceFramerWithCheck, TwoMessagesBackToBackAreTwoAndTheRestStartsTheNext) {
  SilenceFramer f;
  f.setMessageCheck(toyCheck);
  auto burst = toy(10);
  const auto second = toy(12);
  burst.insert(burst.end(), second.begin(), second.end());
  burst.push_back('z');  // the start of what comes next
  EXPECT_EQ(f.addChunk(burst.data(), static_cast<int>(burst.size()), 1000), 1);
  EXPECT_EQ(takeBytes(f), toy(10));
  EXPECT_TRUE(f.ready());  // the second waited for the slot, and took it when it was read
  EXPECT_EQ(takeBytes(f), second);
  EXPECT_TRUE(f.pending());
  EXPECT_TRUE(f.publishIfDue(1050));
  EXPECT_EQ(takeBytes(f), std::vector<std::uint8_t>{'z'});
  EXPECT_EQ(f.droppedMessages(), 0);
}

TEST(SilenceFramerWithCheck, WithoutACheckNothingChanges) {
  SilenceFramer f;
  const auto m = toy(20);
  EXPECT_EQ(f.addChunk(m.data(), 20, 1000), 0);
  EXPECT_FALSE(f.ready());
  EXPECT_FALSE(f.publishIfDue(1049));
  EXPECT_TRUE(f.publishIfDue(1050));
}

}  // namespace

namespace {

// A message keeps when its first two bytes arrived (an acknowledge and the
// reply behind it, in one chunk or two): the reply's stamp.
TEST(SilenceFramerWithCheck, AMessageKeepsWhenItsFirstBytesArrived) {
  SilenceFramer f;
  f.setMessageCheck(toyCheck);
  const auto m = toy(20);
  std::int64_t at[2] = {};
  f.addChunk(m.data(), 1, 1000, 111);
  f.addChunk(m.data() + 1, 10, 1005, 222);
  f.addChunk(m.data() + 11, 9, 1010, 333);
  ASSERT_TRUE(f.ready());
  std::uint8_t buf[64];
  f.readReady(buf, sizeof buf, at);
  EXPECT_EQ(at[0], 111);
  EXPECT_EQ(at[1], 222);
  // Both in one chunk; a message cut from the front of a burst leaves the
  // rest the burst's last chunk's time.
  auto burst = toy(10);
  burst.push_back('z');
  f.addChunk(burst.data(), static_cast<int>(burst.size()), 2000, 444);
  f.readReady(buf, sizeof buf, at);
  EXPECT_EQ(at[0], 444);
  EXPECT_EQ(at[1], 444);
  ASSERT_TRUE(f.publishIfDue(2050));
  f.readReady(buf, sizeof buf, at);
  EXPECT_EQ(at[0], 444);
}

}  // namespace
