// SPDX-License-Identifier: Apache-2.0
// The MCAP writer's records and CRCs against bytes worked out by hand, and
// its reader on every prefix of a file (a recording cut short anywhere).

#include "lms/formats/mcap.h"

#include <gtest/gtest.h>

#include <string>

#include "lms/formats/laser_scan.h"
#include "lms/protocol/reply.h"

using namespace lms;

namespace {

std::string hex(std::string_view bytes) {
  std::string out;
  char b[4];
  for (const char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    out += b;
  }
  return out;
}

TEST(Mcap, CrcAndTheFirstRecordsAreAsTheFormatSays) {
  EXPECT_EQ(mcap::crc32("123456789"), 0xCBF43926u);                   // the CRC-32 check value
  EXPECT_EQ(mcap::crc32("56789", mcap::crc32("1234")), 0xCBF43926u);  // in pieces
  mcap::Writer w("ros2", "x");
  // Magic; Header: opcode 1, length 13, profile "ros2", library "x".
  EXPECT_EQ(hex(w.take()),
            "894d43415030"
            "0d0a"
            "01"
            "0d00000000000000"
            "04000000726f7332"
            "0100000078");
  EXPECT_EQ(w.addSchema("S", "e", "d"), 1);
  // Schema: opcode 3, length 2+5+5+5 = 17, id 1, name, encoding, data.
  EXPECT_EQ(hex(w.take()),
            "03"
            "1100000000000000"
            "0100"
            "0100000053"
            "0100000065"
            "0100000064");
  EXPECT_EQ(w.addChannel(1, "/t", "json", {{"k", "v"}}), 0);
  // Channel: opcode 4, length 2+2+6+8+14 = 32, id 0, schema 1, topic, encoding, map of 10 bytes.
  EXPECT_EQ(hex(w.take()),
            "04"
            "2000000000000000"
            "0000"
            "0100"
            "020000002f74"
            "040000006a736f6e"
            "0a00000001000000"
            "6b0100000076");
}

TEST(Mcap, WhatIsWrittenReadsBackAndAFileCutAnywhereGivesItsWholeChunks) {
  mcap::Writer w("ros2", "lmsview test");
  const auto schema = w.addSchema("sensor_msgs/msg/LaserScan", "ros2msg", kLaserScanDefinition);
  const auto channel = w.addChannel(schema, "/scan", "cdr", {});
  lmsview::Scan scan;
  scan.stamp_ns = 1'500'000'000;
  scan.geometry = replyGeometry(kScanPoints);
  scan.ranges.assign(361, 1.25f);
  w.addMessage(channel, 1, 1, laserScanCdr(laserScanFields(scan, "laser")));
  w.closeChunk();
  w.addMessage(channel, 2, 2, "two");
  w.finish();
  const std::string file = w.take();
  std::vector<mcap::Message> got;
  std::string why;
  ASSERT_TRUE(mcap::readMessages(file, &got, &why)) << why;
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].topic, "/scan");
  EXPECT_EQ(got[0].schemaName, "sensor_msgs/msg/LaserScan");
  std::vector<float> ranges;
  ASSERT_TRUE(laserScanRangesFromCdr(got[0].data, &ranges));
  EXPECT_EQ(ranges, std::vector<float>(361, 1.25f));
  EXPECT_EQ(got[1].data, "two");
  EXPECT_EQ(file.substr(file.size() - 8), std::string(mcap::kMagic));
  // Cut anywhere: no crash, never a message that was not written, and every
  // chunk that is whole before the cut is there.
  std::size_t seen = 0;
  for (std::size_t n = 0; n < file.size(); ++n) {
    std::vector<mcap::Message> part;
    if (!mcap::readMessages(std::string_view(file).substr(0, n), &part, &why)) continue;
    EXPECT_LE(part.size(), 2u);
    EXPECT_GE(part.size(), seen);  // a longer prefix never holds fewer
    seen = part.size();
  }
  EXPECT_EQ(seen, 2u);
}

// The CDR of a LaserScan, byte for byte: the header, then aligned floats.
TEST(LaserScanCdr, LayoutByHand) {
  lmsview::Scan scan;
  scan.stamp_ns = 3'000'000'007;
  scan.geometry = replyGeometry(kScanPoints);
  scan.ranges.assign(361, 0.0f);
  const std::string cdr = laserScanCdr(laserScanFields(scan, "ab"));
  EXPECT_EQ(hex(cdr.substr(0, 20)),
            "00010000"
            "03000000"
            "07000000"
            "03000000"
            "61620000");
  // Seven floats, the count 361, 361 ranges, the count 0: 20 + 28 + 4 + 1444 + 4.
  EXPECT_EQ(cdr.size(), 20u + 28 + 4 + 1444 + 4);
  EXPECT_EQ(hex(cdr.substr(48, 4)), "69010000");
}

}  // namespace
