// SPDX-License-Identifier: Apache-2.0
#include "sim/server.h"

#include <fcntl.h>
#include <termios.h>

#include <utility>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "lms/protocol/links.h"
#include "lms/protocol/reply.h"
#include "lms/protocol/telegram.h"
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

// One client at a time, as a scanner: a second one waits, its connection
// kept, and is answered once the first has gone.
TEST(SimServer, ASecondClientWaitsForTheFirstToLeave) {
  SimFixture sim;
  ASSERT_TRUE(sim.listen("127.0.0.1", 0));
  TcpClient first(nullptr), second(nullptr);
  ASSERT_TRUE(first.connect("127.0.0.1", sim.port()));
  TcpClientLink a{&first}, b{&second};
  ReplyCarry carry;
  sendTelegram(msgRequestScan.data(), 6, a);
  ASSERT_EQ(awaitAck(a, &carry, 3000), AckResult::Ack);
  ASSERT_TRUE(second.connect("127.0.0.1", sim.port()));
  sendTelegram(msgRequestScan.data(), 6, b);
  EXPECT_EQ(awaitAck(b, &carry, 300), AckResult::Timeout);  // waiting, not closed
  EXPECT_FALSE(second.gone());
  first.close();
  EXPECT_EQ(awaitAck(b, &carry, 3000), AckResult::Ack);
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
  EXPECT_TRUE(client.gone());
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

TEST(SimServer, SetsTheLineUpAtTheRateItIsGiven) {
  const std::pair<int, speed_t> rates[] = {
      {9600, B9600}, {19200, B19200}, {38400, B38400}, {115200, B115200}, {500000, B500000}};
  for (const auto& [baud, speed] : rates) {
    sim::SimOptions o;
    o.baud = baud;
    SimFixture sim({}, o);
    ASSERT_TRUE(sim.pty());
    platform::UniqueFd line(::open(sim.server.devicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(line.valid());
    termios t{};
    ASSERT_EQ(::tcgetattr(line.get(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed) << baud;
    EXPECT_EQ(cfgetispeed(&t), speed) << baud;
  }
}

TEST(SimServer, RefusesADeviceThatIsNotATerminal) {
  sim::SimServer s({}, {});
  std::string error;
  EXPECT_FALSE(s.openDevice("/dev/null", &error));
  EXPECT_NE(error.find("not a serial device"), std::string::npos) << error;
}

// Quick connects and closes are each answered at once: a client that has
// gone does not hold the listener, and the backlog does not overflow into
// the one-second retransmission of a dropped connect.
TEST(SimServer, AConnectStormIsAnsweredAsFastAsTheConnectsThemselves) {
  SimFixture sim;
  ASSERT_TRUE(sim.listen("127.0.0.1", 0));
  std::int64_t slowest = 0;
  for (int i = 0; i < 200; ++i) {
    const std::int64_t t0 = processMillis();
    TcpClient client(nullptr);
    ASSERT_TRUE(client.connect("127.0.0.1", sim.port(), 3000)) << i;
    slowest = std::max(slowest, processMillis() - t0);
    client.close();
  }
  EXPECT_LT(slowest, 800);  // a dropped connect would take a second to retry
  // And the emulator still serves the next client.
  TcpClient client(nullptr);
  ASSERT_TRUE(client.connect("127.0.0.1", sim.port()));
  TcpClientLink link{&client};
  sendTelegram(msgRequestScan.data(), 6, link);
  ReplyCarry carry;
  EXPECT_EQ(awaitAck(link, &carry, 3000), AckResult::Ack);
}

}  // namespace
