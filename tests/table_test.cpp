// SPDX-License-Identifier: Apache-2.0
#include "app/outputs/table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
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
  formatScanTable(t, scanOf(words, 40), 7, false);  // the seventh table shows scan 40
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
  formatScanTable(t, scanOf({}, 0), 0, true);
  EXPECT_EQ(t, std::string(kClearScreen) + "muestra: 0\n[ punto , Angulo [grad], Radio [cm] ]\n\n");
  formatScanTable(t, scanOf({0xE000 | 8191}, 1), 1, false);
  EXPECT_EQ(t, "muestra: 1\n[ punto , Angulo [grad], Radio [cm] ]\n\n0 0.00 819.10\n\n");
}

TEST(ScanTable, NumbersAreFormattedExactlyAsPrintfWould) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> raw(0, 8191);
  std::vector<std::uint16_t> words(kScanPoints);
  for (int i = 0; i < kScanPoints; ++i) words[i] = static_cast<std::uint16_t>(raw(rng));
  std::string t;
  formatScanTable(t, scanOf(words, 123456), 123456, false);
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

  // Ranges no scanner sends (a caller's own Scan): ties, signs, the huge and the undefined.
  const float odd[] = {-0.0f,
                       -0.01f,
                       -1e-9f,
                       0.00005f,
                       0.000125f,
                       0.02675f,
                       1.00005f,
                       81.91f,
                       1.2345e6f,
                       1e7f,
                       9.99999e6f,
                       1e30f,
                       std::numeric_limits<float>::infinity(),
                       std::numeric_limits<float>::quiet_NaN(),
                       0.0049999f,
                       0.0050001f};
  lmsview::Scan s = scanOf(std::vector<std::uint16_t>(std::size(odd)), 1);
  s.geometry = replyGeometry(181);
  s.ranges.assign(std::begin(odd), std::end(odd));
  formatScanTable(t, s, 1, false);
  const auto got = lines(t);
  for (std::size_t i = 0; i < std::size(odd); ++i) {
    std::snprintf(row, sizeof row, "%2.2f", static_cast<double>(odd[i]) * 100.0);
    EXPECT_EQ(got[3 + i].substr(got[3 + i].rfind(' ') + 1), row) << odd[i];
  }
}

}  // namespace
