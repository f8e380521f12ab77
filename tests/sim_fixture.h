// SPDX-License-Identifier: Apache-2.0
#pragma once

// The emulator in-process on its own thread, on a loopback address (the
// scanner's port, or an ephemeral one with port 0) or a pseudo-terminal, for
// every in-process test that needs a scanner. A runaway test still ends: the
// emulator stops by itself after two minutes.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>

#include "sim/server.h"

struct SimFixture {
  explicit SimFixture(const sim::SimFaults& faults = {}, sim::SimOptions options = {})
      : server(faults, prepare(options)) {}
  static sim::SimOptions prepare(sim::SimOptions o) {
    o.log = nullptr;
    if (o.maxSeconds <= 0) o.maxSeconds = 120;
    return o;
  }
  bool listen(const std::string& address, std::uint16_t port = 10002) {
    std::string error;
    const bool ok = server.listenTcp(address, port, false, &error);
    EXPECT_TRUE(ok) << error;
    if (ok) start();
    return ok;
  }
  std::uint16_t port() const { return server.boundPort(); }
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

  sim::SimServer server;
  std::thread thread;
};
