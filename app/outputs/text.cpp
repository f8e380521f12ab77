#include "app/outputs/text.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <numbers>

namespace app {

std::string isoTimeUtc(std::int64_t nanosSinceEpoch) {
  using namespace std::chrono;
  const sys_time<nanoseconds> t{nanoseconds(nanosSinceEpoch)};
  const sys_days day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss<milliseconds> time{floor<milliseconds>(t - day)};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return buf;
}

void putInt(std::string& out, long long v) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

void putDouble(std::string& out, double v) {
  char buf[32];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

void putFloat(std::string& out, float v) {
  char buf[32];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

void putJsonString(std::string& out, std::string_view text) {
  out.push_back('"');
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (b < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", b);
      out += esc;
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

void putRangesJson(std::string& out, const lmsview::Scan& scan) {
  out.push_back('[');
  for (std::size_t i = 0; i < scan.ranges.size(); ++i) {
    if (i > 0) out.push_back(',');
    putFloat(out, scan.ranges[i]);
  }
  out.push_back(']');
}

double degreesFromRight(const lmsview::Geometry& g, std::size_t i) {
  const double field = (g.angle_max() - g.angle_min) * 180.0 / std::numbers::pi;
  return (g.angle(i) - g.angle_min) * 180.0 / std::numbers::pi + (180.0 - field) / 2;
}

double drawingAngle(const lmsview::Geometry& g, std::size_t i) {
  return degreesFromRight(g, i) * std::numbers::pi / 180.0;
}

}  // namespace app
