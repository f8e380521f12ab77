#include "app/scan_formats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "lms/protocol/reply.h"

using namespace app;

namespace {

TEST(ScanFormats, TimesAreUtcIso8601WithMilliseconds) {
  EXPECT_EQ(isoTimeUtc(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(isoTimeUtc(1'796'631'827'291'105'419LL), "2026-12-07T08:23:47.291Z");
  EXPECT_EQ(isoTimeUtc(951'782'400'999'999'999LL), "2000-02-29T00:00:00.999Z");  // a leap day
}

struct Sample {
  float ranges[lms::kScanPoints];
  std::uint16_t words[lms::kScanPoints];
  Sample() {
    for (int i = 0; i < lms::kScanPoints; ++i) {
      const int raw = i * 17 % 8192;
      words[i] = static_cast<std::uint16_t>(raw | (i % 37 == 0 ? 0xE000 : 0));
      ranges[i] = static_cast<float>(raw / 10.0);
    }
  }
  lmsview::Scan scan() const {
    lmsview::Scan s{.seq = 7, .stamp_ns = 1'796'631'827'291'105'419LL};
    for (std::size_t i = 0; i < s.words.size(); ++i) {
      s.words[i] = words[i];
      s.ranges[i] = ranges[i] / 100.0f;
    }
    return s;
  }
};

TEST(ScanFormats, CsvNamesItsColumnsWithUnitsAndWritesExactValues) {
  std::string header;
  formatCsvHeader(header, lms::kScanPoints);
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
  formatJsonLine(line, s.scan(), "front \"left\"\\", false);
  EXPECT_EQ(
      line.rfind("{\"seq\":7,\"stamp\":{\"sec\":1796631827,\"nanosec\":291105419},"
                 "\"frame_id\":\"front \\\"left\\\"\\\\\",\"angle_min\":0,\"angle_max\":3.141592653589793,"
                 "\"angle_increment\":0.008726646259971648,\"time_increment\":0,\"scan_time\":0,"
                 "\"range_min\":0.01,\"range_max\":8.18,\"ranges\":[0,0.017,0.034,",
                 0),
      0u)
      << line.substr(0, 300);
  EXPECT_NE(line.find("],\"intensities\":[]}\n"), std::string::npos);
  EXPECT_EQ(line.find("words"), std::string::npos);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  formatJsonLine(line, s.scan(), "laser", true);
  EXPECT_NE(line.find("\"words\":[57344,17,34,"), std::string::npos);  // flag bits kept
  formatJsonLine(line, s.scan(), std::string("a\nb\x01", 4), false);
  EXPECT_NE(line.find("\"frame_id\":\"a\\u000ab\\u0001\""), std::string::npos);
}

}  // namespace
