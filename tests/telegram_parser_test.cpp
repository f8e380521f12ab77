// SPDX-License-Identifier: Apache-2.0
#include "sim/telegram_parser.h"

#include <gtest/gtest.h>

#include <vector>

using namespace sim;

namespace {

TEST(TelegramParser, ResynchronisesAfterGarbageAndAcrossSplitReads) {
  std::vector<std::uint8_t> stream{0xFF, 0x02, 0x80, 0x02, 0x13, 0x00};  // garbage with a false start
  stream.insert(stream.end(), {0x02, 0x00, 0x02, 0x00, 0x30, 0x01, 0x31, 0x18});
  stream.insert(stream.end(), {0x02, 0x00, 0x02, 0x00, 0x20, 0x25, 0x35, 0x08});
  TelegramParser p;
  std::vector<ParsedTelegram> got;
  for (std::uint8_t b : stream) {  // one byte at a time
    p.feed(&b, 1);
    ParsedTelegram t;
    while (p.next(t)) got.push_back(t);
  }
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(got[0].checksumOk);
  EXPECT_EQ(got[0].command(), 0x30);
  EXPECT_EQ(got[0].data(), std::vector<std::uint8_t>{0x01});
  EXPECT_EQ(got[1].command(), 0x20);
  EXPECT_EQ(p.skippedBytes(), 6);
  EXPECT_FALSE(p.partial());
}

}  // namespace
