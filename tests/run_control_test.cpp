// SPDX-License-Identifier: Apache-2.0
// The run in-process: its ends (count, seconds, a stop while connecting) and
// an output that fails, against the emulator on a loopback address.

#include "app/run_control.h"

#include <gtest/gtest.h>

#include <csignal>
#include <mutex>
#include <thread>

#include "captured_output.h"
#include "sim_fixture.h"
#include "wait_until.h"

using namespace app;

namespace {

// A run's outputs, kept here instead of the process's streams.
struct Outputs {
  std::mutex mutex;
  std::string data;
  std::error_code fail;  // what every write of data returns, when set
  Captured messages;
  Captured notices;
  RunIo io() {
    RunIo io;
    io.out = [this](std::string_view bytes) {
      std::lock_guard lock(mutex);
      if (!fail) data += bytes;
      return fail;
    };
    io.messages = messages.file;
    io.notices = notices.file;
    io.watchInput = false;
    return io;
  }
};

int run(const char* address, const RunOptions& options, Outputs& out) {
  return runLaser(false, nullptr, address, "LMS", options, {}, out.io());
}

TEST(RunControl, CountAndSecondsEndTheRun) {
  SimFixture sim;
  ASSERT_TRUE(sim.listen("127.0.5.21"));
  Outputs counted;
  EXPECT_EQ(run("127.0.5.21", {.format = OutputFormat::Jsonl, .count = 3, .intervalMs = 20}, counted), 0);
  EXPECT_EQ(std::count(counted.data.begin(), counted.data.end(), '\n'), 3);
  EXPECT_NE(counted.messages.str().find("DataThread\n"), std::string::npos);
  Outputs timed;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(run("127.0.5.21", {.format = OutputFormat::Csv, .seconds = 0.4, .intervalMs = 50}, timed), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(400));
  EXPECT_EQ(timed.data.rfind("seq,time_utc,time_ns,", 0), 0u);
}

TEST(RunControl, AnOutputThatFailsEndsTheRunWithItsStatus) {
  SimFixture sim;
  ASSERT_TRUE(sim.listen("127.0.5.22"));
  const struct {
    std::errc error;
    int status;
    const char* notice;
  } cases[] = {{std::errc::broken_pipe, kExitBrokenPipe, ""},
               {std::errc::no_space_on_device, kExitLinkFailed,
                "lmsview: cannot write to standard output: No space left on device\n"}};
  for (const auto& c : cases) {
    Outputs out;
    out.fail = std::make_error_code(c.error);
    EXPECT_EQ(run("127.0.5.22", {.intervalMs = 20}, out), c.status);
    EXPECT_EQ(out.notices.str(), c.notice);
  }
}

TEST(RunControl, AStopWhileConnectingEndsTheRunAsTheSignalSays) {
  // One that comes before the run has started ends it too (not the time bound).
  Outputs early;
  stopRun(SIGTERM);
  EXPECT_EQ(run("127.0.5.23", {.seconds = 60, .reconnect = true}, early), 128 + SIGTERM);
  Outputs out;
  int status = -1;
  std::thread runner([&] { status = run("127.0.5.23", {.reconnect = true}, out); });  // nobody listens there
  EXPECT_TRUE(
      waitUntil([&] { return out.notices.str().find("reconnecting to") != std::string::npos; }, 5000));
  stopRun(SIGTERM);
  runner.join();
  EXPECT_EQ(status, 128 + SIGTERM);
  // Without --reconnect the failed open stands, with its message and hint.
  Outputs failed;
  EXPECT_EQ(run("127.0.5.23", {}, failed), kExitLinkFailed);
  EXPECT_NE(failed.notices.str().find("lmsview: cannot connect to 127.0.5.23 port 10002"), std::string::npos);
}

}  // namespace
