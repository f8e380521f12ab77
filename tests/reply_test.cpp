// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/reply.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "reply_builder.h"

using namespace lms;

namespace {

TEST(CheckMeasurementReply, AcceptsAWholeReplyWithValidChecksum) {
  auto r = makeMeasurementReply({100, 200});
  ASSERT_EQ(r.size(), 732u);
  EXPECT_EQ(checkMeasurementReply(r.data(), 732), ReplyCheck::Ok);
  // Extra bytes behind a whole reply do not matter.
  r.resize(802, 0xEE);
  EXPECT_EQ(checkMeasurementReply(r.data(), 802), ReplyCheck::Ok);
}

TEST(CheckMeasurementReply, TellsWhyItRejects) {
  auto r = makeMeasurementReply({});
  EXPECT_EQ(checkMeasurementReply(r.data(), 731), ReplyCheck::TooShort);
  EXPECT_EQ(checkMeasurementReply(r.data(), 4), ReplyCheck::TooShort);
  EXPECT_EQ(checkMeasurementReply(r.data(), 3), ReplyCheck::NotAReply);
  EXPECT_EQ(checkMeasurementReply(r.data(), 0), ReplyCheck::NotAReply);

  std::vector<std::uint8_t> behindAck{0x06};
  behindAck.insert(behindAck.end(), r.begin(), r.end());
  EXPECT_EQ(checkMeasurementReply(behindAck.data(), 733), ReplyCheck::NotAReply);

  for (int pos : {1, 2, 3}) {
    auto bad = r;
    bad[static_cast<std::size_t>(pos)] ^= 0x01;
    EXPECT_EQ(checkMeasurementReply(bad.data(), 732), ReplyCheck::NotAReply) << pos;
  }
  // A single flipped bit anywhere from the command byte to the checksum is caught.
  for (int pos = 4; pos < 732; ++pos) {
    auto bad = r;
    bad[static_cast<std::size_t>(pos)] ^= 0x10;
    EXPECT_EQ(checkMeasurementReply(bad.data(), 732), ReplyCheck::BadChecksum) << pos;
  }
  EXPECT_STREQ(replyCheckText(ReplyCheck::BadChecksum), "checksum mismatch");
  EXPECT_STREQ(replyCheckText(ReplyCheck::TooShort), "reply too short");
  EXPECT_STREQ(replyCheckText(ReplyCheck::NotAReply), "not a measurement reply");
}

TEST(DecodeRanges, MasksFlagBitsAndDividesByTen) {
  const std::uint8_t bytes[] = {0x64, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x10, 0x27};
  float ranges[4] = {-1, -1, -1, -1};
  int count = -1;
  decodeRanges(8, bytes, ranges, &count);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(ranges[0], 10.0f);
  EXPECT_EQ(ranges[1], 0.0f);
  EXPECT_EQ(ranges[2], static_cast<float>(8191 / 10.0));
  EXPECT_EQ(ranges[3], static_cast<float>(1808 / 10.0));
}

TEST(DecodeRanges, AWholeReplyGives361Values) {
  std::vector<std::uint16_t> words;
  words.reserve(kScanPoints);
  for (int i = 0; i < kScanPoints; ++i)
    words.push_back(static_cast<std::uint16_t>(i * 20 + 0xE000 * (i % 2)));
  auto r = makeMeasurementReply(words);
  float ranges[kScanPoints];
  int count = 0;
  decodeRanges(kRangeBytes, r.data() + kRangeOffset, ranges, &count);
  ASSERT_EQ(count, kScanPoints);
  for (int i = 0; i < kScanPoints; ++i) EXPECT_FLOAT_EQ(ranges[i], static_cast<float>(i * 2)) << i;
}

TEST(DecodeMeasurementReply, GivesWordsMetresAndTheGeometryInTheUnitTheReplyStates) {
  std::vector<std::uint16_t> words(kScanPoints, 0);
  words[0] = 1234;
  words[1] = 0xE000 | 8191;  // flag bits and a code above the largest range
  words[360] = 10;
  const struct {
    Units units;
    int countWord;  // as the scanner sends it for 361 points
    float first, flagged;
    double rangeMax;
  } cases[] = {
      {Units::Millimetres, 0x4169, 1.234f, 8.191f, 8.18},
      {Units::Centimetres, 0x0169, 12.34f, 81.91f, 81.8},
      {Units::Decimetres, 0x8169, 123.4f, 819.1f, 818.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(unitsName(c.units));
    const auto reply = makeMeasurementReply(words, c.units);
    ASSERT_EQ(reply[5] | (reply[6] << 8), c.countWord);
    ASSERT_EQ(checkMeasurementReply(reply.data(), static_cast<int>(reply.size())), ReplyCheck::Ok);
    lmsview::Scan scan;
    decodeMeasurementReply(reply.data(), &scan);
    EXPECT_EQ(scan.words, words);
    ASSERT_EQ(scan.ranges.size(), 361u);
    EXPECT_EQ(scan.ranges[0], c.first);
    EXPECT_EQ(scan.ranges[1], c.flagged);
    EXPECT_EQ(scan.geometry.count, 361u);
    EXPECT_EQ(scan.geometry.angle_increment, std::numbers::pi / 360.0);
    EXPECT_DOUBLE_EQ(scan.geometry.range_max, c.rangeMax);
  }
}

TEST(CheckMeasurementReply, ACountWordThatDisagreesWithTheLengthIsCorruption) {
  const std::vector<std::uint16_t> words(kScanPoints, 500);
  // The checksum is made over the bad word, so only the word itself tells.
  for (const int countWord : {0x4168, 0x416A, 0x40B5 /* 181 */, 0xC169 /* no unit has code 3 */})
    EXPECT_EQ(checkMeasurementReply(makeMeasurementReply(words, Units::Millimetres, countWord).data(), 732),
              ReplyCheck::BadCountWord)
        << std::hex << countWord;
}

}  // namespace
