// SPDX-License-Identifier: Apache-2.0
// lmsview::Scanner and the C interface against the emulator in-process, over
// loopback TCP and a pseudo-terminal.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <tuple>

#include "fd_count.h"
#include "lms/engine/errors.h"
#include "lms/protocol/reply.h"
#include "lmsview/lmsview.h"
#include "lmsview/scanner.h"
#include "sim/scene.h"
#include "sim_fixture.h"
#include "wait_until.h"

using namespace std::chrono_literals;
using lmsview::errc;
using lmsview::Scan;
using lmsview::Scanner;

namespace {

// An emulator and the link name that reaches it.
struct Sim {
  explicit Sim(bool serial, sim::SimFaults faults = {}, std::uint32_t seed = 1)
      : fixture(faults, {.seed = seed}) {
    if (serial ? fixture.pty() : fixture.listen("127.0.0.1", 0))
      link = serial ? "serial://" + fixture.server.devicePath()
                    : "tcp://127.0.0.1:" + std::to_string(fixture.port());
  }
  SimFixture fixture;
  std::string link;
};

// What the emulator sends as scan `n` (no faults: the n-th reply is the n-th scan).
void expectScanSent(const Scan& scan, std::uint32_t seed = 1) {
  const sim::RangeWords sent = sim::Scene(seed).scan(static_cast<std::int64_t>(scan.seq));
  ASSERT_EQ(scan.words.size(), sent.size());
  ASSERT_EQ(scan.ranges.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    ASSERT_EQ(scan.words[i], sent[i]) << i;
    ASSERT_EQ(scan.ranges[i], static_cast<float>((sent[i] & 0x1FFF) / 1000.0)) << i;
  }
}

std::thread::id mainThread() {
  static const std::thread::id id = std::this_thread::get_id();
  return id;
}
const std::thread::id kMain = mainThread();

int threadCount() {
  int n = 0;
  std::error_code ec;
  for ([[maybe_unused]] const auto& t : std::filesystem::directory_iterator("/proc/self/task", ec)) ++n;
  return n;
}

TEST(Scanner, ScansArriveInOrderAsTheEmulatorSentThem) {
  for (const bool serial : {false, true}) {
    Sim sim(serial);
    // A queue deep enough that a slow test thread loses nothing.
    Scanner scanner({.link = sim.link, .interval = serial ? 0ms : 50ms, .queue = 1000});
    ASSERT_FALSE(scanner.open()) << sim.link;
    Scan previous;
    for (std::uint64_t i = 0; i < 3; ++i) {
      Scan scan;
      ASSERT_FALSE(scanner.next(scan, 5s)) << sim.link;
      EXPECT_EQ(scan.seq, i);
      expectScanSent(scan);
      if (i > 0) {
        EXPECT_GT(scan.stamp_ns, previous.stamp_ns);
      }
      previous = scan;
    }
    EXPECT_EQ(scanner.open(), errc::already_open);
    const lmsview::Stats stats = scanner.stats();
    EXPECT_GE(stats.requests, 3u);
    EXPECT_GE(stats.scans, 3u);
  }
}

TEST(Scanner, TwoScannersEachGetTheirOwnAndAFullQueueDropsTheOldest) {
  Sim a(false, {}, 1), b(false, {}, 7);
  Scanner first({.link = a.link, .interval = 0ms, .queue = 2});
  Scanner second({.link = b.link, .interval = 20ms});
  ASSERT_FALSE(first.open());
  ASSERT_FALSE(second.open());
  Scan scan;
  ASSERT_FALSE(second.next(scan, 5s));
  expectScanSent(scan, 7);
  // The first runs at full speed while nobody takes its scans.
  ASSERT_TRUE(waitUntil([&] { return first.stats().dropped > 10; }, 5000));
  ASSERT_FALSE(first.next(scan, 1s));
  EXPECT_GT(scan.seq, 10u);  // the gap shows the scans dropped
  expectScanSent(scan, 1);
}

TEST(Scanner, ErrorsAreValuesACallerCanBranchOn) {
  for (const char* name : {"", "tcp://", "tcp://localhost", "tcp://1.2.3.4:0", "udp://127.0.0.1", "serial://",
                           "serial://COM0", "tcp://127.0.0.1:99999", "serial://dev/tty"}) {
    Scanner s({.link = name});
    EXPECT_EQ(s.open(), errc::bad_link_name) << name;
  }
  Scanner refused({.link = "tcp://127.0.2.31"});  // nobody listens there
  const std::error_code ec = refused.open();
  EXPECT_EQ(ec, errc::link_refused);
  EXPECT_EQ(ec.message(), "connection refused: nothing listens at that address and port");
  Scanner missing({.link = "serial:///dev/ttyNOSUCHDEVICE"});
  EXPECT_EQ(missing.open(), errc::no_such_device);
  Scan scan;
  EXPECT_EQ(refused.next(scan, 10ms), errc::link_refused);
  EXPECT_EQ(Scanner({.link = "tcp://127.0.0.1"}).next(scan, 10ms), errc::closed);  // never opened
  // No scan within the bound: a timeout, on time.
  Sim silent(false, {.silentAfter = 0});
  Scanner quiet({.link = silent.link});
  ASSERT_FALSE(quiet.open());
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(quiet.next(scan, 150ms), errc::timeout);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
}

TEST(Scanner, ALostLinkIsAnErrorOrWithReconnectTheScansResume) {
  for (const bool reconnect : {false, true}) {
    Sim sim(false, {.closeAfter = 2});
    Scanner scanner({.link = sim.link, .reconnect = reconnect, .interval = 20ms, .queue = 100});
    std::atomic<int> reconnecting{0};
    auto events = scanner.on_event([&](const lmsview::Event& e) {
      if (e.kind == lmsview::Event::Kind::reconnecting) ++reconnecting;
    });
    ASSERT_FALSE(scanner.open());
    Scan scan;
    std::error_code ec;
    int got = 0;
    for (int i = 0; i < 5 && !(ec = scanner.next(scan, 5s)); ++i) ++got;
    if (reconnect) {
      EXPECT_FALSE(ec);
      EXPECT_EQ(got, 5);
      EXPECT_GE(reconnecting.load(), 1);
    } else {
      EXPECT_EQ(ec, errc::link_lost);
      EXPECT_EQ(got, 2);
      EXPECT_NE(scanner.last_error_detail().find("the scanner closed the connection"), std::string::npos)
          << scanner.last_error_detail();
      // An acquisition that ended by itself may be started again.
      ASSERT_FALSE(scanner.open());
      ASSERT_FALSE(scanner.next(scan, 5s));
      EXPECT_EQ(scanner.last_error_detail(), "");
    }
  }
}

TEST(Scanner, CloseEndsAWaitAtOnceAndIsSafeInsideACallback) {
  Sim sim(false, {.silentAfter = 0});
  Scanner scanner({.link = sim.link});
  ASSERT_FALSE(scanner.open());
  // Whether the close comes before the wait or during it, next() says so at once.
  std::thread closer([&] { scanner.close(); });
  Scan scan;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(scanner.next(scan, 10s), errc::closed);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
  closer.join();
  scanner.close();  // twice is fine

  Sim busy(false);
  Scanner inside({.link = busy.link, .interval = 20ms});
  std::atomic<int> calls{0};
  std::atomic<bool> ended{false};
  lmsview::Subscription sub;
  sub = inside.on_scan([&](const Scan&) {
    if (++calls == 2) {
      inside.close();
      sub.reset();  // ending one's own subscription inside it does not wait for itself
      ended.store(true, std::memory_order_release);  // `sub` is this thread's until here
    }
  });
  ASSERT_FALSE(inside.open());
  EXPECT_TRUE(waitUntil([&] { return ended.load(std::memory_order_acquire); }, 5000));
  EXPECT_EQ(inside.next(scan, 100ms), errc::closed);
}

TEST(Scanner, AHundredOpensAndClosesLeaveNothingBehind) {
  Sim sim(false);
  std::thread([] {}).join();  // a sanitizer's helper thread, if any, is there before we count
  const int fds = openFdCount();
  const int threads = threadCount();
  for (int i = 0; i < 100; ++i) {
    Scanner scanner({.link = sim.link, .interval = 0ms});
    ASSERT_FALSE(scanner.open()) << i;
    if (i % 10 == 0) {
      Scan scan;
      ASSERT_FALSE(scanner.next(scan, 5s));
    }
  }
  EXPECT_TRUE(waitUntil([&] { return openFdCount() == fds && threadCount() == threads; }, 2000));
}

TEST(Scanner, ARecordingIsALinkToo) {
  const std::string path = testing::TempDir() + "api_test_recording.jsonl";
  {
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("{\"seq\":0,\"frame_id\":\"laser\",\"words\":[1000,57344,2000]}\n10 20\n", f);
    for (int i = 0; i < 298; ++i) std::fputs("5\n", f);
    std::fclose(f);
  }
  // At interval 0 with the usual queue of 4: a recording waits for room
  // instead of dropping, so every scan comes, counted, and the open is said
  // on the scanner's own thread.
  Scanner scanner({.link = "file:" + path, .interval = 0ms});
  std::atomic<bool> openedElsewhere{false};
  auto events = scanner.on_event([&](const lmsview::Event& e) {
    if (e.kind == lmsview::Event::Kind::opened) openedElsewhere = std::this_thread::get_id() != mainThread();
  });
  ASSERT_FALSE(scanner.open());
  Scan scan;
  ASSERT_FALSE(scanner.next(scan, 5s));
  EXPECT_EQ(scan.words[1], 57344);  // flag bits kept
  EXPECT_EQ(scan.ranges[0], 1.0f);
  ASSERT_FALSE(scanner.next(scan, 5s));
  EXPECT_EQ(scan.seq, 1u);
  EXPECT_EQ(scan.words[1], 20);
  int rest = 0;
  while (!scanner.next(scan, 5s)) ++rest;
  EXPECT_EQ(rest, 298);
  EXPECT_EQ(scanner.next(scan, 5s), errc::end_of_recording);
  EXPECT_EQ(scanner.stats().scans, 300u);
  EXPECT_EQ(scanner.stats().dropped, 0u);
  EXPECT_TRUE(openedElsewhere);
  EXPECT_EQ(Scanner({.link = "file:/nonexistent.jsonl"}).open(), errc::bad_recording);
  std::remove(path.c_str());
}

// The answers of the life cycle: next() before open() is closed at once; an
// open that failed may be tried again; a close() inside the opened event is
// what open() says; a wait "for ever" waits; close() is prompt and lets go
// of the link, so another scanner can have it at once.
TEST(Scanner, TheLifeCycleAnswersAtOnceAndLetsGoOfTheLink) {
  Scan scan;
  Scanner early({.link = "tcp://127.0.2.33"});
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(early.next(scan, 5s), errc::closed);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
  EXPECT_EQ(early.open(), errc::link_refused);  // nobody listens there yet
  SimFixture late;
  ASSERT_TRUE(late.listen("127.0.2.33"));
  EXPECT_FALSE(early.open());  // tried again
  ASSERT_FALSE(early.next(scan, 5s));

  Scanner inside({.link = "tcp://127.0.2.33"});
  early.close();
  auto closing = inside.on_event([&](const lmsview::Event& e) {
    if (e.kind == lmsview::Event::Kind::opened) inside.close();
  });
  EXPECT_EQ(inside.open(), errc::closed);

  // The emulator serves one client at a time: the next scanner has scans
  // only because the last let go of the link as it closed. A wait "for
  // ever" takes the first scan, then waits until the close.
  Scanner waiting({.link = "tcp://127.0.2.33"});
  ASSERT_FALSE(waiting.open());
  EXPECT_FALSE(waiting.next(scan, std::chrono::milliseconds::max()));
  std::thread closer([&] {
    std::this_thread::sleep_for(200ms);  // the wait under test must last until this
    waiting.close();
  });
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(waiting.next(scan, std::chrono::milliseconds::max()), errc::closed);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 150ms);
  closer.join();

