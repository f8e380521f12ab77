// SPDX-License-Identifier: Apache-2.0
// The emulator's telegram parser and engine on an arbitrary byte stream, fed
// in arbitrary pieces.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lms/protocol/telegram.h"
#include "sim/emulated_scanner.h"
#include "sim/telegram_parser.h"

using namespace lms;
using namespace sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  TelegramParser parser;
  SimFaults faults;
  faults.chaosPercent = data[0] % 101;
  faults.chaosSeed = data[0];
  EmulatedScanner engine(faults, data[0]);
  std::vector<Piece> plan;
  std::size_t at = 1;
  std::int64_t now = 0;
  while (at < size) {
    const std::size_t piece = 1 + data[at] % 64;
    const std::size_t n = piece < size - at ? piece : size - at;
    parser.feed(data + at, static_cast<int>(n));
    at += n;
    now += 7;
    ParsedTelegram t;
    while (parser.next(t)) {
      const std::size_t length = static_cast<std::size_t>(t.bytes[2] | (t.bytes[3] << 8));
      if (t.bytes.size() != length + 6 || t.bytes[0] != kStx || t.bytes[1] != 0x00) std::abort();
      plan.clear();
      engine.handle(t, now, plan);
      for (const Piece& p : plan) {
        if (p.bytes.size() > 1200) std::abort();
      }
    }
  }
  return 0;
}
