// SPDX-License-Identifier: Apache-2.0
#include "lms/formats/scan_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "lms/formats/laser_scan.h"

namespace lms::scan_json {

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

void putString(std::string& out, std::string_view text) {
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

void putRanges(std::string& out, const lmsview::Scan& scan) {
  out.push_back('[');
  for (std::size_t i = 0; i < scan.ranges.size(); ++i) {
    if (i > 0) out.push_back(',');
    // JSON has no NaN: a point a filter hid is null.
    if (std::isnan(scan.ranges[i]))
      out += "null";
    else
      putFloat(out, scan.ranges[i]);
  }
  out.push_back(']');
}

namespace {

void putKey(std::string& out, std::string_view key) {
  out.push_back(out.empty() || out.back() == '{' ? '"' : ',');
  if (out.back() == ',') out.push_back('"');
  out += key;
  out += "\":";
}

void putWordsAndUnit(std::string& out, const lmsview::Scan& scan) {
  putKey(out, kRangeUnit);
  putString(out, unitsName(unitsOf(scan.geometry)));
  putKey(out, kWords);
  out.push_back('[');
  for (std::size_t i = 0; i < scan.words.size(); ++i) {
    if (i > 0) out.push_back(',');
    putInt(out, scan.words[i]);
  }
  out.push_back(']');
}

}  // namespace

void formatLine(std::string& out, const lmsview::Scan& scan, std::string_view frameId, bool withWords) {
  out.clear();
  out += "{\"seq\":";
  putInt(out, static_cast<long long>(scan.seq));
  std::int32_t sec = 0;
  std::uint32_t nanosec = 0;
  splitStamp(scan.stamp_ns, &sec, &nanosec);
  out += ",\"stamp\":{\"sec\":";
  putInt(out, sec);
  out += ",\"nanosec\":";
  putInt(out, nanosec);
  out += "},\"received_ns\":";
  putInt(out, scan.received_ns);
  putKey(out, kFrameId);
  putString(out, frameId);
  const lmsview::Geometry& g = scan.geometry;
  out += ",\"angle_min\":";
  putDouble(out, g.angle_min);
  out += ",\"angle_max\":";
  putDouble(out, g.angle_max());
  out += ",\"angle_increment\":";
  putDouble(out, g.angle_increment);
  out += ",\"time_increment\":0,\"scan_time\":0,\"range_min\":";
  putDouble(out, g.range_min);
  putKey(out, kRangeMax);
  putDouble(out, g.range_max);
  out += ",\"ranges\":";
  putRanges(out, scan);
  out += ",\"intensities\":[]";
  if (withWords) putWordsAndUnit(out, scan);
  out += "}\n";
}

void formatRawWords(const lmsview::Scan& scan, std::string* out) {
  const LaserScanFields f = laserScanFields(scan, "");
  out->clear();
  *out += "{\"seq\":";
  putInt(*out, static_cast<long long>(scan.seq));
  *out += ",\"stamp\":{\"sec\":";
  putInt(*out, f.sec);
  *out += ",\"nanosec\":";
  putInt(*out, f.nanosec);
  out->push_back('}');
  putKey(*out, kRangeMax);
  putDouble(*out, f.rangeMax);
  putWordsAndUnit(*out, scan);
  out->push_back('}');
}

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The end of the JSON value that starts at `at` (a string, an object or an
// array with what they hold, or a plain word or number); npos when the text
// ends first.
std::size_t valueEnd(std::string_view s, std::size_t at) {
  int depth = 0;
  for (; at < s.size(); ++at) {
    const char c = s[at];
    if (c == '"') {
      for (++at; at < s.size() && s[at] != '"'; ++at)
        if (s[at] == '\\') ++at;
      if (at >= s.size()) return std::string_view::npos;
      if (depth == 0) return at + 1;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (depth == 0) return at;  // the end of the enclosing object
      if (--depth == 0) return at + 1;
    } else if (c == ',' && depth == 0) {
      return at;
    }
  }
  return std::string_view::npos;
}

// Calls `member` with each key and value text of the object `s`; false when
// `s` is not one whole object.
template <class F>
bool forEachMember(std::string_view s, F&& member) {
  std::size_t at = 0;
  const auto skipSpace = [&] {
    while (at < s.size() && isSpace(s[at])) ++at;
  };
  skipSpace();
  if (at == s.size() || s[at] != '{') return false;
  ++at;
  // Whole: the object closes, and nothing but space follows it.
  const auto closes = [&] {
    ++at;
    skipSpace();
    return at == s.size();
  };
  skipSpace();
  if (at < s.size() && s[at] == '}') return closes();
  while (at < s.size()) {
    skipSpace();
    if (at == s.size() || s[at] != '"') return false;
    const std::size_t keyEnd = s.find('"', at + 1);
    if (keyEnd == std::string_view::npos) return false;
    const std::string_view key = s.substr(at + 1, keyEnd - at - 1);
    at = keyEnd + 1;
    skipSpace();
    if (at == s.size() || s[at] != ':') return false;
    ++at;
    skipSpace();
    const std::size_t end = valueEnd(s, at);
    if (end == std::string_view::npos) return false;
    std::string_view value = s.substr(at, end - at);
    while (!value.empty() && isSpace(value.back())) value.remove_suffix(1);
    member(key, value);
    at = end;
    skipSpace();
    if (at < s.size() && s[at] == ',') {
      ++at;
      continue;
    }
    if (at < s.size() && s[at] == '}') return closes();
    return false;
  }
  return false;
}

bool readWords(std::string_view array, std::vector<std::uint16_t>* words) {
  if (array.size() < 2 || array.front() != '[' || array.back() != ']') return false;
  array = array.substr(1, array.size() - 2);
  while (!array.empty()) {
    const std::size_t comma = array.find(',');
    std::string_view field = array.substr(0, comma);
    while (!field.empty() && isSpace(field.front())) field.remove_prefix(1);
    while (!field.empty() && isSpace(field.back())) field.remove_suffix(1);
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
    if (field.empty() || ec != std::errc() || end != field.data() + field.size() || v > 0xFFFF ||
        words->size() >= static_cast<std::size_t>(kMaxScanPoints))
      return false;
    words->push_back(static_cast<std::uint16_t>(v));
    array = comma == std::string_view::npos ? std::string_view() : array.substr(comma + 1);
  }
  return true;
}

}  // namespace

Units unitsOfRangeMax(double metres) {
  return metres > 100 ? Units::Decimetres : metres > 10 ? Units::Centimetres : Units::Millimetres;
}

bool readLine(std::string_view line, ReadScan* out, std::string* why) {
  out->words.clear();
  out->units = Units::Millimetres;
  bool haveWords = false, wordsOk = true, haveUnit = false, unitOk = true, ours = false;
  std::string_view rangeMax;
  const bool whole = forEachMember(line, [&](std::string_view key, std::string_view value) {
    if (key == kWords) {
      haveWords = true;
      wordsOk = readWords(value, &out->words);
    } else if (key == kRangeUnit) {
      haveUnit = true;
      unitOk = false;
      for (const Units u : {Units::Millimetres, Units::Centimetres, Units::Decimetres})
        if (value == std::string("\"") + unitsName(u) + "\"") {
          out->units = u;
          unitOk = true;
        }
    } else if (key == kRangeMax) {
      rangeMax = value;
    } else if (key == kFrameId) {
      ours = true;
    }
  });
  if (!whole) {
    // A line of lmsview's own that ends early was cut short.
    *why = ours || line.find("\"frame_id\"") != std::string_view::npos
               ? "a recorded line cut short (its \"words\" array is not whole)"
               : "a JSON line without a \"words\" array (lmsview --record writes them)";
    return false;
  }
  if (!haveWords) {
    *why = "a JSON line without a \"words\" array (lmsview --record writes them)";
    return false;
  }
  if (!wordsOk) {
    *why = "expected at most " + std::to_string(kMaxScanPoints) + " values from 0 to 65535 in \"words\"";
    return false;
  }
  if (haveUnit && !unitOk) {
    *why = "a \"range_unit\" that is not \"mm\", \"cm\" or \"dm\"";
    return false;
  }
  if (!haveUnit && !rangeMax.empty()) {
    // A line that names no unit: its range_max, written from the unit, says which.
    double metres = 0;
    std::from_chars(rangeMax.data(), rangeMax.data() + rangeMax.size(), metres);
    out->units = unitsOfRangeMax(metres);
  }
  return true;
}

}  // namespace lms::scan_json
