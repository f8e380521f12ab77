// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/stream_framer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "reply_builder.h"

using namespace lms;

namespace {

using Bytes = std::vector<std::uint8_t>;

// What a framer gives for `pieces` read one after another: the telegrams
// whole, and their first bytes' stamps.
struct Framed {
  std::vector<Bytes> telegrams;
  std::vector<std::int64_t> stamps;
  std::vector<bool> acked;
  std::int64_t discarded = 0;
};

Framed frame(const std::vector<Bytes>& pieces, std::int64_t nsPerByte = 0) {
  StreamFramer f;
  Framed out;
  std::int64_t now = 1'000'000;
  for (const Bytes& p : pieces) {
    const auto room = f.space();
    EXPECT_GE(room.size(), p.size());
    if (!p.empty()) std::memcpy(room.data(), p.data(), p.size());
    now += static_cast<std::int64_t>(p.size()) * nsPerByte + 1000;
    f.commit(static_cast<int>(p.size()), now, nsPerByte);
    StreamFramer::Telegram t;
    while (f.next(&t)) {
      out.telegrams.emplace_back(t.bytes, t.bytes + t.length);
      out.stamps.push_back(t.firstNs);
      out.acked.push_back(t.acked);
    }
  }
  out.discarded = f.discarded();
  return out;
}

Bytes modeReply() {
  Bytes r{0x02, 0x80, 0x03, 0x00, 0xA0, 0x00, 0x10};
  const std::uint16_t crc = lmsCrc16(r.data(), static_cast<int>(r.size()));
  r.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  r.push_back(static_cast<std::uint8_t>(crc >> 8));
  return r;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(StreamFramer, TwoTelegramsBackToBackComeOutWholeWhereverTheReadsCutThem) {
  const Bytes first = makeMeasurementReply(std::vector<std::uint16_t>(kScanPoints, 1234));
  const Bytes second = modeReply();
  const Bytes third = makeMeasurementReply(std::vector<std::uint16_t>(kScanPoints, 4321), Units::Centimetres);
  const Bytes stream = first + second + third;
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    for (std::size_t cut2 = cut; cut2 <= stream.size(); cut2 += 97) {
      const Framed f = frame({Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut)),
                              Bytes(stream.begin() + static_cast<std::ptrdiff_t>(cut),
                                    stream.begin() + static_cast<std::ptrdiff_t>(cut2)),
                              Bytes(stream.begin() + static_cast<std::ptrdiff_t>(cut2), stream.end())});
      ASSERT_EQ(f.telegrams.size(), 3u) << "cut at " << cut << " and " << cut2;
      EXPECT_EQ(f.telegrams[0], first);
      EXPECT_EQ(f.telegrams[1], second);
      EXPECT_EQ(f.telegrams[2], third);
      EXPECT_EQ(f.discarded, 0) << cut;
    }
  }
}

TEST(StreamFramer, NoiseCostsOnlyItselfAndTheNextGoodTelegramIsNeverLost) {
  const Bytes good = makeMeasurementReply(std::vector<std::uint16_t>(kScanPoints, 500));
  const Bytes cutShort(good.begin(), good.begin() + 300);
  Bytes badChecksum = good;
  badChecksum[100] ^= 0x40;
  const struct {
    const char* name;
    Bytes before;
  } cases[] = {
      {"plain noise", {0x55, 0xAA, 0x80, 0x00, 0xFF}},
      {"a false start naming a long telegram", {0x02, 0x80, 0xD6, 0x02, 0x11}},
      {"a length past any telegram", {0x02, 0x80, 0xFF, 0x7F}},
      {"a telegram cut short", cutShort},
      {"a telegram with a wrong checksum", badChecksum},
      {"a request, not a reply", {0x02, 0x00, 0x02, 0x00, 0x30, 0x01, 0x31, 0x18}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
      const Bytes stream = c.before + good + good;
      std::vector<Bytes> pieces;
      for (std::size_t at = 0; at < stream.size(); at += piece)
        pieces.emplace_back(
            stream.begin() + static_cast<std::ptrdiff_t>(at),
            stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + piece)));
      const Framed f = frame(pieces);
      ASSERT_EQ(f.telegrams.size(), 2u) << "in pieces of " << piece;
      EXPECT_EQ(f.telegrams[0], good);
      EXPECT_EQ(f.discarded, static_cast<std::int64_t>(c.before.size()));
    }
  }
}

TEST(StreamFramer, StampsEachTelegramAtItsFirstByteAndKnowsAnAcknowledge) {
  const Bytes a = modeReply();
  const Bytes b = makeMeasurementReply(std::vector<std::uint16_t>(kScanPoints, 800));
  // One read of ACK + a + b on a line at 20 us a byte: b's first byte came
  // b.size() - 1 byte times before the read's last.
  const Framed f = frame({Bytes{0x06} + a + b}, 20'000);
  ASSERT_EQ(f.telegrams.size(), 2u);
  EXPECT_TRUE(f.acked[0]);
  EXPECT_FALSE(f.acked[1]);
  EXPECT_EQ(f.discarded, 0);
  EXPECT_EQ(f.stamps[0] - f.stamps[1], -static_cast<std::int64_t>(a.size()) * 20'000);
  const std::int64_t readEnd = 1'000'000 + static_cast<std::int64_t>(1 + a.size() + b.size()) * 20'000 + 1000;
  EXPECT_EQ(f.stamps[1], readEnd - static_cast<std::int64_t>(b.size() - 1) * 20'000);
}

}  // namespace