  Sim silent(false, {.silentAfter = 0});
  Scanner quiet({.link = silent.link, .queue = 1'000'000});
  const auto residentKiB = [] {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0L;
  };
  const long before = residentKiB();
  ASSERT_FALSE(quiet.open());
  EXPECT_LT(residentKiB() - before, 20 * 1024) << "a deep queue is made as scans come, not at open()";
  // A negative timeout, however large, does not wait.
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(quiet.next(scan, std::chrono::milliseconds(-10'000'000'000'000LL)), errc::timeout);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
  std::this_thread::sleep_for(50ms);  // a request is waiting for its answer now
  t0 = std::chrono::steady_clock::now();
  quiet.close();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 600ms);  // not the answer's 1.5 s
}

// A callback that throws is said once, as an event, and acquisition goes on.
TEST(Scanner, ACallbackThatThrowsIsSaidOnceAndAcquisitionGoesOn) {
  Sim sim(false);
  Scanner scanner({.link = sim.link, .interval = 10ms, .queue = 100});
  std::atomic<int> thrown{0}, failures{0};
  std::string said;
  std::mutex saidMutex;
  auto bad = scanner.on_scan([&](const Scan&) {
    ++thrown;
    throw std::runtime_error("the callback's own trouble");
  });
  auto events = scanner.on_event([&](const lmsview::Event& e) {
    if (e.kind != lmsview::Event::Kind::callback_failed) return;
    ++failures;
    std::lock_guard lock(saidMutex);
    said = e.text;
  });
  ASSERT_FALSE(scanner.open());
  Scan scan;
  for (int i = 0; i < 3; ++i) ASSERT_FALSE(scanner.next(scan, 5s));
  EXPECT_TRUE(waitUntil([&] { return thrown.load() >= 3; }, 5000));
  EXPECT_EQ(failures.load(), 1);
  std::lock_guard lock(saidMutex);
  EXPECT_EQ(said, "a callback threw: the callback's own trouble");
}

