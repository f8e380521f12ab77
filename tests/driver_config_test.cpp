// SPDX-License-Identifier: Apache-2.0
// The driver's configuration operations: exactly which telegram each sends,
// and what it reports when the scanner refuses.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "captured_output.h"
#include "lms/protocol/driver.h"
#include "loopback_peer.h"
#include "pty_pair.h"
#include "sim_fixture.h"
#include "wait_until.h"

using namespace lms;
using namespace transport;
using namespace platform;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A scripted scanner on the other end of a TCP client, on an ephemeral port,
// to see exactly what the driver sends.
struct WireFixture {
  WireFixture() : peer("127.0.0.1", 0) {
    client = std::make_unique<TcpClient>(nullptr);
    ok = peer.listening() && client->connect("127.0.0.1", peer.port()) && peer.accept();
  }
  LoopbackPeer peer;
  std::unique_ptr<TcpClient> client;
  bool ok = false;
};

template <std::size_t N>
Bytes framed(const std::array<std::uint8_t, N>& body) {
  Bytes t(body.begin(), body.end());
  const std::uint16_t crc = lmsCrc16(t.data(), static_cast<int>(t.size()));
  t.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  t.push_back(static_cast<std::uint8_t>(crc >> 8));
  return t;
}

Bytes unitsTelegram(std::uint8_t units) {
  auto body = msgConfig;
  body[kUnitsByte] = units;
  return framed(body);
}

struct WireCase {
  const char* name;
  std::function<void(NetLms&, TcpClient&)> operation;
  Bytes telegram;
};

TEST(DriverOperations, EachOperationSendsItsOwnTelegram) {
  const WireCase cases[] = {
      {"setRangeRes(20)", [](NetLms& d, TcpClient& c) { d.setRangeRes(20, c); }, framed(msgRange180Res50)},
      {"setRangeRes(24)", [](NetLms& d, TcpClient& c) { d.setRangeRes(24, c); }, framed(msgRange180Res100)},
      {"setRangeRes(34)", [](NetLms& d, TcpClient& c) { d.setRangeRes(34, c); }, framed(msgRange100Res25)},
      {"setRangeRes(36)", [](NetLms& d, TcpClient& c) { d.setRangeRes(36, c); }, framed(msgRange100Res50)},
      {"setRangeRes(40)", [](NetLms& d, TcpClient& c) { d.setRangeRes(40, c); }, framed(msgRange100Res100)},
      // An unknown selector falls back to the 100 degree, 1 degree default.
      {"setRangeRes(21)", [](NetLms& d, TcpClient& c) { d.setRangeRes(21, c); }, framed(msgRange100Res100)},
      {"setUnits(0)", [](NetLms& d, TcpClient& c) { d.setUnits(0, c); }, unitsTelegram(0x00)},
      {"setUnits(1)", [](NetLms& d, TcpClient& c) { d.setUnits(1, c); }, unitsTelegram(0x01)},
      {"sendPassword", [](NetLms& d, TcpClient& c) { d.sendPassword(c); }, framed(msgPassword)},
      {"stopLMS", [](NetLms& d, TcpClient& c) { d.stopLMS(c); }, framed(msgStopLMS)},
      {"resetLMS(9600)", [](NetLms& d, TcpClient& c) { d.resetLMS(c, 9600); }, framed(msgBaud9600)},
      {"resetLMS(19200)", [](NetLms& d, TcpClient& c) { d.resetLMS(c, 19200); }, framed(msgBaud19200)},
      {"resetLMS(38400)", [](NetLms& d, TcpClient& c) { d.resetLMS(c, 38400); }, framed(msgBaud38400)},
  };
  EXPECT_EQ(unitsTelegram(0x00)[39], 0x6B);  // the published checksum of the units-0 form
  for (const WireCase& wc : cases) {
    WireFixture w;
    ASSERT_TRUE(w.ok);
    NetLms d("127.0.0.1", w.peer.port(), "LMS");
    d.setOutput(nullptr);
    std::thread scanner([&] {
      Bytes got = w.peer.receive(wc.telegram.size(), 3000);
      EXPECT_EQ(got, wc.telegram) << wc.name;
      w.peer.send(Bytes{kAck});
    });
    wc.operation(d, *w.client);
    scanner.join();
    EXPECT_TRUE(w.peer.receive(1, 100).empty()) << wc.name << " sent more than one telegram";
  }
}

TEST(DriverOperations, InvalidValuesSendNothingAndReportFailure) {
  WireFixture w;
  ASSERT_TRUE(w.ok);
  Captured out;
  NetLms d("127.0.0.1", w.peer.port(), "LMS");
  d.setOutput(out.sink());
  EXPECT_EQ(d.setUnits(2, *w.client), 1);
  EXPECT_FALSE(d.resetLMS(*w.client, 57600));
  const std::string s = out.str();
  EXPECT_NE(s.find("setUnits - Invalid units specified\n"), std::string::npos);
  EXPECT_NE(s.find("resetLMS - Baud rate changes failure\n"), std::string::npos);
  EXPECT_TRUE(w.peer.receive(1, 200).empty());  // nothing reached the wire
  EXPECT_EQ(w.client->send("x", 1), 1);         // and the link is still open
}

