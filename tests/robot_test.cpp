// SPDX-License-Identifier: Apache-2.0
// A robot's scanners: what a filter keeps, the merge in the robot's frame,
// and the filters every face refuses.

#include "lmsview/robot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "lmsview/lmsview.h"

#include "lms/engine/option_rules.h"
#include "lms/protocol/reply.h"

namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

// A 180/0.5 scan in millimetres, every point at `metres`.
lmsview::Scan flatScan(float metres) {
  lmsview::Scan s;
  s.geometry = lms::replyGeometry(361, lms::Units::Millimetres);
  s.words.assign(361, static_cast<std::uint16_t>(std::lround(metres * 1000)));
  lms::setRangesFromWords(&s);
  return s;
}

int nanCount(const lmsview::Scan& s) {
  int n = 0;
  for (const float r : s.ranges) n += std::isnan(r) ? 1 : 0;
  return n;
}

TEST(ScanFilter, CropShortensMasksAndDistancesHide) {
  lmsview::Scan wall = flatScan(2.0f);
  wall.ranges[180] = 0.02f;  // nearer than range_m below
  wall.words[180] = 20;
  const struct {
    const char* what;
    lmsview::ScanFilter filter;
    std::size_t count;
    double firstDeg;
    int hidden;
  } cases[] = {
      {"nothing", {}, 361, -90, 0},
      {"crop", {-45, 45, {}, 0, INFINITY}, 181, -45, 0},
      {"crop past the field", {-100, 100, {}, 0, INFINITY}, 361, -90, 0},
      {"mask", {-180, 180, {{-10, 10}}, 0, INFINITY}, 361, -90, 41},
      {"mask either way round", {-180, 180, {{10, -10}, {80, 90}}, 0, INFINITY}, 361, -90, 41 + 21},
      {"range", {-180, 180, {}, 0.05, 8.0}, 361, -90, 1},
      {"too near for everything", {-180, 180, {}, 2.5, 8.0}, 361, -90, 361},
      {"outside the field", {95, 120, {}, 0, INFINITY}, 0, 0, 0},
  };
  lmsview::Scan out;
  for (const auto& c : cases) {
    lmsview::filter_scan(wall, c.filter, &out);
    ASSERT_EQ(out.geometry.count, c.count) << c.what;
    EXPECT_EQ(out.ranges.size(), c.count) << c.what;
    EXPECT_EQ(out.words.size(), c.count) << c.what;
    EXPECT_EQ(nanCount(out), c.hidden) << c.what;
    if (c.count == 0) continue;
    EXPECT_NEAR(out.geometry.angle_min / kDeg, c.firstDeg, 1e-9) << c.what;
    EXPECT_NEAR(out.geometry.angle_max() / kDeg, -c.firstDeg, 1e-9) << c.what;
    // A hidden point keeps its raw word, and is no distance to the outputs.
    for (std::size_t i = 0; i < out.ranges.size(); ++i)
      if (std::isnan(out.ranges[i])) {
        EXPECT_NE(out.words[i], 0) << c.what;
        EXPECT_FALSE(lms::isDistance(out, i)) << c.what;
      }
  }
}

