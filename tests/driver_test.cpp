#include "lms/driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "captured_output.h"
#include "fd_count.h"
#include "loopback_peer.h"
#include "platform/clock.h"
#include "pty_pair.h"
#include "sim_fixture.h"

using namespace lms;
using namespace transport;
using namespace platform;
using namespace sim;

// Addresses 127.0.3.x belong to this file.

namespace {

// Runs a driver's loop on a thread of its own.
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
  const std::int64_t until = processMillis() + ms;
  while (processMillis() < until) {
    if (d.takeScan(r, a, count)) return true;
    sleepMs(10);
  }
  return false;
}

void expectScanMatches(const float* r, const float* a, int count, const RangeWords& words) {
  ASSERT_EQ(count, kScanPoints);
  for (int i = 0; i < kScanPoints; ++i) {
    ASSERT_EQ(r[i], static_cast<float>((words[static_cast<std::size_t>(i)] & 0x1FFF) / 10.0)) << i;
    ASSERT_EQ(a[i], kAngleTable[static_cast<std::size_t>(i)]);
  }
}

// The next `scans` scans taken are those of the scene, from its first on.
template <class Driver>
void expectScenesScans(Driver& d, std::uint32_t seed, int scans, int timeoutMs, Captured& out) {
  for (int k = 0; k < scans; ++k) {
    const float* r = nullptr;
    const float* a = nullptr;
    int count = 0;
    ASSERT_TRUE(takeWithin(d, timeoutMs, r, a, count)) << out.str();
    expectScanMatches(r, a, count, Scene(seed).scan(k));
  }
}

TEST(NetLms, ShowsTheScenesScansInOrderAndPrintsTheStartLines) {
  SimOptions o;
  o.seed = 11;
  SimFixture sim({}, o);
  ASSERT_TRUE(sim.listen("127.0.3.1"));
  Captured out;
  NetLms d("127.0.3.1", 10002, "LMS");
  d.setOutput(out.file);
  RunningDriver run(d);
  expectScenesScans(d, 11, 2, 4000, out);
  EXPECT_LT(run.finish(), 700);  // a stop ends the pause at once
  EXPECT_EQ(d.outcome(), RunOutcome::Stopped);
  // The client's threads announce themselves at any moment; the driver's own
  // lines keep their order.
  std::string s = out.str();
  for (const std::string noise : {"SocketThread\n", "Init Wait\n"}) {
    if (const auto at = s.find(noise); at != std::string::npos) s.erase(at, noise.size());
  }
  EXPECT_EQ(s.find("trying to connect 1\nconexion iniciada\n"
                   "Network Conection ( IP: 127.0.3.1  Port: 10002 ) is open\nconnected to LMS\n"),
            0u)
      << s;
  EXPECT_EQ(s.find("readScan"), std::string::npos) << s;
}

TEST(SerialLms, ShowsTheScenesScansOverAPseudoTerminal) {
  SimOptions o;
  o.seed = 12;
  o.pace = true;
  SimFixture sim({}, o);
  ASSERT_TRUE(sim.pty());
  Captured out;
  SerialLms d(sim.server.devicePath().c_str(), "PLS");
  EXPECT_FALSE(d.isLMS());
  d.setOutput(out.file);
  RunningDriver run(d);
  expectScenesScans(d, 12, 2, 5000, out);
  run.finish();
  const std::string s = out.str();
  EXPECT_EQ(s.find("trying to connect 1\nSerial Conection ( Port: " + sim.server.devicePath() +
                   " , Baud : 9600 )is open\nconnected to LMS\n"),
            0u)
      << s;
}

