#include "app/scan_formats.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "lms/formats/laser_scan.h"
#include "lms/protocol/reply.h"

namespace app {

namespace {

void putInt(std::string& out, long long v) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// Shortest text that reads back as the same double.
void putDouble(std::string& out, double v) {
  char buf[32];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// The raw range in millimetres: bits 0-12 of the word.
long long rawOf(std::uint16_t word) {
  return word & 0x1FFF;
}

// The ranges in metres from the raw words, as a JSON array.
void putRangesMetres(std::string& out, const lmsview::Scan& scan) {
  out.push_back('[');
  for (std::size_t i = 0; i < scan.words.size(); ++i) {
    if (i > 0) out.push_back(',');
    putDouble(out, static_cast<double>(rawOf(scan.words[i])) / 1000.0);
  }
  out.push_back(']');
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

}  // namespace

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

void formatCsvHeader(std::string& out, int count) {
  out = "seq,time_utc,time_ns";
  char name[32];
  for (int i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, ",r_%03d_%ddeg_cm", i / 2, (i % 2) * 5);
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
  for (const std::uint16_t word : scan.words) {
    const long long raw = rawOf(word);
    out.push_back(',');
    putInt(out, raw / 10);
    out.push_back('.');
    putInt(out, raw % 10);
  }
  out.push_back('\n');
}

void formatJsonLine(std::string& out, const lmsview::Scan& scan, std::string_view frameId, bool withWords) {
  out.clear();
  out += "{\"seq\":";
  putInt(out, static_cast<long long>(scan.seq));
  const lms::LaserScanFields f = lms::laserScanFields(scan, frameId);
  out += ",\"stamp\":{\"sec\":";
  putInt(out, f.sec);
  out += ",\"nanosec\":";
  putInt(out, f.nanosec);
  out += "},\"frame_id\":";
  putJsonString(out, frameId);
  out += ",\"angle_min\":0,\"angle_max\":";
  putDouble(out, std::numbers::pi);
  out += ",\"angle_increment\":";
  putDouble(out, std::numbers::pi / 360.0);
  out += ",\"time_increment\":0,\"scan_time\":0,\"range_min\":";
  putDouble(out, lms::kRangeMinMetres);
  out += ",\"range_max\":";
  putDouble(out, lms::kRangeMaxMetres);
  out += ",\"ranges\":";
  putRangesMetres(out, scan);
  out += ",\"intensities\":[]";
  if (withWords) {
    out += ",\"words\":[";
    for (std::size_t i = 0; i < scan.words.size(); ++i) {
      if (i > 0) out.push_back(',');
      putInt(out, scan.words[i]);
    }
    out.push_back(']');
  }
  out += "}\n";
}

void formatFoxgloveLaserScan(std::string& out, const lmsview::Scan& scan, std::string_view frameId) {
  const lms::LaserScanFields f = lms::laserScanFields(scan, frameId);
  out = "{\"timestamp\":{\"sec\":";
  putInt(out, f.sec);
  out += ",\"nsec\":";
  putInt(out, f.nanosec);
  out += "},\"frame_id\":";
  putJsonString(out, frameId);
  out +=
      ",\"pose\":{\"position\":{\"x\":0,\"y\":0,\"z\":0},\"orientation\":{\"x\":0,\"y\":0,\"z\":0,\"w\":1}},"
      "\"start_angle\":0,\"end_angle\":";
  putDouble(out, std::numbers::pi);
  out += ",\"ranges\":";
  putRangesMetres(out, scan);
  out += ",\"intensities\":[]}";
}

}  // namespace app
