// SPDX-License-Identifier: Apache-2.0
#include "app/outputs/svg.h"

#include <gtest/gtest.h>

#include <string>

#include "lms/protocol/reply.h"

using namespace app;

namespace {

TEST(ScanSvg, OnePointPerValidRangeWhereItBelongs) {
  lmsview::Scan scan;
  scan.seq = 7;
  scan.geometry = lms::replyGeometry(lms::kScanPoints);
  scan.ranges.assign(lms::kScanPoints, 0.0f);
  scan.ranges[0] = 1.0f;     // 1 m to the right
  scan.ranges[180] = 2.0f;   // 2 m ahead
  scan.ranges[360] = 0.0f;   // no echo: no point
  scan.ranges[90] = 8.191f;  // the largest code: no point
  const std::string svg = scanSvg(scan, 2.0);
  int points = 0;
  for (std::size_t at = svg.find("class=\"point\""); at != std::string::npos;
       at = svg.find("class=\"point\"", at + 1))
    ++points;
  EXPECT_EQ(points, 2);
  // 2 m is the picture's range: 380 px.
  EXPECT_NE(svg.find("<circle class=\"point\" r=\"1.8\" cx=\"590.0\" cy=\"420.0\"/>"), std::string::npos)
      << svg;
  EXPECT_NE(svg.find("<circle class=\"point\" r=\"1.8\" cx=\"400.0\" cy=\"40.0\"/>"), std::string::npos);
  EXPECT_NE(svg.find("<title>lmsview muestra 7 1970-01-01T00:00:00.000Z</title>"), std::string::npos);
  EXPECT_NE(svg.find(">1 m</text>"), std::string::npos);
  EXPECT_NE(svg.find(">90&#176;</text>"), std::string::npos);
  EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
  EXPECT_LT(svg.size(), 64u * 1024);
}

}  // namespace
