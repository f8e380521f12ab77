// SPDX-License-Identifier: Apache-2.0
// --format csv: a header line, then one line a scan.

#include "app/outputs/csv.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "app/outputs/output_helpers.h"
#include "app/outputs/sink.h"

namespace app {

void formatCsvHeader(std::string& out, const lmsview::Geometry& g) {
  out = "seq,time_utc,time_ns";
  // Hundredths of a degree, shown with as many decimals as the resolution needs.
  const bool quarters = std::lround(g.angle_increment * 18000.0 / std::numbers::pi) % 50 != 0;
  char name[40];
  for (std::size_t i = 0; i < g.count; ++i) {
    const long hundredths = std::lround(degreesFromRight(g, i) * 100.0);
    if (quarters)
      std::snprintf(name, sizeof name, ",r_%03ld_%02lddeg_cm", hundredths / 100, hundredths % 100);
    else
      std::snprintf(name, sizeof name, ",r_%03ld_%lddeg_cm", hundredths / 100, (hundredths % 100) / 10);
    out += name;
  }
  out.push_back('\n');
}

void formatCsvRow(std::string& out, const lmsview::Scan& scan) {
  out.clear();
  putInt(out, static_cast<long long>(scan.seq));
  out.push_back(',');
  out += isoTimeUtc(scan.stamp_ns);
  out.push_back(',');
  putInt(out, scan.stamp_ns);
  for (const float metres : scan.ranges) {
    out.push_back(',');
    if (std::isnan(metres)) continue;  // a point a filter hid: an empty field
    // Tenths of a centimetre are millimetres: whole in either unit.
    const long long tenths = std::llround(static_cast<double>(metres) * 1000.0);
    putInt(out, tenths / 10);
    out.push_back('.');
    putInt(out, tenths % 10);
  }
  out.push_back('\n');
}

namespace {

class CsvSink {
 public:
  explicit CsvSink(const SinkSetup& s)
      : out_(s.out), robot_(s.robot != nullptr && s.robot->scanners.size() > 1) {}
  std::error_code write(const lmsview::Scan& scan, const ScanSource& from) {
    text_.clear();
    if (!headerDone_ || scan.geometry != geometry_) {
      // The header goes out with the line it heads, in the same write.
      formatCsvHeader(row_, scan.geometry);
      if (robot_) text_ = "frame_id,";  // a robot's scanners: which one each line is
      text_ += row_;
      headerDone_ = true;
      geometry_ = scan.geometry;
    }
    formatCsvRow(row_, scan);
    if (robot_) (text_ += from.frameId) += ',';
    text_ += row_;
    return out_(text_);
  }

 private:
  std::function<std::error_code(std::string_view)> out_;
  bool robot_;
  bool headerDone_ = false;
  lmsview::Geometry geometry_;
  std::string text_;
  std::string row_;
};

}  // namespace

Sink makeCsvSink(const SinkSetup& setup) {
  return sinkOf(std::make_shared<CsvSink>(setup));
}

}  // namespace app