// What the options cannot be is refused with its reason, before any link.
TEST(Scanner, OptionsThatCannotBeAreRefusedWithTheirReason) {
  const struct {
    lmsview::Options options;
    errc error;
    const char* reason;
  } cases[] = {
      {{.link = "tcp://127.0.2.34", .family = "pls"}, errc::bad_argument, "family must be LMS or PLS"},
      {{.link = "tcp://127.0.2.34", .family = ""}, errc::bad_argument, "family must be LMS or PLS"},
      {{.link = std::string("file:/tmp/a.jsonl\0.mcap", 22)}, errc::bad_link_name, "NUL"},
      {{.link = "tcp://127.0.2.34", .baud = 38400}, errc::bad_argument, "for serial links"},
      {{.link = "tcp://127.0.2.34", .scanner_baud = 38400}, errc::bad_argument, "for serial links"},
      {{.link = "tcp://127.0.2.34", .variant = "90/1"}, errc::bad_argument, "variant must be"},
      {{.link = "tcp://127.0.2.34", .units = "in"}, errc::bad_argument, "units must be mm, cm or dm"},
      {{.link = "serial:///dev/null", .baud = 12345},
       errc::bad_argument,
       "baud must be 9600, 19200, 38400 or 500000"},
      {{.link = "serial:///dev/null", .scanner_baud = 777}, errc::bad_argument, "scanner_baud must be"},
      {{.link = "tcp://127.0.2.34", .interval = -1ms},
       errc::bad_argument,
       "interval must be 0 to 3600000 ms"},
      {{.link = "tcp://127.0.2.34", .interval = 2h}, errc::bad_argument, "interval must be 0 to 3600000 ms"},
      {{.link = "tcp://127.0.2.34", .queue = SIZE_MAX},
       errc::bad_argument,
       "queue must be 1 to 1000000 scans"},
      {{.link = "tcp://127.0.2.34", .queue = 0}, errc::bad_argument, "queue must be 1 to 1000000 scans"},
  };
  for (const auto& c : cases) {
    Scanner s(c.options);
    EXPECT_EQ(s.open(), c.error) << c.reason;
    EXPECT_NE(s.last_error_detail().find(c.reason), std::string::npos) << s.last_error_detail();
  }
  // The C interface says it in the same words, when the option is set.
  lmsview_scanner* h = lmsview_create("serial:///dev/null", "LMS", nullptr);
  for (const auto& [option, value, words] :
       {std::tuple{LMSVIEW_OPTION_BAUD, std::int64_t{12345}, "baud must be 9600, 19200, 38400 or 500000"},
        std::tuple{LMSVIEW_OPTION_SCANNER_BAUD, std::int64_t{777}, "scanner_baud must be"},
        std::tuple{LMSVIEW_OPTION_QUEUE, std::int64_t{-1}, "queue must be 1 to 1000000 scans"},
        std::tuple{LMSVIEW_OPTION_STREAM, std::int64_t{2}, "stream must be 0 or 1"}}) {
    EXPECT_EQ(lmsview_set_option(h, option, value), LMSVIEW_BAD_ARGUMENT);
    EXPECT_NE(std::string(lmsview_last_error_text(h)).find(words), std::string::npos)
        << lmsview_last_error_text(h);
  }
  EXPECT_EQ(lmsview_set_option(h, LMSVIEW_OPTION_BAUD, 38400), LMSVIEW_OK);
  EXPECT_STREQ(lmsview_last_error_text(h), "");  // no stale reason after a success
  lmsview_close(h);
}

