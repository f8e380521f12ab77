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