TEST(Merge, PointsMoveByTheirPosesAndTheNearestOfABinWins) {
  // Two scanners, each seeing one point straight ahead.
  lmsview::Scan a = flatScan(0.0f), b = flatScan(0.0f);
  a.words[180] = 1000;  // 1 m ahead of a
  b.words[180] = 2000;  // 2 m ahead of b
  a.words[0] = 500;     // 0.5 m to a's right
  lms::setRangesFromWords(&a);
  lms::setRangesFromWords(&b);
  a.seq = 7;
  a.stamp_ns = 123;
  const std::vector<lmsview::PlacedScan> placed = {{&a, {1.0, 0.0, 0.0}},
                                                   {&b, {0.0, 1.0, std::numbers::pi / 2}}};
  lmsview::Merged m;
  lmsview::merge(placed, &m);
  ASSERT_EQ(m.points.size(), 3u);
  EXPECT_NEAR(m.points[0].x, 1.0, 1e-6);  // 0.5 m to the right of (1, 0)
  EXPECT_NEAR(m.points[0].y, -0.5, 1e-6);
  EXPECT_NEAR(m.points[1].x, 2.0, 1e-6);
  EXPECT_NEAR(m.points[1].y, 0.0, 1e-6);
  EXPECT_EQ(m.points[1].scanner, 0u);
  EXPECT_NEAR(m.points[2].x, 0.0, 1e-6);  // b faces +y: 2 m ahead of (0, 1)
  EXPECT_NEAR(m.points[2].y, 3.0, 1e-6);
  EXPECT_EQ(m.points[2].scanner, 1u);
  ASSERT_EQ(m.scan.geometry.count, lmsview::kMergedBins);
  ASSERT_EQ(m.scan.ranges.size(), lmsview::kMergedBins);
  EXPECT_NEAR(m.scan.ranges[360], 2.0, 1e-6);  // bearing 0
  EXPECT_NEAR(m.scan.ranges[540], 3.0, 1e-6);  // bearing +90
  EXPECT_EQ(nanCount(m.scan), static_cast<int>(lmsview::kMergedBins) - 3);
  EXPECT_EQ(m.scan.seq, 7u);
  EXPECT_EQ(m.scan.stamp_ns, 123);
  // A nearer point in the same bin wins.
  b.words[180] = 1000;
  lms::setRangesFromWords(&b);
  const lmsview::PlacedScan same[] = {{&a, {}}, {&b, {}}};
  lmsview::merge(same, 2, &m);
  EXPECT_NEAR(m.scan.ranges[360], 1.0, 1e-6);
}

TEST(ScanFilter, EveryFaceRefusesAFilterThatKeepsNothing) {
  const struct {
    lmsview::ScanFilter filter;
    const char* variant;
    const char* says;  // "" : taken
  } cases[] = {
      {{}, "", ""},
      {{-100, 100, {{-95, -80}}, 0.05, 8.0}, "", ""},
      {{10, 10, {}, 0, INFINITY}, "", "is empty"},
      {{30, -30, {}, 0, INFINITY}, "", "is empty"},
      {{95, 120, {}, 0, INFINITY}, "", "outside the scanner's field (-90 to 90)"},
      {{-80, -60, {}, 0, INFINITY}, "100/1", "outside the scanner's field (-50 to 50)"},
      {{NAN, 10, {}, 0, INFINITY}, "", "numbers"},
      {{-180, 180, {{0, INFINITY}}, 0, INFINITY}, "", "finite"},
      {{-180, 180, {}, 8.0, 0.05}, "", "range"},
  };
  for (const auto& c : cases) {
    const std::string why = lms::checkFilter(c.filter, c.variant);
    if (*c.says == '\0')
      EXPECT_EQ(why, "");
    else
      EXPECT_NE(why.find(c.says), std::string::npos) << why;
    // The C interface, in the same words.
    lmsview_scanner* h = lmsview_create("tcp://127.0.2.99", "LMS", nullptr);
    if (*c.variant != '\0') {
      ASSERT_EQ(lmsview_set_option(h, LMSVIEW_OPTION_VARIANT, 101), LMSVIEW_OK);
    }
    std::vector<double> masks;
    for (const auto& [from, to] : c.filter.mask_deg) masks.insert(masks.end(), {from, to});
    EXPECT_EQ(lmsview_set_filter(h, c.filter.crop_min_deg, c.filter.crop_max_deg, masks.data(),
                                 c.filter.mask_deg.size(), c.filter.range_min_m, c.filter.range_max_m),
              *c.says == '\0' ? LMSVIEW_OK : LMSVIEW_BAD_ARGUMENT);
    EXPECT_EQ(lmsview_last_error_text(h), why);
    lmsview_close(h);
  }
}

}  // namespace