// A recording read only through callbacks gives them every scan, then its
// end; a close() while open() still reads a large recording wins: open()
// says closed, and no scan comes.
TEST(Scanner, ARecordingGivesCallbacksEveryScanThenItsEndAndACloseDuringItsOpenWins) {
  const std::string path = testing::TempDir() + "api_test_callbacks.jsonl";
  const auto write = [&](int scans, bool cut) {
    std::ofstream f(path);
    for (int i = 0; i < scans; ++i) f << i + 10 << " 20 30\n";
    if (cut) f << "{\"seq\":9,\"frame_id\":\"laser\",\"words\":[1,2";  // a run killed mid-line
  };
  write(201, true);
  Scanner scanner({.link = "file:" + path, .interval = 0ms});
  std::atomic<int> scans{0}, ended{0};
  std::string cut;
  std::mutex cutMutex;
  auto onScan = scanner.on_scan([&](const Scan&) { ++scans; });
  auto onEvent = scanner.on_event([&](const lmsview::Event& e) {
    if (e.kind == lmsview::Event::Kind::recording_ended) ++ended;
    if (e.kind == lmsview::Event::Kind::recording_cut) {
      std::lock_guard lock(cutMutex);
      cut = e.text;
    }
  });
  ASSERT_FALSE(scanner.open());
  EXPECT_TRUE(waitUntil([&] { return ended.load() == 1; }, 10000));
  EXPECT_EQ(scans.load(), 201);
  {
    std::lock_guard lock(cutMutex);
    EXPECT_NE(cut.find("the recording was cut short: "), std::string::npos) << cut;
  }
  scanner.close();

  write(60000, false);
  for (int round = 0; round < 3; ++round) {
    Scanner big({.link = "file:" + path, .interval = 0ms});
    std::atomic<int> got{0};
    auto counting = big.on_scan([&](const Scan&) { ++got; });
    std::error_code opened;
    std::thread opener([&] { opened = big.open(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * round));  // during the read, or at its end
    big.close();
    opener.join();
    if (opened == errc::closed) {
      EXPECT_EQ(got.load(), 0);
    }
    const int after = got.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(got.load(), after) << "scans came after close()";
  }
  std::remove(path.c_str());
}

// A serial line closed while a reply was under way still carries its tail:
// the next scanner on it waits for the line to be quiet before it asks, so
// it is never out of step, and the device was let go by close().
TEST(Scanner, ASerialLineLeftMidReplyGivesScansAgainAtOnce) {
  SimFixture sim({}, {.pace = true});  // 9600 baud: a reply is 0.76 s on the line
  ASSERT_TRUE(sim.pty());
  const std::string link = "serial://" + sim.server.devicePath();
  Scan scan;
  for (int round = 0; round < 2; ++round) {
    Scanner scanner({.link = link, .interval = 0ms});
    ASSERT_FALSE(scanner.open()) << round;
    ASSERT_FALSE(scanner.next(scan, 5s));
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + 300 * round));  // the next reply is under way
    scanner.close();
    Scanner again({.link = link, .interval = 0ms});
    ASSERT_FALSE(again.open()) << "reopened at once, round " << round;
    for (int i = 0; i < 2; ++i) ASSERT_FALSE(again.next(scan, 5s)) << round;
    EXPECT_EQ(again.stats().rejected_unexpected, 0u);
  }
}

