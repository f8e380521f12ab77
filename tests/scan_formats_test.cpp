// SPDX-License-Identifier: Apache-2.0
#include "app/outputs/csv.h"
#include "app/outputs/output_helpers.h"
#include "lms/formats/scan_json.h"

#include <gtest/gtest.h>

#include <cstring>

#include <cstdint>
#include <string>

#include "app/outputs/table.h"
#include "app/serve/server.h"
#include "lms/formats/laser_scan.h"
#include "lms/protocol/reply.h"

using namespace app;

namespace {

TEST(ScanFormats, TimesAreUtcIso8601WithMilliseconds) {
  EXPECT_EQ(isoTimeUtc(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(isoTimeUtc(1'796'631'827'291'105'419LL), "2026-12-07T08:23:47.291Z");
  EXPECT_EQ(isoTimeUtc(951'782'400'999'999'999LL), "2000-02-29T00:00:00.999Z");  // a leap day
}

// A scan as the driver decodes it: words i * 17, flag bits on every 37th.
struct Sample {
  lmsview::Scan scan(const lmsview::Geometry& g = lms::replyGeometry(lms::kScanPoints)) const {
    lmsview::Scan s{.seq = 7, .stamp_ns = 1'796'631'827'291'105'419LL, .geometry = g};
    for (std::size_t i = 0; i < g.count; ++i)
      s.words.push_back(static_cast<std::uint16_t>((i * 17 % 8192) | (i % 37 == 0 ? 0xE000 : 0)));
    lms::setRangesFromWords(&s);
    return s;
  }
};

TEST(ScanFormats, CsvNamesItsColumnsWithUnitsAndWritesExactValues) {
  std::string header;
  formatCsvHeader(header, lms::replyGeometry(lms::kScanPoints));
  EXPECT_EQ(header.rfind("seq,time_utc,time_ns,r_000_0deg_cm,r_000_5deg_cm,r_001_0deg_cm,", 0), 0u);
  EXPECT_NE(header.find(",r_180_0deg_cm\n"), std::string::npos);
  Sample s;
  std::string row;
  formatCsvRow(row, s.scan());
  EXPECT_EQ(row.rfind("7,2026-12-07T08:23:47.291Z,1796631827291105419,0.0,1.7,3.4,", 0), 0u)
      << row.substr(0, 80);
  EXPECT_EQ(row.back(), '\n');
  int commas = 0;
  for (char c : row) commas += c == ',';
  EXPECT_EQ(commas, 2 + lms::kScanPoints);
  EXPECT_NE(row.find(",612.0\n"), std::string::npos);  // the last point: 360 * 17
}

TEST(ScanFormats, JsonLinesFollowTheLaserScanConventions) {
  Sample s;
  std::string line;
  lms::scan_json::formatLine(line, s.scan(), "front \"left\"\\", false);
  EXPECT_EQ(line.rfind("{\"seq\":7,\"stamp\":{\"sec\":1796631827,\"nanosec\":291105419},\"received_ns\":0,"
                       "\"frame_id\":\"front \\\"left\\\"\\\\\",\"angle_min\":-1.5707963267948966,"
                       "\"angle_max\":1.5707963267948966,"
                       "\"angle_increment\":0.008726646259971648,\"time_increment\":0,\"scan_time\":0,"
                       "\"range_min\":0.01,\"range_max\":8.18,\"ranges\":[0,0.017,0.034,",
                       0),
            0u)
      << line.substr(0, 300);
  EXPECT_NE(line.find("],\"intensities\":[]}\n"), std::string::npos);
  EXPECT_EQ(line.find("words"), std::string::npos);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  lms::scan_json::formatLine(line, s.scan(), "laser", true);
  EXPECT_NE(line.find("\"words\":[57344,17,34,"), std::string::npos);  // flag bits kept
  lms::scan_json::formatLine(line, s.scan(), std::string("a\nb\x01", 4), false);
  EXPECT_NE(line.find("\"frame_id\":\"a\\u000ab\\u0001\""), std::string::npos);
}

// Every output takes the scan's geometry from the record itself: a record
// of another count, field or unit is written as it says, with no constant
// of the usual scan in the way.
TEST(ScanFormats, EveryOutputFollowsTheGeometryTheRecordCarries) {
  constexpr double kPi = 3.141592653589793;
  const struct {
    std::size_t count;
    double first, increment;  // radians
    double perMetre;          // counts a metre
    const char* csvFirstColumns;
    const char* tableRow1;  // point 1 in the table: degrees from the right, centimetres
  } cases[] = {
      {361, 0, kPi / 360, 1000, "r_000_0deg_cm,r_000_5deg_cm,", "1 0.50 1.70"},
      {181, 0, kPi / 180, 1000, "r_000_0deg_cm,r_001_0deg_cm,", "1 1.00 1.70"},
      {401, 40 * kPi / 180, kPi / 720, 100, "r_040_00deg_cm,r_040_25deg_cm,", "1 40.25 17.00"},
  };
  for (const auto& c : cases) {
    lmsview::Geometry g{.count = c.count,
                        .angle_min = c.first,
                        .angle_increment = c.increment,
                        .range_min = 10 / c.perMetre,
                        .range_max = 8180 / c.perMetre,
                        .range_unit = 1 / c.perMetre};
    const lmsview::Scan scan = Sample().scan(g);
    ASSERT_EQ(scan.ranges.size(), c.count);
    EXPECT_EQ(scan.ranges[1], static_cast<float>(17 / c.perMetre));
    std::string text;
    formatScanTable(text, scan, 0, false);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(3 + c.count + 1)) << c.count;
    std::string row = "\n";  // (built in steps: GCC 12 warns wrongly about "\n" + string)
    row += c.tableRow1;
    row += '\n';
    EXPECT_NE(text.find(row), std::string::npos) << c.count;
    formatCsvHeader(text, g);
    EXPECT_EQ(text.find(c.csvFirstColumns), std::string("seq,time_utc,time_ns,").size())
        << text.substr(0, 60);
    formatCsvRow(text, scan);
    EXPECT_EQ(std::count(text.begin(), text.end(), ','), static_cast<long>(2 + c.count));
    lms::scan_json::formatLine(text, scan, "laser", false);
    std::string expected = "\"angle_max\":";
    putDouble(expected, g.angle_max());
    EXPECT_NE(text.find(expected), std::string::npos) << c.count;
    EXPECT_NE(text.find("\"range_max\":" + std::string(c.perMetre == 100 ? "81.8" : "8.18")),
              std::string::npos);
    serve::formatFoxgloveLaserScan(text, scan, "laser");
    expected = "\"end_angle\":";
    putDouble(expected, g.angle_max());
    EXPECT_NE(text.find(expected), std::string::npos) << text.substr(0, 200);
    // The laser-scan message (MCAP and DDS both write it from these fields).
    const lms::LaserScanFields f = lms::laserScanFields(scan, "laser");
    EXPECT_EQ(f.angleMin, static_cast<float>(c.first));
    EXPECT_EQ(f.angleMax, static_cast<float>(g.angle_max()));
    EXPECT_EQ(f.angleIncrement, static_cast<float>(c.increment));
    EXPECT_EQ(f.rangeMax, static_cast<float>(8180 / c.perMetre));
    std::vector<float> ranges;
    ASSERT_TRUE(lms::laserScanRangesFromCdr(lms::laserScanCdr(f), &ranges));
    EXPECT_EQ(ranges, scan.ranges);
  }
}

// A range on range_min or range_max is a distance: the point cloud keeps it.
// Its metres are a float's rounding below or above those limits; the words
// say what it is.
TEST(ScanFormats, APointOnEitherLimitOfTheRangeIsADistance) {
  for (const lms::Units units : {lms::Units::Millimetres, lms::Units::Centimetres}) {
    lmsview::Scan scan;
    scan.geometry = lms::replyGeometry(101, units);
    scan.words.assign(101, 0);  // no echo
    scan.words[3] = 10;
    scan.words[7] = 8180;
    scan.words[9] = 8181;  // one of the scanner's codes
    lms::setRangesFromWords(&scan);
    const std::string cloud = lms::pointCloudCdr(lms::laserScanFields(scan, "laser"));
    // The width is the third word after the header's frame id ("laser" and its NUL, padded).
    std::uint32_t width = 0;
    std::memcpy(&width, cloud.data() + 4 + 8 + 4 + 8 + 4, sizeof width);
    EXPECT_EQ(width, 2u) << lms::unitsName(units);
    EXPECT_TRUE(lms::isDistance(scan, 3) && lms::isDistance(scan, 7));
    EXPECT_FALSE(lms::isDistance(scan, 0) || lms::isDistance(scan, 9));
  }
}

}  // namespace
