// SPDX-License-Identifier: Apache-2.0
#include "app/outputs/plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "lms/protocol/reply.h"

using namespace app;

namespace {

struct Scan {
  std::vector<float> ranges = std::vector<float>(lms::kScanPoints, 0.0f);
  // Ranges in metres, as the pictures read them (the words are not looked at).
  lmsview::Scan view(int seq = 4) const {
    lmsview::Scan scan;
    scan.seq = static_cast<std::uint64_t>(seq);
    scan.geometry = lms::replyGeometry(lms::kScanPoints);
    for (const float r : ranges) scan.ranges.push_back(r / 100.0f);
    return scan;
  }
};

// A straight wall 2 m ahead of the scanner, from 45 to 135 degrees.
Scan wallAhead() {
  Scan s;
  for (int i = 90; i <= 270; ++i) {
    const double a = i * std::numbers::pi / 360.0;
    s.ranges[static_cast<std::size_t>(i)] = static_cast<float>(200.0 / std::sin(a));
  }
  return s;
}

// Decodes a rendered canvas back into its dots.
std::vector<std::vector<bool>> dotsOf(const std::string& text, int cols, int rows) {
  std::vector<std::vector<bool>> dots(static_cast<std::size_t>(rows * 4),
                                      std::vector<bool>(static_cast<std::size_t>(cols * 2)));
  const int bits[4][2] = {{0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};
  int row = 0, col = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b == '\n') {
      ++row;
      col = 0;
      ++i;
      continue;
    }
    if (b == 0xE2) {
      const unsigned code = ((b & 0x0F) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3F) << 6) |
                            (static_cast<unsigned char>(text[i + 2]) & 0x3F);
      for (int dy = 0; dy < 4; ++dy)
        for (int dx = 0; dx < 2; ++dx)
          if ((code - 0x2800) & bits[dy][dx])
            dots[static_cast<std::size_t>(row) * 4 + static_cast<std::size_t>(dy)]
                [static_cast<std::size_t>(col) * 2 + static_cast<std::size_t>(dx)] = true;
      i += 3;
    } else {
      ++i;
    }
    ++col;
  }
  return dots;
}

TEST(BrailleCanvas, DotsLandInTheirCellsAndOutsideOnesAreDropped) {
  BrailleCanvas c(3, 2);
  c.set(0, 0);
  c.set(1, 3);
  c.set(5, 7);
  c.set(-1, 0);
  c.set(6, 0);
  c.set(0, 8);
  EXPECT_TRUE(c.isSet(1, 3));
  EXPECT_FALSE(c.isSet(6, 0));
  EXPECT_EQ(c.render(), "\u2881\n  \u2880\n");  // dots 1 and 8 in the first cell; dot 8 in the last
  c.label(2, 0, "12m");                         // cut at the edge
  EXPECT_EQ(c.render(), "\u2881 1\n  \u2880\n");
}

TEST(PlotFrame, AStraightWallLightsAStraightLine) {
  const Scan s = wallAhead();
  std::string frame;
  PlotView v{.cols = 80, .rows = 40, .maxRangeM = 4, .sample = 4};
  formatPlotFrame(frame, s.view(), v);
  std::string bare;  // the same picture without the scan: rings and labels only
  formatPlotFrame(bare, Scan().view(), v);
  const auto dots = dotsOf(frame, 80, 36);
  const auto ringDots = dotsOf(bare, 80, 36);
  // The wall is 2 m ahead: half of a 4 m picture. Every dot the scan adds is
  // on that one row of dots, and they run across it.
  const int canvasHeight = 36 * 4;
  const double scale = std::min((canvasHeight - 1) / 4.0, (80.0 - 1) / 4.0);
  const double wallY = canvasHeight - 1 - 2 * scale;  // within a dot of it, by rounding
  int onTheRow = 0, elsewhere = 0;
  for (int y = 0; y < canvasHeight - 4; ++y)
    for (int x = 0; x < 160; ++x) {
      const auto yi = static_cast<std::size_t>(y);
      const auto xi = static_cast<std::size_t>(x);
      if (dots[yi][xi] && !ringDots[yi][xi]) (std::abs(y - wallY) <= 1.0 ? onTheRow : elsewhere)++;
    }
  EXPECT_GT(onTheRow, 60);  // 4 m of wall at about 20 dots a metre
  EXPECT_EQ(elsewhere, 0);
  EXPECT_NE(frame.find("muestra 4"), std::string::npos);
  EXPECT_NE(frame.find("181 points  nearest 2.00 m at 90.0 deg"), std::string::npos) << frame;
}

TEST(PlotFrame, APointStraightAheadLandsAboveTheScanner) {
  Scan s;
  s.ranges[180] = 100.0f;  // 90 degrees, 1 m
  std::string frame;
  formatPlotFrame(frame, s.view(), {.cols = 41, .rows = 26, .maxRangeM = 2});
  const auto dots = dotsOf(frame, 41, 22);
  const int h = 22 * 4;
  const double scale = std::min((h - 1) / 2.0, (82 / 2.0 - 1) / 2.0);
  const int x = 41;  // the centre column of dots
  const int y = static_cast<int>(std::lround(h - 1 - scale));
  EXPECT_TRUE(dots[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]);
  EXPECT_TRUE(dots[static_cast<std::size_t>(h - 1)][static_cast<std::size_t>(x)]);  // the scanner
}