// Every request that gives no scan is counted by its cause and said.
TEST(Scanner, EveryLostAnswerIsCountedByItsCauseAndSaid) {
  const struct {
    sim::SimFaults faults;
    std::uint64_t lmsview::Stats::*counter;
    lmsview::Event::Reason reason;
  } cases[] = {
      {{.nakEvery = 2}, &lmsview::Stats::rejected_refused, lmsview::Event::Reason::refused},
      {{.garbageBytes = 50, .garbageEvery = 2},
       &lmsview::Stats::rejected_unexpected,
       lmsview::Event::Reason::unexpected},
      {{.corruptCrcEvery = 2}, &lmsview::Stats::rejected_checksum, lmsview::Event::Reason::checksum},
  };
  for (const auto& c : cases) {
    Sim sim(false, c.faults);
    Scanner scanner({.link = sim.link, .interval = 10ms, .queue = 100});
    std::atomic<int> said{0};
    auto events = scanner.on_event([&](const lmsview::Event& e) {
      if (e.kind == lmsview::Event::Kind::reply_rejected && e.reason == c.reason) ++said;
    });
    ASSERT_FALSE(scanner.open());
    Scan scan;
    for (int i = 0; i < 3; ++i) ASSERT_FALSE(scanner.next(scan, 5s));
    const std::uint64_t counted = scanner.stats().*c.counter;
    EXPECT_GE(counted, 2u);
    EXPECT_GE(said.load(), 2);
  }
}

