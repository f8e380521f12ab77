#include "app/outputs/table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>

#include "lms/protocol/reply.h"

using namespace app;
using namespace lms;

namespace {

// A scan of `words` as the driver decodes it.
lmsview::Scan scanOf(std::vector<std::uint16_t> words, std::uint64_t seq) {
  lmsview::Scan s;
  s.seq = seq;
  s.geometry = replyGeometry(kScanPoints);
  s.words = std::move(words);
  setRangesFromWords(&s);
  return s;
}

std::vector<std::string> lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST(ScanTable, FullScanShowsAll361PointsUnderTheHeader) {
  std::vector<std::uint16_t> words(kScanPoints);
  for (int i = 0; i < kScanPoints; ++i) words[i] = static_cast<std::uint16_t>(i);
  std::string t;
  formatScanTable(t, scanOf(words, 7), false);
  const auto l = lines(t);
  ASSERT_EQ(l.size(), 3u + 361u + 1u);
  EXPECT_EQ(l[0], "muestra: 7");
  EXPECT_EQ(l[1], "[ punto , Angulo [grad], Radio [cm] ]");
  EXPECT_EQ(l[2], "");
  EXPECT_EQ(l[3], "0 0.00 0.00");
  EXPECT_EQ(l[4], "1 0.50 0.10");
  EXPECT_EQ(l[3 + 180], "180 90.00 18.00");
  EXPECT_EQ(l[3 + 359], "359 179.50 35.90");
  EXPECT_EQ(l[3 + 360], "360 180.00 36.00");
  EXPECT_EQ(l.back(), "");  // the empty line that separates tables in a file
  EXPECT_EQ(t.find('\x1b'), std::string::npos);
}

TEST(ScanTable, EmptyScanShowsTheHeaderOnlyAndTerminalOutputClearsFirst) {
  std::string t;
  formatScanTable(t, scanOf({}, 0), true);
  EXPECT_EQ(t, std::string(kClearScreen) + "muestra: 0\n[ punto , Angulo [grad], Radio [cm] ]\n\n");
  formatScanTable(t, scanOf({0xE000 | 8191}, 1), false);
  EXPECT_EQ(t, "muestra: 1\n[ punto , Angulo [grad], Radio [cm] ]\n\n0 0.00 819.10\n\n");
}

TEST(ScanTable, NumbersAreFormattedExactlyAsPrintfWould) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> raw(0, 8191);
  std::vector<std::uint16_t> words(kScanPoints);
  for (int i = 0; i < kScanPoints; ++i) words[i] = static_cast<std::uint16_t>(raw(rng));
  std::string t;
  formatScanTable(t, scanOf(words, 123456), false);
  std::string expected = "muestra: 123456\n[ punto , Angulo [grad], Radio [cm] ]\n\n";
  char row[160];
  for (int i = 0; i < kScanPoints; ++i) {
    // What the display has always shown: half degrees, and the raw range / 10 as a float.
    std::snprintf(row, sizeof row, "%d %2.2f %2.2f\n", i, i * 0.5,
                  static_cast<double>(static_cast<float>(words[static_cast<std::size_t>(i)] / 10.0)));
    expected += row;
  }
  expected += "\n";
  EXPECT_EQ(t, expected);
}

}  // namespace
