// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/telegram.h"

#include <gtest/gtest.h>

#include <string>

using namespace lms;

namespace {

template <std::size_t N>
std::uint16_t crcOf(const std::array<std::uint8_t, N>& a) {
  return lmsCrc16(a.data(), static_cast<int>(N));
}

TEST(LmsCrc16, WorkedExamplesAndEdges) {
  EXPECT_EQ(lmsCrc16(nullptr, 0), 0x0000);
  const std::uint8_t stx = 0x02;
  EXPECT_EQ(lmsCrc16(&stx, 1), 0x0002);
  EXPECT_EQ(crcOf(msgRequestScan), 0x1831);
  EXPECT_EQ(crcOf(msgStopLMS), 0x0835);
  const std::string abc = "abc";
  EXPECT_EQ(lmsCrc16(reinterpret_cast<const std::uint8_t*>(abc.data()), 3), 0xA123);
}

struct CatalogueEntry {
  const char* name;
  const std::uint8_t* data;
  int length;
  std::uint8_t lo, hi;
};

TEST(LmsCrc16, EveryCatalogueTelegramHasItsPublishedChecksum) {
  const CatalogueEntry entries[] = {
      {"msgRange100Res100", msgRange100Res100.data(), 9, 0x1D, 0x0F},
      {"msgRange100Res50", msgRange100Res50.data(), 9, 0xB1, 0x59},
      {"msgRange100Res25", msgRange100Res25.data(), 9, 0xE7, 0x72},
      {"msgRange180Res100", msgRange180Res100.data(), 9, 0x97, 0x49},
      {"msgRange180Res50", msgRange180Res50.data(), 9, 0x3B, 0x1F},
      {"msgCommand31", msgCommand31.data(), 5, 0x15, 0x12},
      {"msgRequestScan", msgRequestScan.data(), 6, 0x31, 0x18},
      {"msgMode24", msgMode24.data(), 6, 0x34, 0x08},
      {"msgStopLMS", msgStopLMS.data(), 6, 0x35, 0x08},
      {"msgBaud9600", msgBaud9600.data(), 6, 0x52, 0x08},
      {"msgBaud19200", msgBaud19200.data(), 6, 0x51, 0x08},
      {"msgBaud38400", msgBaud38400.data(), 6, 0x50, 0x08},
      {"msgMode48", msgMode48.data(), 6, 0x58, 0x08},
      {"msgConfig", msgConfig.data(), 39, 0x3B, 0x8A},
  };
  for (const auto& e : entries) {
    const std::uint16_t crc = lmsCrc16(e.data, e.length);
    EXPECT_EQ(crc & 0xFF, e.lo) << e.name;
    EXPECT_EQ(crc >> 8, e.hi) << e.name;
  }
}

TEST(Catalogue, LengthFieldsMatchTelegramSizes) {
  auto lengthField = [](const std::uint8_t* t) { return t[2] | (t[3] << 8); };
  EXPECT_EQ(lengthField(msgPassword.data()) + 4, static_cast<int>(msgPassword.size()));
  EXPECT_EQ(lengthField(msgConfig.data()) + 4, static_cast<int>(msgConfig.size()));
  EXPECT_EQ(lengthField(msgRange180Res50.data()) + 4, static_cast<int>(msgRange180Res50.size()));
  EXPECT_EQ(std::string(msgPassword.begin() + 6, msgPassword.end()), "CFG_MODE");
  // Every expected reply starts with ACK and a reply header and ends with 0x10.
  for (const std::uint8_t* r : {ackmsgMode.data(), ackmsgRange180Res50.data(), ackmsgConfig.data()}) {
    EXPECT_EQ(r[0], kAck);
    EXPECT_EQ(r[1], kStx);
    EXPECT_EQ(r[2], 0x80);
  }
  EXPECT_EQ(ackmsgConfig.back(), 0x10);
  EXPECT_EQ(ackmsgConfig[5], 0xF7);
  for (int i = 0; i < kConfigBytes; ++i) EXPECT_EQ(ackmsgConfig[7 + i], msgConfig[5 + i]) << i;
}

TEST(Catalogue, ConfigWithUnitsZeroDiffersInByte11AndHasChecksum6BBA) {
  auto units0 = msgConfig;
  units0[kUnitsByte] = 0x00;
  for (std::size_t i = 0; i < msgConfig.size(); ++i) {
    if (i != kUnitsByte) {
      EXPECT_EQ(units0[i], msgConfig[i]) << i;
    }
  }
  EXPECT_EQ(msgConfig[kUnitsByte], 0x01);
  const std::uint16_t crc = lmsCrc16(units0.data(), 39);
  EXPECT_EQ(crc & 0xFF, 0x6B);
  EXPECT_EQ(crc >> 8, 0xBA);
}

}  // namespace

namespace {

std::vector<std::uint8_t> withCrc(std::vector<std::uint8_t> t) {
  const std::uint16_t crc = lmsCrc16(t.data(), static_cast<int>(t.size()));
  t.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  t.push_back(static_cast<std::uint8_t>(crc >> 8));
  return t;
}

TEST(WholeTelegramLength, CountsAWholeTelegramWithOrWithoutItsAck) {
  const auto stop = withCrc({msgStopLMS.begin(), msgStopLMS.end()});
  EXPECT_EQ(wholeTelegramLength(stop.data(), 8), 8);
  std::vector<std::uint8_t> acked(10, 0x41);  // ACK, the telegram, and a byte of what follows
  acked[0] = kAck;
  std::copy(stop.begin(), stop.end(), acked.begin() + 1);
  EXPECT_EQ(wholeTelegramLength(acked.data(), 9), 9);
  EXPECT_EQ(wholeTelegramLength(acked.data(), 10), 9);  // what follows is not counted
  for (int n = 0; n < 9; ++n) EXPECT_EQ(wholeTelegramLength(acked.data(), n), 0) << n;  // not yet
  auto spoiled = acked;
  spoiled[8] ^= 1;
  EXPECT_EQ(wholeTelegramLength(spoiled.data(), 9), 0);  // a wrong checksum is not whole
  const std::uint8_t nak[] = {kNak, 0x02, 0x80};
  EXPECT_EQ(wholeTelegramLength(nak, 3), 0);
  const std::uint8_t twoAcks[] = {kAck, kAck, 0x02};
  EXPECT_EQ(wholeTelegramLength(twoAcks, 3), 0);
}

}  // namespace
