// SPDX-License-Identifier: Apache-2.0
#include "sim/emulated_scanner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "lms/formats/scan_json.h"
#include "lms/protocol/reply.h"
#include "lms/protocol/telegram.h"
#include "lmsview/robot.h"
#include "reply_builder.h"

using namespace lms;
using namespace sim;

namespace {

ParsedTelegram telegram(const std::uint8_t* body, int length) {
  TelegramParser p;
  std::vector<std::uint8_t> t(body, body + length);
  const std::uint16_t crc = lmsCrc16(body, length);
  t.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  t.push_back(static_cast<std::uint8_t>(crc >> 8));
  p.feed(t.data(), static_cast<int>(t.size()));
  ParsedTelegram out;
  EXPECT_TRUE(p.next(out));
  return out;
}

template <std::size_t N>
ParsedTelegram telegram(const std::array<std::uint8_t, N>& a) {
  return telegram(a.data(), static_cast<int>(N));
}

std::vector<std::uint8_t> flatten(const std::vector<Piece>& plan) {
  std::vector<std::uint8_t> all;
  for (const auto& p : plan) all.insert(all.end(), p.bytes.begin(), p.bytes.end());
  return all;
}

// The expected answer: the catalogue's ACK + reply bytes, then the checksum of the reply.
template <std::size_t N>
std::vector<std::uint8_t> expectedAnswer(const std::array<std::uint8_t, N>& ack) {
  std::vector<std::uint8_t> e(ack.begin(), ack.end());
  const std::uint16_t crc = lmsCrc16(ack.data() + 1, static_cast<int>(N) - 1);
  e.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  e.push_back(static_cast<std::uint8_t>(crc >> 8));
  return e;
}

std::vector<std::uint8_t> answer(EmulatedScanner& e, const ParsedTelegram& t, std::int64_t now = 0) {
  std::vector<Piece> plan;
  e.handle(t, now, plan);
  return flatten(plan);
}

TEST(EmulatedScanner, AnswersTheCatalogueAsTheScannerWould) {
  EmulatedScanner e({}, 1);
  EXPECT_EQ(answer(e, telegram(msgStopLMS)), expectedAnswer(ackmsgMode));
  EXPECT_EQ(answer(e, telegram(msgBaud38400)), expectedAnswer(ackmsgMode));
  EXPECT_EQ(answer(e, telegram(msgPassword)), expectedAnswer(ackmsgMode));
  EXPECT_EQ(answer(e, telegram(msgRange100Res100)), expectedAnswer(ackmsgRange100Res100));
  EXPECT_EQ(answer(e, telegram(msgRange100Res50)), expectedAnswer(ackmsgRange100Res50));
  EXPECT_EQ(answer(e, telegram(msgRange100Res25)), expectedAnswer(ackmsgRange100Res25));
  EXPECT_EQ(answer(e, telegram(msgRange180Res100)), expectedAnswer(ackmsgRange180Res100));
  EXPECT_EQ(answer(e, telegram(msgRange180Res50)), expectedAnswer(ackmsgRange180Res50));
  EXPECT_EQ(answer(e, telegram(msgConfig)), expectedAnswer(ackmsgConfig));
  auto units0 = msgConfig;
  units0[kUnitsByte] = 0;
  auto ack0 = ackmsgConfig;
  ack0[7 + 6] = 0;
  EXPECT_EQ(answer(e, telegram(units0)), expectedAnswer(ack0));
  EXPECT_EQ(answer(e, telegram(msgCommand31))[0], kAck);
  EXPECT_EQ(e.counters().acks, 11);
}

TEST(EmulatedScanner, MeasurementReplyHasTheLayoutAndMatchesTheScene) {
  EmulatedScanner e({}, 7);
  const auto a = answer(e, telegram(msgRequestScan));
  ASSERT_EQ(a.size(), 1u + 732u);
  EXPECT_EQ(a[0], kAck);
  const std::uint8_t* r = a.data() + 1;
  EXPECT_EQ(checkMeasurementReply(r, 732), ReplyCheck::Ok);
  EXPECT_EQ(r[4], 0xB0);
  EXPECT_EQ(r[5] | (r[6] << 8), 0x4000 | 361);  // 361 points, in millimetres
  const RangeWords w = Scene(7).scan(0);
  EXPECT_EQ(std::vector<std::uint8_t>(r, r + 732),
            makeMeasurementReply(std::vector<std::uint16_t>(w.begin(), w.end())));
  EXPECT_EQ(e.counters().scans, 1);
}

TEST(EmulatedScanner, SceneIsDeterministicMovesAndStaysInRange) {
  const Scene a(3), b(3), c(4);
  EXPECT_EQ(a.scan(5), b.scan(5));
  EXPECT_NE(a.scan(5), a.scan(6));
  EXPECT_NE(a.scan(5), c.scan(5));
  int flagged = 0;
  for (int k = 0; k < 50; ++k) {
    for (std::uint16_t w : a.scan(k)) {
      EXPECT_LE(w & 0x1FFF, 8191);
      EXPECT_GE(w & 0x1FFF, 500);  // nothing closer than half a metre in this room
      flagged += (w >> 13) != 0;
    }
  }
  EXPECT_GT(flagged, 0);
}

// Two scanners of one seed at two poses see one room: placed by those poses
// (the library's merge), the points of one lie on what the other sees.
TEST(EmulatedScanner, TwoPosesSeeOneRoom) {
  const struct { double x, y, yawDeg; } poses[] = {{0.4, 0.3, 20}, {-0.2, -0.5, -35}, {0.6, 0.0, 0}};
  for (const auto& p : poses) {
    sim::Scene here(5), there(5);
    there.place(p.x, p.y, p.yawDeg);
    lmsview::Scan a, b;
    for (const auto& [scan, scene] : {std::pair{&a, &here}, std::pair{&b, &there}}) {
      scan->words = scene->scan(3);
      scan->geometry = lms::replyGeometry(361);
      lms::setRangesFromWords(scan);
    }
    const lmsview::PlacedScan placed[] = {{&a, {}}, {&b, {p.x, p.y, p.yawDeg * std::numbers::pi / 180}}};
    lmsview::Merged m;
    lmsview::merge(placed, 2, &m);
    int near = 0, shared = 0;
    for (const auto& q : m.points) {
      if (q.scanner != 1) continue;
      // Where the first scanner's field is: ahead of it.
      if (q.x <= 0.2f) continue;
      ++shared;
      for (const auto& r : m.points)
        if (r.scanner == 0 && std::hypot(r.x - q.x, r.y - q.y) < 0.05f) {
          ++near;
          break;
        }
    }
    ASSERT_GT(shared, 100) << p.x << "," << p.y << "," << p.yawDeg;
    EXPECT_GT(near, shared * 8 / 10) << p.x << "," << p.y << "," << p.yawDeg;
  }
}

TEST(EmulatedScanner, BadChecksumAndUnknownCommandsGetNakOnly) {
  EmulatedScanner e({}, 1);
  std::vector<std::uint8_t> t{0x02, 0x00, 0x02, 0x00, 0x30, 0x01, 0x31, 0x19};
  TelegramParser p;
  p.feed(t.data(), 8);
  ParsedTelegram bad;
  ASSERT_TRUE(p.next(bad));
  EXPECT_FALSE(bad.checksumOk);
  EXPECT_EQ(answer(e, bad), std::vector<std::uint8_t>{kNak});
  const std::uint8_t unknown[] = {0x02, 0x00, 0x01, 0x00, 0x99};
  EXPECT_EQ(answer(e, telegram(unknown, 5)), std::vector<std::uint8_t>{kNak});
  EXPECT_EQ(e.counters().badChecksum, 1);
  EXPECT_EQ(e.counters().naks, 2);
}

// Each fault option changes the bytes on the wire as stated.
TEST(SimFaultsOnTheWire, EachFaultChangesTheAnswerAsStated) {
  const auto req = telegram(msgRequestScan);
  {
    SimFaults f;
    f.nakEvery = 2;
    EmulatedScanner e(f, 1);
    EXPECT_EQ(answer(e, req).size(), 733u);
    EXPECT_EQ(answer(e, req), std::vector<std::uint8_t>{kNak});
    EXPECT_EQ(answer(e, req).size(), 733u);
  }
  {
    SimFaults f;
    f.silentAfter = 1;
    f.silentForMs = 1000;
    EmulatedScanner e(f, 1);
    EXPECT_EQ(answer(e, req, 0).size(), 733u);
    EXPECT_TRUE(answer(e, req, 10).empty());
    EXPECT_TRUE(answer(e, req, 900).empty());
    EXPECT_EQ(answer(e, req, 1010).size(), 733u);
    EXPECT_EQ(answer(e, req, 1020).size(), 733u);  // silence does not come back
    EXPECT_EQ(e.counters().ignored, 2);
  }
  {
    SimFaults f;
    f.corruptCrcEvery = 1;
    EmulatedScanner e(f, 1);
    auto a = answer(e, req);
    EXPECT_EQ(checkMeasurementReply(a.data() + 1, 732), ReplyCheck::BadChecksum);
  }
  {
    SimFaults f;
    f.flipByteEvery = 1;
    EmulatedScanner e(f, 1);
    auto a = answer(e, req);
    EXPECT_EQ(checkMeasurementReply(a.data() + 1, 732), ReplyCheck::Ok);
    const RangeWords w = Scene(1).scan(0);
    const int at = 1 + kRangeOffset + 200;
    EXPECT_EQ(a[static_cast<std::size_t>(at)], static_cast<std::uint8_t>((w[100] ^ 0x55) & 0xFF));
  }
  {
    SimFaults f;
    f.shortEvery = 1;
    f.shortLength = 300;
    EmulatedScanner e(f, 1);
    EXPECT_EQ(answer(e, req).size(), 301u);
  }
  {
    SimFaults f;
    f.chunkSize = 100;
    f.chunkGapMs = 70;
    f.ackGapMs = 20;
    EmulatedScanner e(f, 1);
    std::vector<Piece> plan;
    e.handle(req, 0, plan);
    ASSERT_EQ(plan.size(), 1u + 8u);  // the ACK alone, then 8 chunks of up to 100 bytes
    EXPECT_EQ(plan[0].bytes, std::vector<std::uint8_t>{kAck});
    EXPECT_EQ(plan[1].delayMs, 20);
    EXPECT_EQ(plan[2].delayMs, 70);
    EXPECT_EQ(plan[8].bytes.size(), 32u);
  }
  {
    SimFaults f;
    f.garbageBytes = 3;
    EmulatedScanner e(f, 1);
    auto a = answer(e, req);
    EXPECT_EQ(a.size(), 736u);
    EXPECT_EQ(a[3], kAck);
    EXPECT_NE(a[0], kAck);
  }
  {
    SimFaults f;
    f.oversizeEvery = 1;
    EmulatedScanner e(f, 1);
    std::vector<Piece> plan;
    e.handle(req, 0, plan);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_GT(plan[0].bytes.size(), 1000u);
  }
  {
    SimFaults f;
    f.closeAfter = 2;
    EmulatedScanner e(f, 1);
    answer(e, req);
    EXPECT_FALSE(e.closeNow());
    answer(e, req);
    EXPECT_TRUE(e.closeNow());
  }
}

TEST(EmulatedScanner, ReportsEveryScanWithItsFate) {
  SimFaults f;
  f.corruptCrcEvery = 2;
  EmulatedScanner e(f, 1);
  std::vector<std::pair<std::int64_t, ScanFate>> seen;
  e.onScan = [&](std::int64_t n, ScanFate fate, const RangeWords&) { seen.emplace_back(n, fate); };
  for (int i = 0; i < 3; ++i) answer(e, telegram(msgRequestScan));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1].first, 1);
  EXPECT_EQ(seen[0].second, ScanFate::Sent);
  EXPECT_EQ(seen[1].second, ScanFate::CorruptChecksum);
}

}  // namespace

