// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "captured_output.h"
#include "fd_count.h"
#include "loopback_peer.h"
#include "platform/clock.h"
#include "pty_pair.h"
#include "sim_fixture.h"
#include "wait_until.h"

using namespace lms;
using namespace transport;
using namespace platform;
using namespace sim;

// Peers listen on ephemeral ports of 127.0.0.1; a refused connect uses 127.0.3.x.

namespace {

// Runs an acquisition's loop on a thread of its own.
template <class Driver>
struct RunningDriver {
  explicit RunningDriver(Driver& d) : driver(d), thread([this] { driver.run(); }) {}
  ~RunningDriver() { finish(); }
  // Stops the loop; returns how long run() took to return, in ms.
  std::int64_t finish() {
    if (!thread.joinable()) return 0;
    const std::int64_t t0 = processMillis();
    driver.stop();
    thread.join();
    return processMillis() - t0;
  }
  Driver& driver;
  std::thread thread;
};

template <class Driver>
bool takeWithin(Driver& d, int ms, const float*& r, const float*& a, int& count) {
  return waitUntil([&] { return d.slot().takeScan(r, a, count); }, ms);
}

void expectScanMatches(const float* r, const float* a, int count, const RangeWords& words) {
  ASSERT_EQ(count, kScanPoints);
  for (int i = 0; i < kScanPoints; ++i) {
    ASSERT_EQ(r[i], static_cast<float>((words[static_cast<std::size_t>(i)] & 0x1FFF) / 10.0)) << i;
    ASSERT_EQ(a[i], static_cast<float>(replyGeometry(kScanPoints).angle(static_cast<std::size_t>(i))));
  }
}

// The driver's start lines over both links (what the scans hold is the
// library's tests' part: they run on this driver through the engine).
TEST(LmsDriver, SaysItsStartLinesInOrderOverTcpAndAPseudoTerminal) {
  SimOptions o;
  o.pace = true;
  SimFixture tcp({}, o), pty({}, o);
  ASSERT_TRUE(tcp.listen("127.0.0.1", 0));
  ASSERT_TRUE(pty.pty());
  Captured netOut, serialOut;
  NetAcquisition net(netTarget("127.0.0.1", tcp.port()));
  SerialAcquisition serial(serialTarget(pty.server.devicePath()));
  net.setMessages(netOut.sink());
  serial.setMessages(serialOut.sink());
  {
    RunningDriver runNet(net);
    RunningDriver runSerial(serial);
    ASSERT_TRUE(waitUntil([&] { return net.slot().takeScan() != nullptr; }, 4000)) << netOut.str();
    ASSERT_TRUE(waitUntil([&] { return serial.slot().takeScan() != nullptr; }, 5000)) << serialOut.str();
    EXPECT_LT(runNet.finish(), 700);  // a stop ends the pause at once
  }
  EXPECT_EQ(net.outcome(), RunOutcome::Stopped);
  // The client's threads announce themselves at any moment; the driver's own
  // lines keep their order.
  std::string s = netOut.str();
  for (const std::string noise : {"SocketThread\n", "Init Wait\n"}) {
    if (const auto at = s.find(noise); at != std::string::npos) s.erase(at, noise.size());
  }
  EXPECT_EQ(s.find("trying to connect 1\nconexion iniciada\n"
                   "Network Conection ( IP: 127.0.0.1  Port: " +
                   std::to_string(tcp.port()) + " ) is open\nconnected to LMS\n"),
            0u)
      << s;
  EXPECT_EQ(s.find("readScan"), std::string::npos) << s;
  EXPECT_EQ(serialOut.str().find("trying to connect 1\nSerial Conection ( Port: " + pty.server.devicePath() +
                                 " , Baud : 9600 )is open\nconnected to LMS\n"),
            0u)
      << serialOut.str();
}

TEST(SerialLms, PortNamesAndLaserTypes) {
  EXPECT_EQ(SerialLms("COM10", "LMS").comPort(), 10);
  EXPECT_EQ(SerialLms("COM1", "LMS").comPort(), 1);
  for (const char* bad : {"COM11", "COM0", "com3", "COM03"})
    EXPECT_EQ(SerialLms(bad, "LMS").comPort(), 0) << bad;
  EXPECT_FALSE(SerialLms("COM1", "PLS").isLMS());
  for (const char* t : {"LMS", "pls", "XYZ", ""}) EXPECT_TRUE(SerialLms("COM1", t).isLMS()) << t;
}

TEST(SerialLms, InvalidPortFailsToConnectWithAReason) {
  Captured out;
  SerialAcquisition d(serialTarget("COM11"));
  d.setMessages(out.sink());
  d.run();
  EXPECT_EQ(d.outcome(), RunOutcome::ConnectFailed);
  EXPECT_EQ(out.str().find("trying to connect 1\n"), 0u);
  EXPECT_NE(d.failureText().find("cannot open serial port"), std::string::npos);
}

TEST(NetLms, RefusedConnectionIsRetriedABoundedNumberOfTimesThenReported) {
  Captured out;
  NetAcquisition d(netTarget("127.0.3.2", 10002));
  d.setMessages(out.sink());
  const int fds = openFdCount();
  const std::int64_t t0 = processMillis();
  d.run();
  EXPECT_LT(processMillis() - t0, 3000);
  EXPECT_EQ(d.outcome(), RunOutcome::ConnectFailed);
  const std::string s = out.str();
  EXPECT_NE(s.find("trying to connect 3\n"), std::string::npos);
  EXPECT_NE(s.find("connectToLMS - Failed to connect 0x6f 0x1\n"), std::string::npos);  // ECONNREFUSED
  EXPECT_NE(s.find("Failed to connect to ladar after many tries! 0x3\n"), std::string::npos);
  EXPECT_EQ(d.failureText(), "cannot connect to 127.0.3.2 port 10002: Connection refused");
  EXPECT_EQ(openFdCount(), fds);
}

TEST(NetLms, CorruptedReplyIsReportedAndNotShownAndTheNextGoodOneIs) {
  SimFaults f;
  f.corruptCrcEvery = 2;  // scans 1 and 3 spoiled (counting from 0)
  SimOptions o;
  o.seed = 13;
  SimFixture sim(f, o);
  ASSERT_TRUE(sim.listen("127.0.0.1", 0));
  Captured out;
  NetAcquisition d(netTarget("127.0.0.1", sim.port()));
  d.setMessages(out.sink());
  RunningDriver run(d);
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 0;
  ASSERT_TRUE(takeWithin(d, 4000, r, a, count));
  expectScanMatches(r, a, count, Scene(13).scan(0));
  ASSERT_TRUE(takeWithin(d, 4000, r, a, count));
  expectScanMatches(r, a, count, Scene(13).scan(2));
  run.finish();
  EXPECT_NE(out.str().find("readScan - checksum mismatch\n"), std::string::npos);
}

TEST(NetLms, SilentScannerIsReportedEachCycleAndStopStillWorks) {
  SimFaults f;
  f.silentAfter = 0;
  SimFixture sim(f, {});
  ASSERT_TRUE(sim.listen("127.0.0.1", 0));
  Captured out;
  NetAcquisition d(netTarget("127.0.0.1", sim.port()));
  d.setMessages(out.sink());
  RunningDriver run(d);
  // The first request goes unanswered; its bound passes; the stop comes
  // while the next waits for its answer, and ends that wait at once.
  ASSERT_TRUE(waitUntil([&] { return sim.server.counters().ignored >= 1; }, 8000));
  EXPECT_TRUE(
      waitUntil([&] { return out.str().find("requestScan - no answer") != std::string::npos; }, 8000));
  ASSERT_TRUE(waitUntil([&] { return sim.server.counters().ignored >= 2; }, 8000));
  EXPECT_LT(run.finish(), kAckTimeoutMs / 3);
  EXPECT_NE(out.str().find("requestScan - no answer from LMS\n"), std::string::npos);
  EXPECT_EQ(d.outcome(), RunOutcome::Stopped);
}

TEST(NetLms, ClosedConnectionEndsTheRunWithAReason) {
  SimFaults f;
  f.closeAfter = 1;
  SimFixture sim(f, {});
  ASSERT_TRUE(sim.listen("127.0.0.1", 0));
  Captured out;
  NetAcquisition d(netTarget("127.0.0.1", sim.port()));
  d.setMessages(out.sink());
  std::thread t([&] { d.run(); });
  waitUntil([&] { return d.outcome() == RunOutcome::LinkLost; }, 8000);
  t.join();
  EXPECT_EQ(d.outcome(), RunOutcome::LinkLost);
  EXPECT_NE(out.str().find("run - connection to LMS lost"), std::string::npos);
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 0;
  EXPECT_TRUE(d.slot().takeScan(r, a, count));  // the one reply before the close was kept
}

TEST(SerialLms, DeviceThatDisappearsEndsTheRun) {
  SimFixture sim({}, {});
  ASSERT_TRUE(sim.pty());
  Captured out;
  SerialAcquisition d(serialTarget(sim.server.devicePath()));
  d.setMessages(out.sink());
  std::thread t([&] { d.run(); });
  EXPECT_TRUE(waitUntil([&] { return out.str().find("connected to LMS\n") != std::string::npos; }, 5000));
  sim.stop();  // the emulator closes its side of the pseudo-terminal
  waitUntil([&] { return d.outcome() == RunOutcome::LinkLost; }, 8000);
  d.stop();
  t.join();
  EXPECT_EQ(d.outcome(), RunOutcome::LinkLost);
  EXPECT_NE(out.str().find("run - connection to LMS lost: serial device"), std::string::npos);
}

TEST(NetLms, EachCycleSendsExactlyTheRequestTelegram) {
  LoopbackPeer peer("127.0.0.1", 0);
  NetAcquisition d(netTarget("127.0.0.1", peer.port()));
  d.setMessages(nullptr);
  RunningDriver run(d);
  ASSERT_TRUE(peer.accept());
  EXPECT_EQ(peer.receive(8), (std::vector<std::uint8_t>{0x02, 0x00, 0x02, 0x00, 0x30, 0x01, 0x31, 0x18}));
  peer.send(std::vector<std::uint8_t>{kNak});  // refused: nothing printed, the request goes out again
  auto again = peer.receive(8, 4000);
  EXPECT_EQ(again, (std::vector<std::uint8_t>{0x02, 0x00, 0x02, 0x00, 0x30, 0x01, 0x31, 0x18}));
}

// A late answer from an earlier exchange must not be taken for the answer to
// the next telegram: whatever waits is discarded before it goes out.
TEST(DriverExchange, StaleInputIsDiscardedBeforeATelegramGoesOut) {
  using Bytes = std::vector<std::uint8_t>;
  {
    LoopbackPeer peer("127.0.0.1", 0);
    TcpClient client(nullptr);
    ASSERT_TRUE(client.connect("127.0.0.1", peer.port()) && peer.accept());
    NetLms d("127.0.0.1", peer.port(), "LMS");
    peer.send(Bytes{kNak, 0x02, 0x80});
    ASSERT_TRUE(client.waitReady(2000));
    std::thread scanner([&] {
      EXPECT_EQ(peer.receive(8, 3000).size(), 8u);
      peer.send(Bytes{kAck});
    });
    EXPECT_EQ(d.requestScan(client), 0);
    scanner.join();
  }
  {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath().c_str(), 9600));
    SerialLms d(pty.slavePath().c_str(), "LMS");
    ASSERT_TRUE(pty.write(Bytes{kNak, kNak, 0x41}));
    ASSERT_TRUE(waitUntil([&] { return port.available() == 3; }, 2000));
    std::thread scanner([&] {
      EXPECT_EQ(pty.read(8, 3000).size(), 8u);
      pty.write(Bytes{kAck});
    });
    EXPECT_EQ(d.requestScan(port), 0);
    scanner.join();
  }
}

}  // namespace