// A child made by fork() holds a dead copy: its calls answer closed and its
// end touches none of the parent's threads.
TEST(Scanner, AForkedChildsCopyIsDeadAndEndsAtOnce) {
  Sim sim(false);
  Scanner scanner({.link = sim.link, .interval = 20ms});
  ASSERT_FALSE(scanner.open());
  Scan scan;
  ASSERT_FALSE(scanner.next(scan, 5s));
  const pid_t child = ::fork();
  if (child == 0) {
    Scan s;
    const bool closed = scanner.next(s, 5s) == errc::closed && scanner.open() == errc::closed;
    scanner.close();
    { Scanner gone = std::move(scanner); }
    std::_Exit(closed ? 0 : 3);
  }
  ASSERT_GT(child, 0);
  int status = -1;
  EXPECT_TRUE(waitUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 10000));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(scanner.next(scan, 5s));  // the parent's goes on
}

TEST(CInterface, OpensReadsAndSaysWhatWentWrong) {
  Sim sim(false);
  int error = -1;
  lmsview_scanner* s = lmsview_open(sim.link.c_str(), "LMS", &error);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(error, LMSVIEW_OK);
  float ranges[LMSVIEW_POINTS];
  std::uint64_t seq = 99;
  std::int64_t stamp = 0;
  ASSERT_EQ(lmsview_next(s, ranges, &seq, &stamp, 5000), LMSVIEW_OK);
  EXPECT_EQ(seq, 0u);
  EXPECT_GT(stamp, 0);
  const sim::RangeWords sent = sim::Scene(1).scan(0);
  EXPECT_EQ(ranges[200], static_cast<float>((sent[200] & 0x1FFF) / 1000.0));
  EXPECT_EQ(lmsview_next(s, nullptr, nullptr, nullptr, 10), LMSVIEW_BAD_ARGUMENT);
  lmsview_close(s);
  EXPECT_EQ(lmsview_open("tcp://nowhere", nullptr, &error), nullptr);
  EXPECT_EQ(error, LMSVIEW_BAD_LINK_NAME);
  EXPECT_STREQ(lmsview_error_text(LMSVIEW_TIMEOUT), "no scan within the time allowed");
  EXPECT_STREQ(lmsview_version(), LMSVIEW_VERSION);
  lmsview_close(nullptr);

  // Another thread's cancel ends a wait at once; only close frees the handle.
  Sim silent(false, {.silentAfter = 0});
  s = lmsview_open(silent.link.c_str(), "LMS", &error);
  ASSERT_NE(s, nullptr);
  std::thread canceller([&] {
    std::this_thread::sleep_for(100ms);  // the waiter is inside lmsview_next_scan by then
    lmsview_cancel(s);
  });
  std::size_t count = 0;
  EXPECT_EQ(lmsview_next_scan(s, nullptr, nullptr, 0, &count, nullptr, nullptr, nullptr, 10000),
            LMSVIEW_CLOSED);
  canceller.join();
  EXPECT_EQ(lmsview_next_scan(s, nullptr, nullptr, 0, &count, nullptr, nullptr, nullptr, 10), LMSVIEW_CLOSED);
  lmsview_close(s);
}