TEST(SerialLms, PortNamesAndLaserTypes) {
  EXPECT_EQ(SerialLms("COM10", "LMS").comPort(), 10);
  EXPECT_EQ(SerialLms("COM1", "LMS").comPort(), 1);
  for (const char* bad : {"COM11", "COM0", "com3", "COM03"})
    EXPECT_EQ(SerialLms(bad, "LMS").comPort(), 0) << bad;
  EXPECT_FALSE(SerialLms("COM1", "PLS").isLMS());
  for (const char* t : {"LMS", "pls", "XYZ", ""}) EXPECT_TRUE(SerialLms("COM1", t).isLMS()) << t;
  EXPECT_EQ(NetLms("127.0.0.1", 10002, "LMS").numPoints(), 361);
}

TEST(SerialLms, InvalidPortFailsToConnectWithAReason) {
  Captured out;
  SerialLms d("COM11", "LMS");
  d.setOutput(out.file);
  EXPECT_TRUE(d.run());
  EXPECT_EQ(d.outcome(), RunOutcome::ConnectFailed);
  EXPECT_EQ(out.str().find("trying to connect 1\n"), 0u);
  EXPECT_NE(d.failureText().find("cannot open serial port"), std::string::npos);
}

TEST(NetLms, RefusedConnectionIsRetriedABoundedNumberOfTimesThenReported) {
  Captured out;
  NetLms d("127.0.3.2", 10002, "LMS");
  d.setOutput(out.file);
  const int fds = openFdCount();
  const std::int64_t t0 = processMillis();
  EXPECT_TRUE(d.run());
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
  ASSERT_TRUE(sim.listen("127.0.3.3"));
  Captured out;
  NetLms d("127.0.3.3", 10002, "LMS");
  d.setOutput(out.file);
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
  ASSERT_TRUE(sim.listen("127.0.3.4"));
  Captured out;
  NetLms d("127.0.3.4", 10002, "LMS");
  d.setOutput(out.file);
  RunningDriver run(d);
  const std::int64_t until = processMillis() + 8000;
  while (out.str().find("requestScan - no answer from LMS\n") == std::string::npos &&
         processMillis() < until) {
    sleepMs(20);
  }
  EXPECT_LT(run.finish(), kAckTimeoutMs + 500);
  EXPECT_NE(out.str().find("requestScan - no answer from LMS\n"), std::string::npos);
  EXPECT_EQ(d.outcome(), RunOutcome::Stopped);
}

TEST(NetLms, ClosedConnectionEndsTheRunWithAReason) {
  SimFaults f;
  f.closeAfter = 1;
  SimFixture sim(f, {});
  ASSERT_TRUE(sim.listen("127.0.3.5"));
  Captured out;
  NetLms d("127.0.3.5", 10002, "LMS");
  d.setOutput(out.file);
  std::thread t([&] { d.run(); });
  const std::int64_t until = processMillis() + 8000;
  while (d.outcome() != RunOutcome::LinkLost && processMillis() < until) sleepMs(20);
  t.join();
  EXPECT_EQ(d.outcome(), RunOutcome::LinkLost);
  EXPECT_NE(out.str().find("run - connection to LMS lost"), std::string::npos);
  const float* r = nullptr;
  const float* a = nullptr;
  int count = 0;
  EXPECT_TRUE(d.takeScan(r, a, count));  // the one reply before the close was kept
}

TEST(SerialLms, DeviceThatDisappearsEndsTheRun) {
  SimFixture sim({}, {});
  ASSERT_TRUE(sim.pty());
  Captured out;
  SerialLms d(sim.server.devicePath().c_str(), "LMS");
  d.setOutput(out.file);
  std::thread t([&] { d.run(); });
  sleepMs(300);
  sim.stop();  // the emulator closes its side of the pseudo-terminal
  const std::int64_t until = processMillis() + 8000;
  while (d.outcome() != RunOutcome::LinkLost && processMillis() < until) sleepMs(20);
  d.stop();
  t.join();
  EXPECT_EQ(d.outcome(), RunOutcome::LinkLost);
  EXPECT_NE(out.str().find("run - connection to LMS lost: serial device"), std::string::npos);
}

