// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/exchange.h"

#include <gtest/gtest.h>

#include <atomic>

#include "fake_link.h"
#include "reply_builder.h"

using namespace lms;

namespace {

TEST(SendTelegram, WritesBodyThenLowThenHighChecksumByte) {
  FakeLink link;
  sendTelegram(msgRequestScan.data(), 6, link);
  ASSERT_EQ(link.writes.size(), 3u);
  EXPECT_EQ(link.writes[0].size(), 6u);
  EXPECT_EQ(link.writes[1], ByteVec{0x31});
  EXPECT_EQ(link.writes[2], ByteVec{0x18});
  EXPECT_EQ(link.wire(), (ByteVec{0x02, 0x00, 0x02, 0x00, 0x30, 0x01, 0x31, 0x18}));
  EXPECT_EQ(link.reads, 0);
}

TEST(WaitAck, VerdictIsTheFirstByteWhateverIsExpected) {
  for (int b = 0; b < 256; ++b) {
    FakeLink link;
    link.answers.push_back({static_cast<std::uint8_t>(b)});
    EXPECT_EQ(waitAck(ackmsgMode.data(), 8, link), b == kAck) << b;
  }
  FakeLink link;
  link.answers.push_back({0x06, 0x02, 0x80});
  EXPECT_TRUE(waitAck(ackmsgConfig.data(), 42, link));
  link.answers.push_back({0x06});
  EXPECT_TRUE(waitAck(nullptr, 0, link));
  link.answers.push_back({});  // a read that delivers nothing
  EXPECT_FALSE(waitAck(ackmsgMode.data(), 8, link));
}

TEST(WaitAck, KeepsEveryByteThatFollowedTheAckInOrder) {
  FakeLink link;
  ByteVec burst{0x06};
  for (int i = 0; i < 732; ++i) burst.push_back(static_cast<std::uint8_t>(i * 7));
  link.answers.push_back(burst);
  ReplyCarry carry;
  EXPECT_EQ(awaitAck(link, &carry), AckResult::Ack);
  ASSERT_EQ(carry.length, 732);
  EXPECT_TRUE(std::equal(burst.begin() + 1, burst.end(), carry.bytes.begin()));
  EXPECT_EQ(link.reads, 1);
}

TEST(WaitAck, CarryIsBoundedByOneRead) {
  FakeLink link;
  link.answers.push_back(ByteVec(1000, 0x06));
  ReplyCarry carry;
  EXPECT_EQ(awaitAck(link, &carry), AckResult::Ack);
  EXPECT_EQ(carry.length, kReplyReadSize - 1);
}

TEST(WaitAck, RefusalKeepsNothing) {
  FakeLink link;
  link.answers.push_back({kNak, 0x02, 0x80});
  ReplyCarry carry;
  carry.length = 5;
  EXPECT_EQ(awaitAck(link, &carry), AckResult::Refused);
  EXPECT_EQ(carry.length, 0);
}

TEST(WaitAck, GivesUpOnSilenceAfterOneBoundedWait) {
  FakeLink link;
  ReplyCarry carry;
  const std::int64_t t0 = platform::processMillis();
  EXPECT_EQ(awaitAck(link, &carry, 60), AckResult::Timeout);
  EXPECT_GE(platform::processMillis() - t0, 60);
  // It blocks in the link's wait rather than polling.
  EXPECT_LE(link.waits, 2);
  EXPECT_LE(link.hasDataCalls, 3);
  EXPECT_EQ(link.reads, 0);
}

TEST(WaitAck, ReturnsAtOnceWhenTheLinkIsLost) {
  FakeLink link;
  link.isLost = true;
  EXPECT_EQ(awaitAck(link, nullptr, 10'000), AckResult::LinkLost);
  EXPECT_EQ(link.waits, 0);
}

TEST(DiscardStale, EmptiesWhatWaitsBoundedly) {
  FakeLink link;
  link.answers = {{0x15}, {0x06, 0x02}, ByteVec(900, 0x41)};
  discardStale(link);
  EXPECT_TRUE(link.answers.empty());
  for (int i = 0; i < 40; ++i) link.answers.push_back({0x41});
  discardStale(link);  // a peer that never stops talking cannot hold the exchange
  EXPECT_EQ(link.answers.size(), 24u);
}

ByteVec replyBytes(std::uint16_t word) {
  return makeMeasurementReply(std::vector<std::uint16_t>(kScanPoints, word));
}

TEST(CollectReply, JoinsAReplySplitIntoMessagesInOrder) {
  const ByteVec reply = replyBytes(1234);
  FakeLink link;
  ReplyCarry carry;
  carry.length = 10;
  std::copy_n(reply.begin(), 10, carry.bytes.begin());
  link.answers = {ByteVec(reply.begin() + 10, reply.begin() + 300),
                  ByteVec(reply.begin() + 300, reply.end())};
  EXPECT_TRUE(collectReply(link, carry, platform::processMillis() + 1000));
  ASSERT_EQ(carry.length, kReplyLength);
  EXPECT_TRUE(std::equal(reply.begin(), reply.end(), carry.bytes.begin()));
  EXPECT_EQ(checkMeasurementReply(carry.bytes.data(), carry.length), ReplyCheck::Ok);
  EXPECT_EQ(link.waits, 0);
}

TEST(CollectReply, StopsAtOnceOnWhatCannotBecomeAReply) {
  FakeLink link;
  ReplyCarry carry;
  carry.bytes[0] = 0x02;
  carry.bytes[1] = 0x81;  // another reply's address
  carry.length = 2;
  link.answers = {ByteVec(100, 0x00)};
  const std::int64_t t0 = platform::processMillis();
  EXPECT_FALSE(collectReply(link, carry, t0 + 5000));
  EXPECT_LT(platform::processMillis() - t0, 1000);
  EXPECT_EQ(link.reads, 0);
}

TEST(CollectReply, WaitsUntilItsDeadlineOrTheLinkIsLost) {
  FakeLink link;
  ReplyCarry carry;
  std::int64_t t0 = platform::processMillis();
  EXPECT_FALSE(collectReply(link, carry, t0 + 80));
  EXPECT_GE(platform::processMillis() - t0, 80);
  EXPECT_LE(link.waits, 2);

  link.isLost = true;
  t0 = platform::processMillis();
  EXPECT_FALSE(collectReply(link, carry, t0 + 5000));
  EXPECT_LT(platform::processMillis() - t0, 1000);
}

TEST(CollectReply, ARaisedStopEndsItAndLongWaitsComeInSlices) {
  FakeLink link;
  ReplyCarry carry;
  std::atomic<bool> stop{true};
  const std::int64_t t0 = platform::processMillis();
  EXPECT_FALSE(collectReply(link, carry, t0 + 5000, &stop));
  EXPECT_LT(platform::processMillis() - t0, 1000);
  EXPECT_EQ(link.waits, 0);

  stop = false;
  EXPECT_FALSE(collectReply(link, carry, platform::processMillis() + 3 * kStopCheckMs, &stop));
  EXPECT_GE(link.waits, 3);  // the bound came in slices, each time looking at the stop
}

TEST(CollectReply, OnALineItSleepsForTheRestInsteadOfWaitingPerByte) {
  const ByteVec reply = replyBytes(77);
  FakeLink link;
  link.restMs = 30;
  ReplyCarry carry;
  link.answers = {ByteVec(reply.begin(), reply.begin() + 100)};
  EXPECT_FALSE(collectReply(link, carry, platform::processMillis() + 100));
  EXPECT_EQ(carry.length, 100);
  EXPECT_EQ(link.waits, 0);  // it slept for the line time instead
}

}  // namespace