// One table gives every error its C value and name, its Python exception and
// its message: the C header, error_category() and lmsview_error_text() agree
// with it, row by row, and no errc is left out.
TEST(Contract, EveryErrorHasOneValueNameAndMessageEverywhere) {
  // Every "#define LMSVIEW_NAME <number>" of the header.
  std::ifstream header(LMSVIEW_SOURCE_DIR "/include/lmsview/lmsview.h");
  std::map<std::string, int> defined;
  for (std::string line; std::getline(header, line);) {
    std::istringstream words(line);
    std::string hash, name, value;
    words >> hash >> name >> value;
    if (hash == "#define" && name.rfind("LMSVIEW_", 0) == 0 && !value.empty() &&
        value.find_first_not_of("0123456789") == std::string::npos)
      defined[name] = std::stoi(value);
  }
  EXPECT_EQ(defined.at("LMSVIEW_OK"), 0);
  EXPECT_EQ(std::to_string(defined.at("LMSVIEW_VERSION_MAJOR")) + "." +
                std::to_string(defined.at("LMSVIEW_VERSION_MINOR")) + "." +
                std::to_string(defined.at("LMSVIEW_VERSION_PATCH")),
            LMSVIEW_VERSION);
  int rows = 0;
  for (const lms::ErrorContract& row : lms::errorContract()) {
    const int value = static_cast<int>(row.code);
    EXPECT_EQ(value, ++rows) << row.cName;  // every errc, in order, none skipped
    ASSERT_TRUE(defined.count(row.cName)) << row.cName;
    EXPECT_EQ(defined[row.cName], value) << row.cName;
    defined.erase(row.cName);
    EXPECT_EQ(std::error_code(row.code).message(), row.message);
    EXPECT_STREQ(lmsview_error_text(value), row.message);
  }
  EXPECT_EQ(lms::contractOf(rows + 1), nullptr);
  // The rest are no errors: they name versions, sizes, options and their values.
  for (const auto& [name, value] : defined) {
    const std::string rest = name.substr(std::string_view("LMSVIEW_").size());
    const bool other = rest == "OK" || rest == "POINTS" || rest == "MAX_POINTS" ||
                       rest.rfind("VERSION_", 0) == 0 || rest.rfind("OPTION_", 0) == 0 ||
                       rest.rfind("VARIANT_", 0) == 0 || rest.rfind("UNITS_", 0) == 0;
    EXPECT_TRUE(other) << name << " is in the header but not in the table";
  }
  // A variant's C name gives the points of its scans.
  const std::map<std::string, std::string> cName{{"100/1", "100_1"},
                                                 {"180/1", "180_1"},
                                                 {"100/0.5", "100_050"},
                                                 {"180/0.5", "180_050"},
                                                 {"100/0.25", "100_025"}};
  for (const lms::Variant& v : lms::variants())
    EXPECT_EQ(defined["LMSVIEW_VARIANT_" + cName.at(v.name)], v.points) << v.name;
  EXPECT_EQ(defined.at("LMSVIEW_MAX_POINTS"), lms::kMaxScanPoints);
}