// A scripted scanner on the other end, to see exactly what the driver sends.
struct WireFixture {
  explicit WireFixture(const char* address) : peer(address) {
    client = std::make_unique<TcpClient>(nullptr);
    ok = client->connect(address, 10002) && peer.accept();
  }
  LoopbackPeer peer;
  std::unique_ptr<TcpClient> client;
  bool ok = false;
};

TEST(NetLms, EachCycleSendsExactlyTheRequestTelegram) {
  LoopbackPeer peer("127.0.3.6");
  NetLms d("127.0.3.6", 10002, "LMS");
  d.setOutput(nullptr);
  RunningDriver run(d);
  ASSERT_TRUE(peer.accept());
  EXPECT_EQ(peer.receive(8), (std::vector<std::uint8_t>{0x02, 0x00, 0x02, 0x00, 0x30, 0x01, 0x31, 0x18}));
  peer.send(std::vector<std::uint8_t>{kNak});  // refused: nothing printed, the request goes out again
  auto again = peer.receive(8, 4000);
  EXPECT_EQ(again, (std::vector<std::uint8_t>{0x02, 0x00, 0x02, 0x00, 0x30, 0x01, 0x31, 0x18}));
}

TEST(DriverOperations, InvalidValuesSendNothingAndReportFailure) {
  WireFixture w("127.0.3.7");
  ASSERT_TRUE(w.ok);
  Captured out;
  NetLms d("127.0.3.7", 10002, "LMS");
  d.setOutput(out.file);
  EXPECT_EQ(d.setUnits(2, *w.client), 1);
  EXPECT_FALSE(d.resetLMS(*w.client, 57600));
  const std::string s = out.str();
  EXPECT_NE(s.find("setUnits - Invalid units specified\n"), std::string::npos);
  EXPECT_NE(s.find("resetLMS - Baud rate changes failure\n"), std::string::npos);
  EXPECT_TRUE(w.peer.receive(1, 200).empty());  // nothing reached the wire
  EXPECT_EQ(w.client->send("x", 1), 1);         // and the link is still open
}

TEST(DriverOperations, TelegramsOnTheWireAndFailureMessages) {
  WireFixture w("127.0.3.8");
  ASSERT_TRUE(w.ok);
  Captured out;
  NetLms d("127.0.3.8", 10002, "LMS");
  d.setOutput(out.file);
  std::thread scanner([&] {
    // Refuse everything so the failure messages show.
    for (int i = 0; i < 4; ++i) {
      auto got = w.peer.receive(1, 3000);
      if (got.empty()) break;
      sleepMs(100);
      w.peer.receive(100, 50);
      w.peer.send(std::vector<std::uint8_t>{kNak});
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
  SimFixture sim({}, {});
  ASSERT_TRUE(sim.listen("127.0.3.9"));
  TcpClient client(nullptr);
  ASSERT_TRUE(client.connect("127.0.3.9", 10002));
  Captured out;
  NetLms d("127.0.3.9", 10002, "LMS");
  d.setOutput(out.file);
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
  auto waitQueued = [&](int n) {
    const std::int64_t until = processMillis() + 2000;
    while (port.available() < n && processMillis() < until) port.waitData(20);
  };
  ASSERT_TRUE(pty.write(std::vector<std::uint8_t>(300, 0x41)));
  waitQueued(300);
  EXPECT_EQ(d.rdLMSmsg(300, buf, port), 45);
  ASSERT_TRUE(pty.write(std::vector<std::uint8_t>(100, 0x42)));
  waitQueued(100);
  EXPECT_EQ(d.rdLMSmsg(300, buf, port), 100);
  EXPECT_EQ(buf[99], 0x42);
  ASSERT_TRUE(pty.write({0x7E}));
  waitQueued(1);
  EXPECT_EQ(d.rdLMSbyte(port), 0x7E);
}

}  // namespace
