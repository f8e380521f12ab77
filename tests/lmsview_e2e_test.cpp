// lmsview as a user runs it: a child process against the emulator on loopback
// or a pseudo-terminal, ended by a key on its standard input.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "child_process.h"
#include "e2e_support.h"
#include "platform/clock.h"
#include "sim_fixture.h"

using namespace lms;
using namespace platform;
using namespace sim;

// Addresses 127.0.4.x belong to this file.

namespace {

const std::string kLmsview = LMSVIEW_PATH;

// The key ends the program as soon as the loop has returned; a few seconds
// cover a cycle in progress even under the sanitizers.
constexpr int kExitWithinMs = 4000;

struct ScanLogFile {
  std::FILE* scanLog = std::tmpfile();
  ~ScanLogFile() { std::fclose(scanLog); }
};

SimOptions withLog(SimOptions o, std::FILE* log) {
  o.scanLog = log;
  return o;
}

// Every table is one of the sent scans with a valid checksum, in order, with
// samples 0, 1, 2...; returns how many were shown.
int expectTablesMatch(const std::vector<ShownTable>& tables, const std::vector<SentScan>& sent) {
  std::size_t next = 0;
  for (std::size_t t = 0; t < tables.size(); ++t) {
    EXPECT_EQ(tables[t].sample, static_cast<int>(t));
    EXPECT_EQ(tables[t].rows.size(), 361u);
    while (next < sent.size() && sent[next].rows != tables[t].rows) ++next;
    EXPECT_LT(next, sent.size()) << "table " << t << " matches no scan that was sent";
    if (next < sent.size()) {
      EXPECT_TRUE(sent[next].fate == "sent" || sent[next].fate == "flipped-byte") << sent[next].fate;
      ++next;
    }
  }
  return static_cast<int>(tables.size());
}

TEST(LmsviewOverTcp, ShowsEveryScanTheEmulatorSentAndEndsOnAKey) {
  ScanLogFile run;
  SimOptions o;
  o.seed = 21;
  SimFixture sim({}, withLog(o, run.scanLog));
  ASSERT_TRUE(sim.listen("127.0.4.1"));
  ChildProcess lmsview({kLmsview, "IP", "127.0.4.1", "LMS"});
  ASSERT_TRUE(lmsview.waitForOutput("muestra: 2\n", 10000)) << lmsview.out();
  const std::int64_t keyAt = processMillis();
  lmsview.pressKey();
  ASSERT_TRUE(lmsview.wait(kExitWithinMs + 2000));
  EXPECT_LT(processMillis() - keyAt, kExitWithinMs);
  EXPECT_EQ(lmsview.exitCode(), 0);
  const auto tables = parseTables(lmsview.out());
  const auto sent = readScanLog(run.scanLog);
  EXPECT_EQ(expectTablesMatch(tables, sent), static_cast<int>(sent.size()));
  const std::string out = lmsview.out();
  EXPECT_EQ(out.find("Comunicacion IP: 127.0.4.1 Tipo de laser LMS\n\n"), 0u);
  EXPECT_NE(out.find("Press any key to continue . . .\n"), std::string::npos);
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
  EXPECT_EQ(lmsview.err(), "");
}

TEST(LmsviewOverSerial, ShowsEveryScanOverAPseudoTerminal) {
  ScanLogFile run;
  SimOptions o;
  o.seed = 22;
  o.pace = true;
  SimFixture sim({}, withLog(o, run.scanLog));
  ASSERT_TRUE(sim.pty());
  ChildProcess lmsview({kLmsview, "COM", sim.server.devicePath(), "LMS"});
  ASSERT_TRUE(lmsview.waitForOutput("muestra: 1\n", 10000)) << lmsview.out();
  lmsview.pressKey();
  ASSERT_TRUE(lmsview.wait(kExitWithinMs + 2000));
  EXPECT_EQ(lmsview.exitCode(), 0);
  const auto sent = readScanLog(run.scanLog);
  EXPECT_EQ(expectTablesMatch(parseTables(lmsview.out()), sent), static_cast<int>(sent.size()));
}

TEST(LmsviewOverTcp, CorruptedReplyIsReportedAndNotShown) {
  ScanLogFile run;
  SimFaults f;
  f.corruptCrcEvery = 2;
  SimFixture sim(f, withLog({}, run.scanLog));
  ASSERT_TRUE(sim.listen("127.0.4.2"));
  ChildProcess lmsview({kLmsview, "IP", "127.0.4.2", "LMS"});
  ASSERT_TRUE(lmsview.waitForOutput("muestra: 1\n", 10000)) << lmsview.out();
  lmsview.pressKey();
  ASSERT_TRUE(lmsview.wait(kExitWithinMs + 2000));
  const auto sent = readScanLog(run.scanLog);
  int corrupt = 0;
  for (const auto& s : sent) corrupt += s.fate == "corrupt-checksum";
  EXPECT_GE(corrupt, 1);
  EXPECT_EQ(countOf(lmsview.out(), "readScan - checksum mismatch\n"), corrupt);
  EXPECT_EQ(expectTablesMatch(parseTables(lmsview.out()), sent), static_cast<int>(sent.size()) - corrupt);
}

TEST(LmsviewOverTcp, ClosedConnectionIsReportedAndEndsWithoutAKey) {
  SimFaults f;
  f.closeAfter = 2;
  SimFixture sim(f, {});
  ASSERT_TRUE(sim.listen("127.0.4.3"));
  ChildProcess lmsview({kLmsview, "IP", "127.0.4.3", "LMS"});
  ASSERT_TRUE(lmsview.wait(10000));
  EXPECT_EQ(lmsview.exitCode(), 1);
  EXPECT_EQ(parseTables(lmsview.out()).size(), 2u);
  EXPECT_NE(lmsview.out().find("run - connection to LMS lost"), std::string::npos);
  EXPECT_EQ(lmsview.err().rfind("lmsview: connection to the scanner lost", 0), 0u) << lmsview.err();
  EXPECT_EQ(countOf(lmsview.err(), "\n"), 1);
}

TEST(LmsviewOverTcp, SilentScannerIsReportedAndTheKeyStillEndsTheRun) {
  SimFaults f;
  f.silentAfter = 0;
  SimFixture sim(f, {});
  ASSERT_TRUE(sim.listen("127.0.4.4"));
  ChildProcess lmsview({kLmsview, "IP", "127.0.4.4", "LMS"});
  ASSERT_TRUE(lmsview.waitForOutput("requestScan - no answer from LMS\n", 10000)) << lmsview.out();
  const std::int64_t keyAt = processMillis();
  lmsview.pressKey();
  ASSERT_TRUE(lmsview.wait(kExitWithinMs + 2000));
  EXPECT_LT(processMillis() - keyAt, kExitWithinMs);
  EXPECT_EQ(lmsview.exitCode(), 0);
  EXPECT_TRUE(parseTables(lmsview.out()).empty());
}

TEST(LmsviewFailures, RefusedConnectionAndMissingDeviceEndWithStatus1) {
  {
    ChildProcess lmsview({kLmsview, "IP", "127.0.4.5", "LMS"});
    ASSERT_TRUE(lmsview.wait(10000));
    EXPECT_EQ(lmsview.exitCode(), 1);
    EXPECT_NE(lmsview.out().find("trying to connect 1\n"), std::string::npos);
    // The one-line message, then what to do.
    EXPECT_EQ(lmsview.err().rfind("lmsview: cannot connect to 127.0.4.5 port 10002: Connection refused\n"
                                  "lmsview: hint: nothing listens on port 10002",
                                  0),
              0u)
        << lmsview.err();
  }
  {
    ChildProcess lmsview({kLmsview, "COM", "/dev/lmsview-no-such-device", "LMS"});
    ASSERT_TRUE(lmsview.wait(10000));
    EXPECT_EQ(lmsview.exitCode(), 1);
    EXPECT_EQ(lmsview.err().rfind(
                  "lmsview: cannot open serial port /dev/lmsview-no-such-device: No such file or directory\n"
                  "lmsview: hint: ",
                  0),
              0u)
        << lmsview.err();
    EXPECT_EQ(countOf(lmsview.err(), "\n"), 2);
  }
  {
    ChildProcess lmsview({kLmsview, "IP", "999.1.2.3", "LMS"});
    ASSERT_TRUE(lmsview.wait(10000));
    EXPECT_EQ(lmsview.exitCode(), 1);
    EXPECT_EQ(lmsview.err(), "lmsview: not a dotted IPv4 address: 999.1.2.3\n");
  }
}

TEST(LmsviewFailures, BadArgumentsPrintOneLineOnStandardErrorOnly) {
  for (const auto& args :
       {std::vector<std::string>{"com", "3", "LMS"}, {"COM", "11", "LMS"}, {"COM", "abc", "PLS"}}) {
    std::vector<std::string> argv{kLmsview};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess lmsview(argv);
    ASSERT_TRUE(lmsview.wait(5000));
    EXPECT_EQ(lmsview.exitCode(), 2);
    EXPECT_EQ(lmsview.out(), "");
    EXPECT_EQ(countOf(lmsview.err(), "\n"), 1) << lmsview.err();
  }
}

TEST(LmsviewFailures, HelpAndVersionSendNoTraffic) {
  ChildProcess help({kLmsview, "--help"});
  ASSERT_TRUE(help.wait(5000));
  EXPECT_EQ(help.exitCode(), 0);
  EXPECT_EQ(help.out().rfind("usage: lmsview", 0), 0u);
  ChildProcess version({kLmsview, "--version"});
  ASSERT_TRUE(version.wait(5000));
  EXPECT_EQ(version.exitCode(), 0);
  EXPECT_EQ(version.out(), std::string("lmsview ") + LMS_VERSION + "\n");
}

TEST(LmsviewSignals, TermAndIntEndTheRunCleanly) {
  SimFixture sim({}, {});
  ASSERT_TRUE(sim.listen("127.0.4.6"));
  for (int sig : {SIGTERM, SIGINT}) {
    ChildProcess lmsview({kLmsview, "IP", "127.0.4.6", "LMS"});
    ASSERT_TRUE(lmsview.waitForOutput("muestra: 0\n", 10000));
    lmsview.signal(sig);
    ASSERT_TRUE(lmsview.wait(kExitWithinMs + 2000));
    EXPECT_TRUE(lmsview.exitedNormally());
    EXPECT_EQ(lmsview.exitCode(), 128 + sig);
  }
}

TEST(LmsviewOverTcp, EndOfInputCountsAsTheKey) {
  SimFixture sim({}, {});
  ASSERT_TRUE(sim.listen("127.0.4.7"));
  ChildProcess lmsview({kLmsview, "IP", "127.0.4.7", "LMS"});
  ASSERT_TRUE(lmsview.waitForOutput("muestra: 0\n", 10000));
  lmsview.closeStdin();
  ASSERT_TRUE(lmsview.wait(kExitWithinMs + 2000));
  EXPECT_EQ(lmsview.exitCode(), 0);
}

}  // namespace