// The C interface gives every scan with its count and geometry, says what
// ended a recording and why a link could not be opened, with the system's
// or the recording's own reason.
TEST(Contract, TheCInterfaceGivesTheErrorAndItsReason) {
  const std::string path = testing::TempDir() + "contract_recording.jsonl";
  {
    std::ofstream f(path);
    f << "10 20\n30";  // a scan of 101 points, one of 361, one of 101
    for (int i = 1; i < 361; ++i) f << " 40";
    f << "\n10 20\n";
  }
  int error = -1;
  lmsview_scanner* s = lmsview_create(("file:" + path).c_str(), nullptr, &error);
  ASSERT_NE(s, nullptr) << error;
  EXPECT_EQ(lmsview_set_option(s, LMSVIEW_OPTION_INTERVAL_MS, 0), LMSVIEW_OK);
  EXPECT_EQ(lmsview_set_option(s, LMSVIEW_OPTION_VARIANT, 360), LMSVIEW_BAD_ARGUMENT);
  ASSERT_EQ(lmsview_start(s), LMSVIEW_OK);
  EXPECT_EQ(lmsview_set_option(s, LMSVIEW_OPTION_QUEUE, 8), LMSVIEW_ALREADY_OPEN);
  float ranges[LMSVIEW_MAX_POINTS];
  std::uint16_t words[LMSVIEW_MAX_POINTS];
  std::size_t count = 0;
  lmsview_geometry g{};
  // Too little room: the count needed, and the scan stays for a call with room.
  EXPECT_EQ(lmsview_next_scan(s, ranges, words, 100, &count, &g, nullptr, nullptr, 5000), LMSVIEW_WRONG_SIZE);
  EXPECT_EQ(count, 101u);
  EXPECT_NE(std::string(lmsview_last_error_text(s)).find("101 points"), std::string::npos);
  std::uint64_t seq = 9;
  ASSERT_EQ(lmsview_next_scan(s, ranges, words, count, &count, &g, &seq, nullptr, 5000), LMSVIEW_OK);
  EXPECT_EQ(seq, 0u);
  EXPECT_EQ(words[1], 20);
  EXPECT_EQ(ranges[1], 0.02f);
  EXPECT_EQ(g.count, 101u);
  EXPECT_EQ(g.angle_max, -g.angle_min);
  // Version 1's call takes scans of 361 points and refuses (and drops) the others.
  ASSERT_EQ(lmsview_next(s, ranges, &seq, nullptr, 5000), LMSVIEW_OK);
  EXPECT_EQ(seq, 1u);
  EXPECT_EQ(ranges[0], 0.03f);
  EXPECT_EQ(lmsview_next(s, ranges, nullptr, nullptr, 5000), LMSVIEW_WRONG_SIZE);
  EXPECT_EQ(lmsview_next_scan(s, ranges, words, 401, &count, &g, &seq, nullptr, 5000),
            LMSVIEW_END_OF_RECORDING);
  lmsview_close(s);
  std::remove(path.c_str());
  const struct {
    std::string link;
    int error;
    const char* reason;  // in lmsview_last_error_text
  } cases[] = {
      {"file:" + path, LMSVIEW_BAD_RECORDING, "No such file or directory"},
      {"file:/", LMSVIEW_BAD_RECORDING, "is a folder"},
      {"serial:///dev/null", LMSVIEW_LINK_FAILED, "/dev/null: "},
      {"tcp://127.0.2.32", LMSVIEW_LINK_REFUSED, "Connection refused"},
  };
  for (const auto& c : cases) {
    lmsview_scanner* h = lmsview_create(c.link.c_str(), "LMS", &error);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(lmsview_start(h), c.error) << c.link;
    EXPECT_NE(std::string(lmsview_last_error_text(h)).find(c.reason), std::string::npos)
        << c.link << ": " << lmsview_last_error_text(h);
    lmsview_close(h);
  }
  // A start that failed, or one cancelled, may be tried again, options and all.
  lmsview_scanner* h = lmsview_create("tcp://127.0.2.35", "LMS", &error);
  EXPECT_EQ(lmsview_start(h), LMSVIEW_LINK_REFUSED);
  EXPECT_EQ(lmsview_set_option(h, LMSVIEW_OPTION_INTERVAL_MS, 20), LMSVIEW_OK);
  SimFixture late;
  ASSERT_TRUE(late.listen("127.0.2.35"));
  ASSERT_EQ(lmsview_start(h), LMSVIEW_OK);
  EXPECT_STREQ(lmsview_last_error_text(h), "");
  EXPECT_EQ(lmsview_next_scan(h, nullptr, nullptr, 0, &count, nullptr, nullptr, nullptr, 5000), LMSVIEW_OK);
  lmsview_cancel(h);
  EXPECT_EQ(lmsview_next_scan(h, nullptr, nullptr, 0, &count, nullptr, nullptr, nullptr, 10), LMSVIEW_CLOSED);
  ASSERT_EQ(lmsview_start(h), LMSVIEW_OK);
  EXPECT_EQ(lmsview_next_scan(h, nullptr, nullptr, 0, &count, nullptr, nullptr, nullptr, 5000), LMSVIEW_OK);
  lmsview_close(h);
}

}  // namespace