TEST(PlotFrame, RangesBeyondTheScaleAreClippedNotWrapped) {
  Scan s;
  for (auto& r : s.ranges) r = 700.0f;  // 7 m everywhere, on a 2 m picture
  std::string clipped, empty;
  formatPlotFrame(clipped, s.view(), {.cols = 60, .rows = 30, .maxRangeM = 2});
  formatPlotFrame(empty, Scan().view(), {.cols = 60, .rows = 30, .maxRangeM = 2});
  // Nothing of them is drawn: the picture is that of an empty scan but for the status line.
  EXPECT_EQ(clipped.substr(0, clipped.rfind("muestra")), empty.substr(0, empty.rfind("muestra")));
}

TEST(PlotFrame, EveryWindowSizeStaysInsideItsBuffer) {
  const Scan s = wallAhead();
  std::string frame;
  for (int cols = 20; cols <= 300; cols += 7)
    for (int rows = 10; rows <= 100; rows += 9) {
      formatPlotFrame(frame, s.view(), {.cols = cols, .rows = rows});
      int lines = 0;
      for (char c : frame) lines += c == '\n';
      EXPECT_EQ(lines, rows - 3) << cols << "x" << rows;
    }
  formatPlotFrame(frame, s.view(), {.cols = 1, .rows = 1});  // smaller than any window: still a frame
  EXPECT_FALSE(frame.empty());
}

TEST(RingStep, AtMostEightRings) {
  EXPECT_EQ(ringStep(1.0), 0.5);
  EXPECT_EQ(ringStep(4.0), 0.5);
  EXPECT_EQ(ringStep(6.5), 1.0);
  EXPECT_EQ(ringStep(8.191), 2.0);
  EXPECT_EQ(ringStep(30.0), 5.0);
  EXPECT_EQ(ringStep(100.0), 10.0);
}

}  // namespace

namespace {

TEST(PlotFrame, TheStatusLineNeverWraps) {
  const Scan s = wallAhead();
  std::string frame;
  formatPlotFrame(frame, s.view(), {.cols = 30, .rows = 12, .scansPerSecond = 12.5, .sample = 123456});
  const std::string last = frame.substr(frame.rfind('\n', frame.size() - 2) + 1);
  EXPECT_EQ(last.size(), 31u) << last;  // 30 characters and the newline
  EXPECT_EQ(last.rfind("muestra 123456", 0), 0u);
}

}  // namespace

namespace {

TEST(ScanRate, KnownOnlyOnceTwoIntervalsAreSeenThenCountsTheScansReceivedOverTheWindow) {
  ScanRate rate;
  // The first two stamps close together (a reply that waited for the display).
  EXPECT_EQ(rate.add(1'000'000'000, 0), 0);
  EXPECT_EQ(rate.add(1'001'000'000, 1), 0);
  EXPECT_NEAR(rate.add(1'201'000'000, 2), 2 * 1e9 / 201e6, 1e-9);
  double r = 0;
  for (int i = 3; i < 40; ++i) r = rate.add(1'001'000'000 + i * 200'000'000LL, static_cast<std::uint64_t>(i));
  EXPECT_NEAR(r, 5.0, 1e-9);
  // A display that shows every eighth of 40 scans a second still says 40.
  for (int i = 0; i < 40; ++i)
    r = rate.add(10'000'000'000 + i * 200'000'000LL, 1000 + 8 * static_cast<std::uint64_t>(i));
  EXPECT_NEAR(r, 40.0, 1e-9);
}

// A ring is faint dots however small it is drawn: no two of its dots touch,
// so the innermost never reads as a surface close to the scanner.
TEST(PlotFrame, RingsAreDotsThatNeverTouch) {
  std::string bare;
  for (const double range : {2.0, 4.0, 8.0}) {
    formatPlotFrame(bare, Scan().view(), {.cols = 200, .rows = 60, .maxRangeM = range});
    const auto dots = dotsOf(bare, 200, 56);
    for (std::size_t y = 0; y + 8 < dots.size(); ++y) {  // above the labels' row
      for (std::size_t x = 0; x + 1 < dots[y].size(); ++x) {
        const bool touches = dots[y][x] && (dots[y][x + 1] || dots[y + 1][x] || dots[y + 1][x + 1] ||
                                            (x > 0 && dots[y + 1][x - 1]));
        ASSERT_FALSE(touches) << range << " m: dots touch at " << x << "," << y;
      }
    }
  }
}

TEST(PlotFrame, LabelsNeverRunIntoEachOtherAndAHugeWindowIsClamped) {
  const Scan wall = wallAhead();
  for (const auto& [cols, rows] : std::vector<std::pair<int, int>>{{12, 20}, {24, 10}, {40, 30}}) {
    std::string out;
    formatPlotFrame(out, wall.view(), {.cols = cols, .rows = rows, .maxRangeM = 8});
    // The row of ring labels: every run of plain text in it is one whole label.
    const std::size_t end = out.rfind('\n', out.rfind('\n') - 1);
    const std::size_t begin = out.rfind('\n', end - 1) + 1;
    std::string run;
    for (std::size_t i = begin; i <= end; ++i) {
      const auto c = static_cast<unsigned char>(out[i]);
      if (c > ' ' && c < 0x80) {
        run.push_back(out[i]);
        continue;
      }
      if (!run.empty()) {
        EXPECT_EQ(run.find('m'), run.size() - 1) << cols << ": " << run;
        EXPECT_NE(run.front(), '0');
      }
      run.clear();
    }
  }
  std::string out;
  formatPlotFrame(out, wall.view(), {.cols = 60000, .rows = 30000});
  EXPECT_LE(std::count(out.begin(), out.end(), '\n'), kMaxPlotRows);
}

}  // namespace
