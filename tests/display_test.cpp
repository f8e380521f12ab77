#include "app/table_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>

#include "lms/protocol/reply.h"

using namespace app;
using namespace lms;

namespace {

std::vector<std::string> lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST(ScanTable, FullScanShowsAll361PointsUnderTheHeader) {
  float ranges[kScanPoints];
  for (int i = 0; i < kScanPoints; ++i) ranges[i] = static_cast<float>(i) / 10.0f;
  std::string t;
  formatScanTable(t, 7, ranges, kAngleTable.data(), kScanPoints, false);
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
  formatScanTable(t, 0, nullptr, nullptr, 0, true);
  EXPECT_EQ(t, std::string(kClearScreen) + "muestra: 0\n[ punto , Angulo [grad], Radio [cm] ]\n\n");
  const float one = 819.1f;
  const float zero = 0.0f;
  formatScanTable(t, 1, &one, &zero, 1, false);
  EXPECT_EQ(t, "muestra: 1\n[ punto , Angulo [grad], Radio [cm] ]\n\n0 0.00 819.10\n\n");
}

TEST(ScanTable, NumbersAreFormattedExactlyAsPrintfWould) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> raw(0, 8191);
  float ranges[kScanPoints];
  for (float& r : ranges) r = static_cast<float>(raw(rng) / 10.0);
  ranges[5] = 0.125f;  // exactly halfway: printf rounds to even
  ranges[6] = 1e30f;
  std::string t;
  formatScanTable(t, 123456, ranges, kAngleTable.data(), kScanPoints, false);
  std::string expected = "muestra: 123456\n[ punto , Angulo [grad], Radio [cm] ]\n\n";
  char row[160];
  for (int i = 0; i < kScanPoints; ++i) {
    std::snprintf(row, sizeof row, "%d %2.2f %2.2f\n", i,
                  static_cast<double>(kAngleTable[static_cast<std::size_t>(i)]) * 180 / 3.141592653589793,
                  static_cast<double>(ranges[i]));
    expected += row;
  }
  expected += "\n";
  EXPECT_EQ(t, expected);
}

}  // namespace
