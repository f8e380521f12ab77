// The fault matrix: lmsview as a child process against the emulator with one
// fault injected per case. For every case: which scans were shown against what
// the emulator sent, the messages the user sees, the key still ends the run in
// time with the right status, and the process stays quiet on a silent link.

#include <gtest/gtest.h>

#include <functional>

#include "child_process.h"
#include "e2e_support.h"
#include "platform/clock.h"
#include "sim_fixture.h"

using namespace lms;
using namespace platform;
using namespace sim;

// Addresses 127.0.5.x belong to this file.

namespace {

const std::string kLmsview = LMSVIEW_PATH;
constexpr int kExitWithinMs = 4000;

struct Result {
  std::vector<ShownTable> tables;
  std::vector<SentScan> sent;
  SimCounters counters;
  std::string out, err;
  int exitCode = -1;
  double cpuSeconds = 0;
  double lifetimeSeconds = 0;
};

struct FaultCase {
  const char* name;
  SimFaults faults;
  bool serial = false;
  // How long the run goes on before the key; a run that ends by itself ends sooner.
  int runMs = 3300;
  bool endsByItself = false;
  int exitCode = 0;
  // Which sent scans must be shown (in order): all valid ones unless told otherwise.
  std::function<bool(const SentScan&, std::size_t index)> shouldShow;
  std::function<void(const Result&)> check;
  // The emulator goes away this long after the start (0: it stays); the reply
  // it was sending then may be cut off.
  int simGoneAfterMs = 0;
};

bool validFate(const SentScan& s) {
  return s.fate == "sent" || s.fate == "flipped-byte" || s.fate == "oversize";
}

std::vector<FaultCase> cases() {
  std::vector<FaultCase> c;
  c.push_back({.name = "CleanBurst"});
  c.push_back({.name = "CleanSerial", .serial = true});
  c.push_back(
      {.name = "NakEveryOther", .faults = {.nakEvery = 2}, .runMs = 4300, .check = [](const Result& r) {
         EXPECT_GE(r.counters.naks, 1);
         EXPECT_EQ(r.out.find("readScan"), std::string::npos);  // a refusal is not an error line
       }});
  c.push_back({.name = "SilenceThenRecovery",
               .faults = {.silentAfter = 1, .silentForMs = 2500},
               .runMs = 6500,
               .check = [](const Result& r) {
                 EXPECT_GE(countOf(r.out, "requestScan - no answer from LMS\n"), 1);
                 EXPECT_GE(r.sent.size(), 2u);  // it came back
               }});
  c.push_back(
      {.name = "SilenceForEver", .faults = {.silentAfter = 0}, .runMs = 4500, .check = [](const Result& r) {
         EXPECT_GE(countOf(r.out, "requestScan - no answer from LMS\n"), 2);
         // Waiting on a silent link costs next to nothing: far below a
         // spinning core even under the sanitizers.
         EXPECT_LT(r.cpuSeconds, 0.2 * r.lifetimeSeconds) << r.cpuSeconds << " s of CPU";
       }});
  c.push_back({.name = "SilenceForEverSerial",
               .faults = {.silentAfter = 0},
               .serial = true,
               .runMs = 4500,
               .check = [](const Result& r) {
                 EXPECT_GE(countOf(r.out, "requestScan - no answer from LMS\n"), 2);
                 EXPECT_LT(r.cpuSeconds, 0.2 * r.lifetimeSeconds) << r.cpuSeconds << " s of CPU";
               }});
  c.push_back({.name = "CorruptChecksum", .faults = {.corruptCrcEvery = 2}, .check = [](const Result& r) {
                 int bad = 0;
                 for (const auto& s : r.sent) bad += s.fate == "corrupt-checksum";
                 EXPECT_EQ(countOf(r.out, "readScan - checksum mismatch\n"), bad);
               }});
  c.push_back({.name = "CorruptChecksumSerial", .faults = {.corruptCrcEvery = 2}, .serial = true});
  c.push_back({.name = "FlippedByteValidChecksum", .faults = {.flipByteEvery = 2}});
  c.push_back({.name = "ShortReply", .faults = {.shortEvery = 2}, .check = [](const Result& r) {
                 int shortOnes = 0;
                 for (const auto& s : r.sent) shortOnes += s.fate == "short";
                 EXPECT_EQ(countOf(r.out, "readScan - reply too short (400 of 732 bytes)\n"), shortOnes);
               }});
  c.push_back({.name = "ShortReplySerial", .faults = {.shortEvery = 2}, .serial = true});
  // An acknowledge with nothing behind it: the scanner said yes and sent no reply.
  c.push_back({.name = "AckWithoutReply",
               .faults = {.shortEvery = 2, .shortLength = 0},
               .runMs = 4300,
               .check = [](const Result& r) {
                 int empty = 0;
                 for (const auto& s : r.sent) empty += s.fate == "short";
                 EXPECT_GE(empty, 1);
                 // The one awaited when the key came is not judged.
                 const int said = countOf(r.out, "readScan - no reply from LMS\n");
                 EXPECT_GE(said, empty - 1);
                 EXPECT_LE(said, empty);
               }});
  c.push_back({.name = "SmallChunksCloserThan50ms", .faults = {.chunkSize = 60, .chunkGapMs = 20}});
  c.push_back({.name = "ChunksFurtherApartThan50ms", .faults = {.chunkSize = 200, .chunkGapMs = 80}});
  c.push_back({.name = "GapBetweenAckAndReply", .faults = {.ackGapMs = 300}});
  c.push_back({.name = "GarbageBeforeEveryOtherAck",
               .faults = {.garbageBytes = 3, .garbageEvery = 2},
               .runMs = 4300,
               // The verdict is the first byte: an answer that starts with garbage is a refusal,
               // and the user sees what came.
               .shouldShow = [](const SentScan&, std::size_t i) { return (i + 1) % 2 != 0; },
               .check =
                   [](const Result& r) {
                     const int said = countOf(
                         r.out,
                         "requestScan - unexpected answer 0xA5 0xA4 0xA7 0x06 0x02 0x80 0xD6 0x02 ... "
                         "(is the baud rate right?)\n");
                     EXPECT_GE(said, 1) << r.out;
                     EXPECT_LE(said, static_cast<int>(r.sent.size()));
                   }});
  c.push_back({.name = "OversizeBurst", .faults = {.oversizeEvery = 2}});
  c.push_back({.name = "ConnectionClosedAfterThree",
               .faults = {.closeAfter = 3},
               .runMs = 10000,
               .endsByItself = true,
               .exitCode = 1,
               .check = [](const Result& r) {
                 EXPECT_EQ(r.tables.size(), 3u);
                 // An orderly close is not a reset.
                 EXPECT_NE(r.out.find("run - connection to LMS lost: the scanner closed the connection\n"),
                           std::string::npos);
                 EXPECT_EQ(r.err.rfind("lmsview: connection to the scanner lost", 0), 0u);
               }});
  c.push_back({.name = "SerialDeviceGone",
               .serial = true,
               .runMs = 10000,
               .endsByItself = true,
               .exitCode = 1,
               .check =
                   [](const Result& r) {
                     EXPECT_GE(r.tables.size(), 1u);
                     EXPECT_NE(r.out.find("run - connection to LMS lost: serial device"), std::string::npos);
                     EXPECT_EQ(r.err.rfind("lmsview: connection to the scanner lost", 0), 0u);
                   },
               .simGoneAfterMs = 2500});
  return c;
}

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrix, ShowsOnlyGoodScansSaysWhatWentWrongAndStopsInTime) {
  const FaultCase& fc = GetParam();
  std::FILE* scanLog = std::tmpfile();
  SimOptions o;
  o.seed = 31;
  o.pace = fc.serial;
  o.scanLog = scanLog;
  SimFixture sim(fc.faults, o);
  std::string address;
  if (fc.serial) {
    ASSERT_TRUE(sim.pty());
  } else {
    // One loopback address per case, so cases can run in parallel.
    const auto all = cases();
    std::size_t index = 0;
    while (index < all.size() && std::string(all[index].name) != fc.name) ++index;
    address = "127.0.5." + std::to_string(index + 1);
    ASSERT_TRUE(sim.listen(address));
  }
  ChildProcess lmsview(fc.serial ? std::vector<std::string>{kLmsview, "COM", sim.server.devicePath(), "LMS"}
                                 : std::vector<std::string>{kLmsview, "IP", address, "LMS"});
  ASSERT_TRUE(lmsview.started());
  Result r;
  if (fc.simGoneAfterMs > 0) {
    EXPECT_FALSE(lmsview.wait(fc.simGoneAfterMs));
    sim.stop();
  }
  if (fc.endsByItself) {
    ASSERT_TRUE(lmsview.wait(fc.runMs)) << lmsview.out();
  } else {
    EXPECT_FALSE(lmsview.wait(fc.runMs)) << "ended before the key: " << lmsview.err();
    const std::int64_t keyAt = processMillis();
    lmsview.pressKey();
    ASSERT_TRUE(lmsview.wait(kExitWithinMs + 3000));
    EXPECT_LT(processMillis() - keyAt, kExitWithinMs) << "the key did not end the run in time";
  }
  sim.stop();
  r.exitCode = lmsview.exitCode();
  r.out = lmsview.out();
  r.err = lmsview.err();
  r.cpuSeconds = lmsview.cpuSeconds();
  r.lifetimeSeconds = lmsview.lifetimeSeconds();
  r.tables = parseTables(r.out);
  r.sent = readScanLog(scanLog);
  r.counters = sim.server.counters();
  std::fclose(scanLog);

  EXPECT_EQ(r.exitCode, fc.exitCode) << r.err;
  // Nothing invented or corrupted: every table is a valid scan that was sent,
  // in order, numbered 0, 1, 2...; nothing good lost: every scan that should
  // show did.
  std::vector<const SentScan*> expected;
  for (std::size_t i = 0; i < r.sent.size(); ++i) {
    const bool show = fc.shouldShow ? fc.shouldShow(r.sent[i], i) : true;
    if (show && validFate(r.sent[i])) expected.push_back(&r.sent[i]);
  }
  // The reply under way when the emulator went, or when the key came, may
  // not have reached lmsview whole.
  if (!expected.empty() && r.tables.size() + 1 == expected.size()) expected.pop_back();
  ASSERT_EQ(r.tables.size(), expected.size()) << r.out.substr(0, 2000);
  for (std::size_t t = 0; t < r.tables.size(); ++t) {
    EXPECT_EQ(r.tables[t].sample, static_cast<int>(t));
    EXPECT_TRUE(r.tables[t].rows == expected[t]->rows)
        << "table " << t << " is not scan " << expected[t]->number;
  }
  if (fc.exitCode == 0) {
    // Nothing on standard error but, on a silent line, the one hint.
    std::string err = r.err;
    const std::string hint = "lmsview: hint: the scanner may be set to another rate: try --baud auto\n";
    if (const auto at = err.find(hint); at != std::string::npos) err.erase(at, hint.size());
    EXPECT_EQ(err, "");
  }
  if (fc.check) fc.check(r);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<FaultCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
