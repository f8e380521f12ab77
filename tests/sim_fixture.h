#pragma once

// An in-process emulator on its own thread, on a loopback address or a
// pseudo-terminal, for driver and end-to-end tests.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "sim/server.h"

struct SimFixture {
  SimFixture(const SimFaults& faults, SimOptions options) : server(faults, prepare(options)) {}
  static SimOptions prepare(SimOptions o) {
    o.log = nullptr;
    if (o.maxSeconds <= 0) o.maxSeconds = 120;  // a runaway test still ends
    return o;
  }
  bool listen(const std::string& address) {
    std::string error;
    const bool ok = server.listenTcp(address, 10002, false, &error);
    EXPECT_TRUE(ok) << error;
    if (ok) start();
    return ok;
  }
  bool pty() {
    std::string error;
    const bool ok = server.createPty(&error);
    EXPECT_TRUE(ok) << error;
    if (ok) start();
    return ok;
  }
  void start() {
    thread = std::thread([this] { server.serve(); });
  }
  void stop() {
    server.stop();
    if (thread.joinable()) thread.join();
  }
  ~SimFixture() { stop(); }

  SimServer server;
  std::thread thread;
};