namespace {

TEST(SimChaos, DrawsFaultsDeterministicallyFromItsSeed) {
  auto run = [](std::uint32_t seed) {
    SimFaults f;
    f.chaosPercent = 50;
    f.chaosSeed = seed;
    EmulatedScanner e(f, 1);
    std::vector<std::size_t> sizes;
    sizes.reserve(200);
    for (int i = 0; i < 200; ++i) sizes.push_back(answer(e, telegram(msgRequestScan), i * 1000).size());
    return std::make_pair(sizes, e.counters());
  };
  const auto [a, ca] = run(7);
  const auto [b, cb] = run(7);
  const auto [c, cc] = run(8);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_GT(ca.faults, 40);
  EXPECT_LT(ca.faults, 160);
  EXPECT_GT(ca.scans, 100);  // most requests are still answered
}

}  // namespace

namespace {

TEST(ReplayScans, ReadsPlainNumbersAndRecordingsExactly) {
  ReplayScans r;
  std::string why;
  EXPECT_TRUE(r.addLine("010 0x10 0X1f  20\t30", &why)) << why;  // 010 is ten, not octal eight
  EXPECT_TRUE(r.addLine("   ", &why));                           // blank lines are skipped
  EXPECT_TRUE(r.addLine("{\"seq\":0,\"ranges\":[0.1,0.2],\"words\":[57345, 2,3]}", &why)) << why;
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r.scan(0)[0], 10);
  EXPECT_EQ(r.scan(0)[1], 16);
  EXPECT_EQ(r.scan(0)[2], 31);
  EXPECT_EQ(r.scan(0)[4], 30);
  EXPECT_EQ(r.scan(0)[5], 0);
  EXPECT_EQ(r.scan(1)[0], 57345);  // flag bits kept
  EXPECT_EQ(r.scan(1)[2], 3);
  EXPECT_EQ(r.scan(2)[0], 10);  // scans repeat
  for (const char* bad : {"08x", "65536", "-1", "0x", "1 2 x", "{\"seq\":1}", "{\"words\":[1,,2]}",
                          "{\"range_unit\":\"km\",\"words\":[1]}", "{\"words\":[1]} 2"}) {
    ReplayScans b;
    EXPECT_FALSE(b.addLine(bad, &why)) << bad;
  }
  // A line fills up to the smallest scan that holds it; more than the
  // largest is refused. The unit follows a recorded line's range_max.
  const struct {
    int values;
    std::size_t points;
  } lengths[] = {{2, 101}, {101, 101}, {102, 181}, {361, 361}, {362, 401}, {401, 401}, {402, 0}};
  for (const auto& c : lengths) {
    std::string line;
    for (int i = 0; i < c.values; ++i) line += "1 ";
    ReplayScans one;
    EXPECT_EQ(one.addLine(line, &why), c.points != 0) << c.values;
    if (c.points != 0) {
      EXPECT_EQ(one.scan(0).size(), c.points) << c.values;
    }
  }
  EXPECT_EQ(r.units(1), lms::Units::Millimetres);
  EXPECT_TRUE(r.addLine("{\"seq\":2,\"range_max\":81.8,\"words\":[5]}", &why)) << why;
  EXPECT_EQ(r.units(2), lms::Units::Centimetres);
  // The unit a line names wins; what --record writes reads back as it was.
  EXPECT_TRUE(r.addLine(R"({"range_max":8.18,"note":{"a":[1,"]}"]},"range_unit":"dm","words":[5]})", &why))
      << why;
  EXPECT_EQ(r.units(3), lms::Units::Decimetres);
  lmsview::Scan cm;
  cm.words = {1, 2, 57345};
  cm.geometry = lms::replyGeometry(3, lms::Units::Centimetres);
  std::string line;
  lms::scan_json::formatLine(line, cm, "laser", true);
  EXPECT_TRUE(r.addLine(line, &why)) << why;
  EXPECT_EQ(r.units(4), lms::Units::Centimetres);
  EXPECT_EQ(r.scan(4)[2], 57345);
  line.resize(line.size() - 8);  // a run killed while it wrote
  EXPECT_FALSE(r.addLine(line, &why));
  EXPECT_NE(why.find("cut short"), std::string::npos) << why;
}

}  // namespace

