#include "sim/server.h"

#include <gtest/gtest.h>

#include <thread>

#include "lms/links.h"
#include "lms/scan.h"
#include "lms/telegram.h"
#include "platform/clock.h"
#include "sim/options.h"
#include "sim_fixture.h"
#include "wait_until.h"

using namespace lms;
using namespace transport;
using namespace platform;
using namespace sim;

// Addresses 127.0.2.x belong to this file.

namespace {

TEST(SimServer, RefusesToListenOutsideLoopback) {
  SimServer s({}, {});
  std::string error;
  EXPECT_FALSE(s.listenTcp("0.0.0.0", 10002, false, &error));  // every interface
  EXPECT_NE(error.find("outside 127.0.0.0/8"), std::string::npos);
  EXPECT_FALSE(s.listenTcp("not-an-address", 10002, false, &error));
}

TEST(SimServer, RoundTripOverTcpLoopback) {
  SimFixture sim;
  ASSERT_TRUE(sim.listen("127.0.0.1", 0));
  TcpClient client(nullptr);
  ASSERT_TRUE(client.connect("127.0.0.1", sim.port()));
  TcpClientLink link{&client};
  for (int i = 0; i < 2; ++i) {
    sendTelegram(msgRequestScan.data(), 6, link);
    ReplyCarry carry;
    ASSERT_EQ(awaitAck(link, &carry, 3000), AckResult::Ack);
    // Over TCP the ACK and the reply come as one burst, so the whole reply is carried.
    ASSERT_EQ(carry.length, kReplyLength);
    EXPECT_EQ(checkMeasurementReply(carry.bytes.data(), carry.length), ReplyCheck::Ok);
    const RangeWords w = Scene(1).scan(i);
    EXPECT_EQ(carry.bytes[kRangeOffset], w[0] & 0xFF);
  }
  sendTelegram(msgStopLMS.data(), 6, link);
  ReplyCarry carry;
  EXPECT_EQ(awaitAck(link, &carry, 3000), AckResult::Ack);
  EXPECT_EQ(carry.length, 9);
  client.close();
  EXPECT_EQ(sim.server.counters().scans, 2);
  EXPECT_EQ(sim.server.counters().requests, 3);
}

TEST(SimServer, RoundTripOverAPseudoTerminalAtTheBaudRate) {
  SimOptions o;
  o.pace = true;
  o.seed = 5;
  SimFixture sim({}, o);
  ASSERT_TRUE(sim.pty());
  SerialPort port;
  ASSERT_TRUE(port.open(sim.server.devicePath().c_str(), 9600));
  SerialPortLink link{&port};
  sendTelegram(msgRequestScan.data(), 6, link);
  ReplyCarry carry;
  const std::int64_t t0 = processMillis();
  ASSERT_EQ(awaitAck(link, &carry, 3000), AckResult::Ack);
  ASSERT_TRUE(collectReply(link, carry, processMillis() + 3000));
  const std::int64_t took = processMillis() - t0;
  const auto& reply = carry.bytes;
  EXPECT_EQ(checkMeasurementReply(reply.data(), carry.length), ReplyCheck::Ok);
  EXPECT_GE(took, 600);  // 733 bytes at 9600 baud take about 760 ms
  const RangeWords w = Scene(5).scan(0);
  EXPECT_EQ(reply[kRangeOffset + 1], w[0] >> 8);
}

TEST(SimServer, ClosesTheConnectionAfterNReplies) {
  SimFaults f;
  f.closeAfter = 1;
  SimFixture sim(f);
  ASSERT_TRUE(sim.listen("127.0.0.1", 0));
  TcpClient client(nullptr);
  ASSERT_TRUE(client.connect("127.0.0.1", sim.port()));
  TcpClientLink link{&client};
  sendTelegram(msgRequestScan.data(), 6, link);
  ReplyCarry carry;
  ASSERT_EQ(awaitAck(link, &carry, 3000), AckResult::Ack);
  EXPECT_EQ(carry.length, kReplyLength);
  EXPECT_TRUE(waitUntil([&] { return client.drained(); }, 3000));
  EXPECT_TRUE(client.connectionLost());
}

TEST(SimServer, StopsWithinItsTimeLimit) {
  SimOptions o;
  o.maxSeconds = 0.3;
  SimServer s({}, o);
  std::string error;
  ASSERT_TRUE(s.listenTcp("127.0.2.3", 10002, false, &error));
  const std::int64_t t0 = processMillis();
  s.serve();
  EXPECT_LT(processMillis() - t0, 2000);
}

TEST(SimCommandLine, ParsesEveryOptionAndHelpNamesThem) {
  const char* argv[] = {"lmssim",
                        "--address",
                        "127.0.0.9",
                        "--port",
                        "10003",
                        "--nak-every",
                        "3",
                        "--silent-after",
                        "2",
                        "--silent-for",
                        "500",
                        "--corrupt-crc-every",
                        "4",
                        "--flip-byte-every",
                        "5",
                        "--short-every",
                        "6",
                        "--short-length",
                        "100",
                        "--chunk",
                        "50",
                        "--chunk-gap",
                        "60",
                        "--ack-gap",
                        "20",
                        "--garbage",
                        "3",
                        "--garbage-every",
                        "2",
                        "--close-after",
                        "9",
                        "--oversize-every",
                        "7",
                        "-v",
                        "--seed",
                        "42",
                        "--max-seconds",
                        "1.5",
                        "--stop-on-eof",
                        "--counts",
                        "--no-pace"};
  SimCommandLine cl;
  std::string error;
  ASSERT_TRUE(parseSimCommandLine(static_cast<int>(std::size(argv)), const_cast<char**>(argv), &cl, &error))
      << error;
  EXPECT_EQ(cl.address, "127.0.0.9");
  EXPECT_EQ(cl.port, 10003);
  EXPECT_EQ(cl.faults.nakEvery, 3);
  EXPECT_EQ(cl.faults.silentAfter, 2);
  EXPECT_EQ(cl.faults.silentForMs, 500);
  EXPECT_EQ(cl.faults.corruptCrcEvery, 4);
  EXPECT_EQ(cl.faults.flipByteEvery, 5);
  EXPECT_EQ(cl.faults.shortEvery, 6);
  EXPECT_EQ(cl.faults.shortLength, 100);
  EXPECT_EQ(cl.faults.chunkSize, 50);
  EXPECT_EQ(cl.faults.chunkGapMs, 60);
  EXPECT_EQ(cl.faults.ackGapMs, 20);
  EXPECT_EQ(cl.faults.garbageBytes, 3);
  EXPECT_EQ(cl.faults.garbageEvery, 2);
  EXPECT_EQ(cl.faults.closeAfter, 9);
  EXPECT_EQ(cl.faults.oversizeEvery, 7);
  EXPECT_EQ(cl.seed, 42u);
  EXPECT_DOUBLE_EQ(cl.maxSeconds, 1.5);
  EXPECT_TRUE(cl.verbose && cl.stopOnEof && cl.counts && cl.noPace);
  const std::string usage = simUsage();
  for (int i = 1; i < static_cast<int>(std::size(argv)); ++i) {
    if (argv[i][0] == '-') {
      EXPECT_NE(usage.find(argv[i]), std::string::npos) << argv[i];
    }
  }
  for (const char* o : {"--serial", "--device", "--baud", "--replay", "--scan-log", "--timing-log",
                        "--any-address", "--chaos", "--help"}) {
    EXPECT_NE(usage.find(o), std::string::npos) << o;
  }
}

TEST(SimCommandLine, RejectsBadInputWithOneLine) {
  for (std::vector<const char*> args : {std::vector<const char*>{"lmssim", "--port"},
                                        {"lmssim", "--port", "70000"},
                                        {"lmssim", "--nak-every", "x"},
                                        {"lmssim", "--bogus"}}) {
    SimCommandLine cl;
    std::string error;
    EXPECT_FALSE(
        parseSimCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()), &cl, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

}  // namespace