TEST(DriverOperations, RefusalsAreReportedByEachOperation) {
  WireFixture w;
  ASSERT_TRUE(w.ok);
  Captured out;
  NetLms d("127.0.0.1", w.peer.port(), "LMS");
  d.setOutput(out.sink());
  std::thread scanner([&] {
    // Refuse everything so the failure messages show.
    for (int i = 0; i < 4; ++i) {
      auto got = w.peer.receive(1, 3000);
      if (got.empty()) break;
      sleepMs(100);  // a scanner that takes its time: the rest of the telegram is in by then
      w.peer.receive(100, 50);
      w.peer.send(Bytes{kNak});
    }
  });
  EXPECT_EQ(d.setRangeRes(21, *w.client), 1);
  EXPECT_EQ(d.setUnits(0, *w.client), 1);
  EXPECT_EQ(d.sendPassword(*w.client), 1);
  d.stopLMS(*w.client);
  scanner.join();
  const std::string s = out.str();
  EXPECT_NE(s.find("Invalid resolution selected. Drop back to default\n"), std::string::npos);
  EXPECT_NE(s.find("setRangeRes - Resolution mode setting failure\n"), std::string::npos);
  EXPECT_NE(s.find("setUnits - Measurement mode setting failure2\n"), std::string::npos);
  EXPECT_NE(s.find("sendPassword - Measurement mode setting failure\n"), std::string::npos);
  EXPECT_NE(s.find("stopLMS - LMS fails to stop\n"), std::string::npos);
}

TEST(DriverOperations, ConfigurationSucceedsAgainstTheEmulator) {
  SimFixture sim;
  ASSERT_TRUE(sim.listen("127.0.0.1", 0));
  TcpClient client(nullptr);
  ASSERT_TRUE(client.connect("127.0.0.1", sim.port()));
  Captured out;
  NetLms d("127.0.0.1", sim.port(), "LMS");
  d.setOutput(out.sink());
  for (int sel : {20, 24, 34, 36, 40}) EXPECT_EQ(d.setRangeRes(sel, client), 0) << sel;
  EXPECT_EQ(d.sendPassword(client), 0);
  EXPECT_EQ(d.setUnits(0, client), 0);
  EXPECT_EQ(d.setUnits(1, client), 0);
  d.stopLMS(client);
  EXPECT_TRUE(d.resetLMS(client, 38400));
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(sim.server.counters().requests, 10);
}

TEST(DriverOperations, RawReadsTakeWhatIsThereWithoutWaiting) {
  PtyPair pty;
  SerialPort port;
  ASSERT_TRUE(port.open(pty.slavePath().c_str(), 9600));
  SerialLms d("COM1", "LMS");
  d.setOutput(nullptr);
  std::uint8_t buf[400];
  EXPECT_EQ(d.rdLMSmsg(0, buf, port), 0);
  EXPECT_EQ(d.rdLMSbyte(port), 0);
  auto waitQueued = [&](int n) { waitUntil([&] { return port.available() >= n; }, 2000); };
  ASSERT_TRUE(pty.write(Bytes(300, 0x41)));
  waitQueued(300);
  EXPECT_EQ(d.rdLMSmsg(300, buf, port), 45);
  ASSERT_TRUE(pty.write(Bytes(100, 0x42)));
  waitQueued(100);
  EXPECT_EQ(d.rdLMSmsg(300, buf, port), 100);
  EXPECT_EQ(buf[99], 0x42);
  ASSERT_TRUE(pty.write({0x7E}));
  waitQueued(1);
  EXPECT_EQ(d.rdLMSbyte(port), 0x7E);
}

TEST(DriverOperations, RawReadsOverTcpTakeWholeMessages) {
  WireFixture w;
  ASSERT_TRUE(w.ok);
  NetLms d("127.0.0.1", w.peer.port(), "LMS");
  d.setOutput(nullptr);
  std::uint8_t buf[400] = {};
  EXPECT_EQ(d.rdLMSmsg(300, buf, *w.client), 0);  // nothing there: no wait
  Bytes message(300);
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i);
  ASSERT_TRUE(w.peer.send(message));
  ASSERT_TRUE(w.client->waitReady(2000));
  // One read takes the whole message and tells its length; only the 255 asked for are stored.
  EXPECT_EQ(d.rdLMSmsg(300, buf, *w.client), 300);
  EXPECT_EQ(buf[254], 254);
  EXPECT_EQ(buf[255], 0);
  EXPECT_EQ(w.client->hasReady(), 0);
  ASSERT_TRUE(w.peer.send(Bytes{0x7E, 0x7F}));
  ASSERT_TRUE(w.client->waitReady(2000));
  EXPECT_EQ(d.rdLMSbyte(*w.client), 0x7E);
  EXPECT_EQ(w.client->hasReady(), 0);  // the rest of the message went with it
}

}  // namespace