namespace {

// The operating-mode telegrams that change the rate: acknowledged, and the
// line follows once the answer is out; refused with --refuse-rate.
TEST(EmulatedScanner, TheLineRateFollowsAnAcknowledgedModeTelegram) {
  for (const int rate : {38400, 19200, 9600}) {
    for (const bool refuse : {false, true}) {
      sim::SimFaults faults;
      faults.refuseRate = refuse ? 1 : 0;
      sim::EmulatedScanner engine(faults, 1);
      sim::TelegramParser parser;
      const auto& telegram = *lms::baudTelegram(rate);
      const std::vector<std::uint8_t> bytes = sim::withChecksum({telegram.begin(), telegram.end()});
      parser.feed(bytes.data(), static_cast<int>(bytes.size()));
      sim::ParsedTelegram t;
      ASSERT_TRUE(parser.next(t));
      std::vector<sim::Piece> plan;
      engine.handle(t, 0, plan);
      ASSERT_FALSE(plan.empty());
      EXPECT_EQ(plan[0].bytes[0], refuse ? lms::kNak : lms::kAck);
      EXPECT_EQ(engine.takeRateChange(), refuse ? 0 : rate);
      EXPECT_EQ(engine.takeRateChange(), 0);  // taken once
    }
  }
}

}  // namespace
