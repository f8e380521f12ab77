// SPDX-License-Identifier: Apache-2.0
#include "transport/tcp_client.h"
#include "lms/protocol/scanner_constants.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "captured_output.h"
#include "fd_count.h"
#include "loopback_peer.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "wait_until.h"

using namespace transport;
using namespace platform;
using namespace lms;

// Peers listen on ephemeral ports of 127.0.0.1; a refused connect uses 127.0.1.x.

namespace {

std::string takeText(TcpClient& c) {
  std::uint8_t buf[1000];
  int n = c.readReady(buf, 1000);
  return std::string(buf, buf + std::min(n, 1000));
}

// A client connected to a peer on an ephemeral loopback port.
struct Connected {
  Connected() : peer("127.0.0.1", 0) {
    EXPECT_TRUE(peer.listening());
    ok = client.connect("127.0.0.1", peer.port()) && peer.accept();
  }
  LoopbackPeer peer;
  TcpClient client{nullptr};
  bool ok = false;
};

TEST(TcpClient, ChunksCloserThan50msArriveAsOneMessage) {
  Connected c;
  ASSERT_TRUE(c.ok);
  // Three sends in quick succession (the exact 49/50 ms edges are the
  // framer's own tests, driven by its clock; here a loaded machine must not
  // stretch a gap past the rule).
  c.peer.send("abc");
  sleepMs(1);  // the peer's pauses between chunks are the thing under test
  c.peer.send("def");
  sleepMs(1);
  c.peer.send("ghi");
  const std::int64_t sent = processMillis();
  ASSERT_TRUE(c.client.waitReady(3000));
  // Published no earlier than 50 ms after the last chunk.
  EXPECT_GE(processMillis() - sent, 49);
  EXPECT_EQ(takeText(c.client), "abcdefghi");
  EXPECT_EQ(c.client.hasReady(), 0);
}

TEST(TcpClient, BurstsFarApartAreSeparateMessages) {
  Connected c;
  ASSERT_TRUE(c.ok);
  c.peer.send("first");
  ASSERT_TRUE(c.client.waitReady(3000));
  EXPECT_EQ(takeText(c.client), "first");
  sleepMs(150);  // a silence far longer than 50 ms: the thing under test
  c.peer.send("second");
  ASSERT_TRUE(c.client.waitReady(3000));
  EXPECT_EQ(takeText(c.client), "second");
}

TEST(TcpClient, SecondMessageIsDroppedWhileTheFirstIsUnread) {
  Connected c;
  ASSERT_TRUE(c.ok);
  c.peer.send("first");
  ASSERT_TRUE(c.client.waitReady(3000));
  sleepMs(100);  // the peer's silence that makes "second" a message of its own
  c.peer.send("second");
  EXPECT_TRUE(waitUntil([&] { return c.client.droppedMessages() == 1; }, 3000));  // while "first" is unread
  EXPECT_EQ(takeText(c.client), "first");
  EXPECT_EQ(c.client.droppedMessages(), 1);
  EXPECT_EQ(c.client.hasReady(), 0);
  c.peer.send("third");
  ASSERT_TRUE(c.client.waitReady(3000));
  EXPECT_EQ(takeText(c.client), "third");
}

TEST(TcpClient, ZeroHeavyRepliesArriveIntactAndWantedOneTakesTheWhole) {
  Connected c;
  ASSERT_TRUE(c.ok);
  std::vector<std::uint8_t> reply(732, 0);
  reply[0] = 0x02;
  reply[400] = 0x11;
  reply[731] = 0x13;
  c.peer.send(reply);
  ASSERT_TRUE(c.client.waitReady(3000));
  std::vector<std::uint8_t> out(802, 0xAA);
  ASSERT_EQ(c.client.readReady(out.data(), 802), 732);
  EXPECT_TRUE(std::equal(reply.begin(), reply.end(), out.begin()));

  c.peer.send(reply);
  ASSERT_TRUE(c.client.waitReady(3000));
  std::uint8_t one[2] = {0xAA, 0xAA};
  EXPECT_EQ(c.client.readReady(one, 1), 732);
  EXPECT_EQ(one[0], 0x02);
  EXPECT_EQ(one[1], 0xAA);
  EXPECT_EQ(c.client.hasReady(), 0);
}

TEST(TcpClient, SendPutsRawBytesOnTheWire) {
  Connected c;
  ASSERT_TRUE(c.ok);
  const std::uint8_t telegram[] = {0x02, 0x00, 0x02, 0x00, 0x30, 0x01};
  EXPECT_EQ(c.client.send(telegram, 6), 6);
  auto got = c.peer.receive(6);
  EXPECT_EQ(got, std::vector<std::uint8_t>(telegram, telegram + 6));
}

TEST(TcpClient, PeerCloseEndsTheReceiverAndIsReported) {
  Connected c;
  ASSERT_TRUE(c.ok);
  c.peer.send("last words");
  c.peer.closeConnection();
  // The message gathered before the close is still delivered.
  ASSERT_TRUE(c.client.waitReady(3000));
  EXPECT_EQ(takeText(c.client), "last words");
  const std::int64_t until = processMillis() + 3000;
  while (!c.client.drained() && processMillis() < until) c.client.waitReady(50);
  EXPECT_TRUE(c.client.gone());
  EXPECT_TRUE(c.client.socketThreadDone());
  EXPECT_TRUE(c.client.drained());
  EXPECT_FALSE(c.client.waitReady(10));
  // A send to a closed peer fails instead of killing the process with SIGPIPE.
  for (int i = 0; i < 3; ++i) c.client.send("x", 1);
  EXPECT_TRUE(c.client.close());
}

TEST(TcpClient, CloseWakesABlockedReceiverAndLeaksNoDescriptor) {
  const int before = openFdCount();
  {
    LoopbackPeer peer("127.0.0.1", 0);
    TcpClient client(nullptr);
    ASSERT_TRUE(client.connect("127.0.0.1", peer.port()));
    ASSERT_TRUE(peer.accept());
    EXPECT_TRUE(waitUntil([&] { return client.running(); }, 3000));  // the receiver is on its way to receive
    const std::int64_t t0 = processMillis();
    EXPECT_TRUE(client.close());
    EXPECT_LT(processMillis() - t0, 1000);
    EXPECT_TRUE(client.socketThreadDone());
    EXPECT_FALSE(client.gone());  // closed on purpose
    EXPECT_FALSE(client.close());
  }
  EXPECT_EQ(openFdCount(), before);
}

TEST(TcpClient, DestroyingRightAfterConnectIsSafe) {
  LoopbackPeer peer("127.0.0.1", 0);
  for (int i = 0; i < 5; ++i) {
    TcpClient client(nullptr);
    ASSERT_TRUE(client.connect("127.0.0.1", peer.port()));
  }
}

TEST(TcpClient, FailedConnectionsReturnFalseAndLeaveNothingOpen) {
  const int before = openFdCount();
  TcpClient client(nullptr);
  EXPECT_FALSE(client.close());                             // never connected
  EXPECT_FALSE(client.connect("127.0.1.9", kScannerPort));  // nobody listens: refused
  EXPECT_EQ(client.lastError(), std::errc::connection_refused);
  EXPECT_EQ(errorText(client.lastError()), "Connection refused");  // the same words on every OS
  for (const char* bad : {"", "localhost", "127.0.0", "127.0.0.1.5", "256.0.0.1", "1.2.3.4x", " 127.0.0.1"}) {
    EXPECT_FALSE(client.connect(bad, kScannerPort)) << bad;
    EXPECT_EQ(client.lastError(), std::errc::invalid_argument) << bad;
  }
  EXPECT_FALSE(client.connect(nullptr, kScannerPort));
  EXPECT_EQ(openFdCount(), before);
}

TEST(TcpClient, ProgressLinesGoToTheGivenOutput) {
  LoopbackPeer peer("127.0.0.1", 0);
  Captured out;
  {
    TcpClient client(out.sink());
    ASSERT_TRUE(client.connect("127.0.0.1", peer.port()));
    EXPECT_TRUE(waitUntil([&] { return out.str().find("Init Wait\n") != std::string::npos; }, 3000));
  }
  const std::string s = out.str();
  EXPECT_EQ(s.find("conexion iniciada\n"), 0u);
  EXPECT_NE(s.find("SocketThread\n"), std::string::npos);
  EXPECT_NE(s.find("Init Wait\n"), std::string::npos);
}

TEST(TcpEchoLoop, EchoesUntil101MessagesThenEnds) {
  LoopbackPeer peer("127.0.0.1", 0);
  Captured out;
  std::thread echo([&] { tcpEchoLoop("127.0.0.1", peer.port(), out.sink(), 30000); });
  ASSERT_TRUE(peer.accept());
  auto lines = peer.receive(std::string("socket 0\n").size() * 10);
  EXPECT_EQ(std::string(lines.begin(), lines.end()).substr(0, 18), "socket 0\nsocket 1\n");
  // The peer sends one message at a time and waits for its echo.
  int echoed = 0;
  for (int i = 0; i < 120; ++i) {
    std::string msg = "m";
    msg += std::to_string(i);
    if (!peer.send(msg)) break;
    auto back = peer.receive(msg.size(), 1000);
    if (back.size() != msg.size()) break;
    ++echoed;
  }
  echo.join();
  const std::string s = out.str();
  EXPECT_EQ(echoed, 101);
  EXPECT_NE(s.find("men 0: m0\n"), std::string::npos);
  EXPECT_NE(s.find("men 100: m100\n"), std::string::npos);
  EXPECT_EQ(s.find("men 101"), std::string::npos);
  EXPECT_NE(s.find("conexion terminada\n"), std::string::npos);
}

TEST(TcpEchoLoop, ReportsAFailedConnection) {
  Captured out;
  tcpEchoLoop("127.0.1.12", kScannerPort, out.sink(), 1000);
  EXPECT_EQ(out.str(), "conexion no realizada\n");
}

TEST(TcpEchoLoop, CutsAMessageTo999BytesAndEchoesThat) {
  LoopbackPeer peer("127.0.0.1", 0);
  Captured out;
  std::thread echo([&] { tcpEchoLoop("127.0.0.1", peer.port(), out.sink(), 30000); });
  ASSERT_TRUE(peer.accept());
  peer.receive(std::string("socket 0\n").size() * 10);
  const std::string big(1000, 'x');
  ASSERT_TRUE(peer.send(big));
  const auto back = peer.receive(1000, 2000);
  EXPECT_EQ(back.size(), 999u);  // room is kept for the terminating zero
  peer.closeConnection();
  echo.join();
  EXPECT_NE(out.str().find("men 0: " + std::string(999, 'x') + "\n"), std::string::npos);
}

TEST(TcpEchoLoop, EndsWithinItsTimeBoundOnASilentPeer) {
  LoopbackPeer peer("127.0.0.1", 0);
  Captured out;
  const std::int64_t t0 = processMillis();
  std::thread echo([&] { tcpEchoLoop("127.0.0.1", peer.port(), out.sink(), 400); });
  ASSERT_TRUE(peer.accept());
  echo.join();  // the peer never answers and never closes
  const std::int64_t took = processMillis() - t0;
  EXPECT_GE(took, 400);
  EXPECT_LT(took, 2000);
  EXPECT_NE(out.str().find("conexion terminada\n"), std::string::npos);
}

}  // namespace