namespace {

int countOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

int threadCount() {
  int n = 0;
  std::error_code ec;
  for ([[maybe_unused]] const auto& t : std::filesystem::directory_iterator("/proc/self/task", ec)) ++n;
  return n;
}

// Each connection carries one reply and closes; the driver comes back fifty
// times. Nothing it opens for a connection outlives it: after the driver and
// the emulator are gone, descriptors and threads are as they were.
TEST(DriverReconnect, FiftyReconnectsLeaveNoDescriptorOrThreadBehind) {
  std::thread([] {}).join();  // a sanitizer's helper thread, if any, is there before we count
  const int fdsBefore = openFdCount();
  const int threadsBefore = threadCount();
  {
    SimFaults f;
    f.closeAfter = 1;
    SimFixture sim(f, {});
    ASSERT_TRUE(sim.listen("127.0.0.1", 0));
    Captured out;
    NetAcquisition d(netTarget("127.0.0.1", sim.port()));
    d.setMessages(out.sink());
    d.configure({.intervalMs = 0,
                 .reconnect = {.enabled = true, .firstDelayMs = 5, .maxDelayMs = 5},
                 .timing = {.retryPauseMs = 5, .clientStartPauseMs = 5}});
    RunningDriver run(d);
    // One reply a connection: the emulator's count (read under its lock) says
    // how many connections there were; the output is read after the run.
    EXPECT_TRUE(waitUntil([&] { return sim.server.counters().scans >= 51; }, 60000, 20));
    run.finish();
    EXPECT_GE(countOf(out.str(), "connected to LMS\n"), 51);
    EXPECT_EQ(d.outcome(), RunOutcome::Stopped);
    const float* r = nullptr;
    const float* a = nullptr;
    int count = 0;
    EXPECT_TRUE(d.slot().takeScan(r, a, count));
  }
  EXPECT_EQ(openFdCount(), fdsBefore);
  EXPECT_EQ(threadCount(), threadsBefore);
}

TEST(DriverReconnect, WithoutItALostLinkEndsTheRunAndWithItTheBackOffGrows) {
  std::mutex mutex;
  std::vector<std::pair<int, int>> waits;  // (attempt, delay), as the events said
  std::string place;
  NetAcquisition d(netTarget("127.0.3.9", 10002));  // nobody listens there
  d.setEvents([&](const lmsview::Event& e) {
    if (e.kind != lmsview::Event::Kind::reconnecting) return;
    std::lock_guard lock(mutex);
    waits.emplace_back(e.attempt, static_cast<int>(e.delay.count()));
    place = e.where;
  });
  d.configure({.reconnect = {.enabled = true, .firstDelayMs = 50, .maxDelayMs = 200}});
  RunningDriver run(d);
  // 0.05 + 0.1 + 0.2 + 0.2 s of back-off and quick refusals reach attempt 6 well within 1.5 s.
  EXPECT_TRUE(waitUntil(
      [&] {
        std::lock_guard lock(mutex);
        return waits.size() >= 5;
      },
      1500));
  EXPECT_LT(run.finish(), 300);  // a stop ends the back-off at once
  std::lock_guard lock(mutex);
  ASSERT_GE(waits.size(), 5u);
  EXPECT_EQ(place, "127.0.3.9 port 10002");
  const std::vector<std::pair<int, int>> expected = {
      {2, 50}, {3, 100}, {4, 200}, {5, 200}};  // held at the largest
  const std::vector<std::pair<int, int>> first(waits.begin(), waits.begin() + 4);
  EXPECT_EQ(first, expected);
  EXPECT_EQ(d.stats().reconnects, static_cast<std::int64_t>(waits.size()));
}

}  // namespace
