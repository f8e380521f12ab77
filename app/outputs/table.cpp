// SPDX-License-Identifier: Apache-2.0
// --format table: a table of angle and range a scan; on a terminal each
// replaces the last, elsewhere they follow each other.

#include "app/outputs/table.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "app/outputs/output_helpers.h"
#include "app/outputs/sink.h"

namespace app {

namespace {

// Two decimals, rounded as printf's "%2.2f" rounds (to the nearest, exactly).
// Angles and ranges lie far from a rounding tie, so they go through integers
// (the exact way costs half the table's time); what is near a tie, negative,
// huge or not a number goes the exact way.
char* putFixed2(char* p, char* end, double v) {
  const double hundredths = v * 100.0;  // off by at most 1e-7 below 1e9
  if (!std::signbit(v) && hundredths < 1e9) {
    const double whole = std::floor(hundredths);
    const double fraction = hundredths - whole;
    if (std::fabs(fraction - 0.5) > 1e-6) {
      const auto n = static_cast<std::uint32_t>(whole) + (fraction > 0.5 ? 1u : 0u);
      p = std::to_chars(p, end, n / 100).ptr;
      *p++ = '.';
      *p++ = static_cast<char>('0' + n / 10 % 10);
      *p++ = static_cast<char>('0' + n % 10);
      return p;
    }
  }
  return std::to_chars(p, end, v, std::chars_format::fixed, 2).ptr;
}

}  // namespace

void formatScanTable(std::string& out, const lmsview::Scan& scan, std::uint64_t sample, bool clear) {
  // Longest row: an index of up to 11 characters and two numbers of up to 48.
  constexpr std::size_t kRowMax = 112;
  const std::size_t count = scan.ranges.size();
  out.resize(64 + count * kRowMax);
  char* p = out.data();
  char* end = out.data() + out.size();
  auto put = [&p](const char* s) {
    while (*s) *p++ = *s++;
  };
  if (clear) put(kClearScreen);
  put("muestra: ");
  p = std::to_chars(p, end, sample).ptr;
  put("\n[ punto , Angulo [grad], Radio [cm] ]\n\n");
  for (std::size_t i = 0; i < count; ++i) {
    p = std::to_chars(p, end, i).ptr;
    *p++ = ' ';
    p = putFixed2(p, end, degreesFromRight(scan.geometry, i));
    *p++ = ' ';
    p = putFixed2(p, end, static_cast<double>(scan.ranges[i]) * 100.0);
    *p++ = '\n';
  }
  if (!clear) *p++ = '\n';
  out.resize(static_cast<std::size_t>(p - out.data()));
}

namespace {

class TableSink {
 public:
  explicit TableSink(const SinkSetup& s)
      : out_(s.out), clear_(s.terminal), robot_(s.robot != nullptr && s.robot->scanners.size() > 1) {
    text_.reserve(64 * 1024);
  }
  std::error_code write(const lmsview::Scan& scan, const ScanSource& from) {
    formatScanTable(text_, scan, shown_++, clear_);
    // A robot's scanners: each table says whose it is.
    if (robot_) {
      label_.assign(1, '[').append(from.frameId).append("]\n");
      text_.insert(clear_ ? std::string_view(kClearScreen).size() : 0, label_);
    }
    return out_(text_);
  }

 private:
  std::uint64_t shown_ = 0;
  std::function<std::error_code(std::string_view)> out_;
  bool clear_;
  bool robot_;
  std::string text_;
  std::string label_;
};

}  // namespace

Sink makeTableSink(const SinkSetup& setup) {
  return sinkOf(std::make_shared<TableSink>(setup));
}

}  // namespace app
