// SPDX-License-Identifier: Apache-2.0
// The silence framer fed with arbitrary chunk sequences and timings, checked
// against a plain model of bursts.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "transport/silence_framer.h"

using namespace transport;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SilenceFramer framer;
  std::vector<std::uint8_t> burst;  // the model: bytes of the current burst
  std::vector<std::uint8_t> readyModel;
  bool readyInModel = false;
  bool pendingModel = false;
  bool anyChunk = false;
  std::int64_t now = 0;
  std::int64_t lastChunk = 0;
  std::size_t at = 0;
  while (at + 2 <= size) {
    const std::uint8_t op = data[at++];
    const std::uint8_t arg = data[at++];
    now += arg % 120;  // time moves on by 0..119 ms
    switch (op % 3) {
      case 0: {  // a chunk of up to 255 bytes
        const std::size_t n = arg == 0 ? 1 : arg;
        if (at + n > size) return 0;
        if (!anyChunk || silenceCounts(lastChunk, now)) burst.clear();
        anyChunk = true;
        lastChunk = now;
        pendingModel = true;
        for (std::size_t i = 0; i < n && burst.size() < kMessageCapacity; ++i) burst.push_back(data[at + i]);
        framer.addChunk(data + at, static_cast<int>(n), now);
        at += n;
        break;
      }
      case 1: {  // the framer looks
        const bool published = framer.publishIfDue(now);
        bool modelPublishes = false;
        if (pendingModel && silenceCounts(lastChunk, now)) {
          pendingModel = false;
          if (!readyInModel) {
            readyModel = burst;
            readyInModel = true;
            modelPublishes = true;
          }
        }
        if (published != modelPublishes) std::abort();
        break;
      }
      default: {  // the owner takes the message
        std::uint8_t out[kMessageCapacity];
        const int wanted = arg * 4;
        const int n = framer.readReady(out, wanted);
        if (!readyInModel) {
          if (n != 0) std::abort();
          break;
        }
        if (n != static_cast<int>(readyModel.size())) std::abort();
        const int stored = n < wanted ? n : wanted;
        if (stored > 0 && std::memcmp(out, readyModel.data(), static_cast<std::size_t>(stored)) != 0)
          std::abort();
        readyInModel = false;
        break;
      }
    }
  }
  return 0;
}
