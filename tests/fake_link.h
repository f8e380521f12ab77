// SPDX-License-Identifier: Apache-2.0
#pragma once

// A scripted link for the exchange operations: records every write as one
// entry, and hands out queued answers one read at a time, as a message link
// does.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "lms/protocol/exchange.h"
#include "platform/clock.h"

using ByteVec = std::vector<std::uint8_t>;

struct FakeLink {
  std::vector<ByteVec> writes;
  std::deque<ByteVec> answers;
  int reads = 0;
  int hasDataCalls = 0;
  int waits = 0;
  bool isLost = false;
  int restMs = 0;           // what lineMs says: 0 behaves as a message link
  std::int64_t readNs = 0;  // the arrival the last read reports (its bytes 0 and 1)

  int write(const std::uint8_t* p, int n, bool = false) {
    writes.emplace_back(p, p + n);
    return n;
  }
  bool hasData() {
    ++hasDataCalls;
    return !answers.empty();
  }
  // One answer per read, cut to the room given, full length returned.
  int read(std::uint8_t* out, int room) {
    ++reads;
    if (answers.empty()) return 0;
    ByteVec a = std::move(answers.front());
    answers.pop_front();
    std::copy_n(a.begin(), std::min<std::size_t>(a.size(), static_cast<std::size_t>(room)), out);
    return static_cast<int>(a.size());
  }
  // Nothing arrives while the test waits: the whole bound passes.
  bool waitData(int ms, const std::atomic<bool>* stop) {
    ms = lms::stopAwareWait(ms, stop);
    ++waits;
    platform::sleepMs(ms);
    return !answers.empty();
  }
  bool lost() const { return isLost; }
  int lineMs(int) const { return restMs; }
  std::int64_t arrivalNs(int i) const { return readNs + i; }

  ByteVec wire() const {
    ByteVec all;
    for (const auto& w : writes) all.insert(all.end(), w.begin(), w.end());
    return all;
  }
};
