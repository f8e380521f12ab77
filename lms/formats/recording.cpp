#include "lms/formats/recording.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "lms/formats/laser_scan.h"
#include "lms/formats/mcap.h"
#include "platform/error.h"
#include "platform/text.h"

namespace lms {

using platform::printable;

namespace {

// One number of a plain replay line: decimal, or hexadecimal after 0x.
bool parseWord(std::string_view field, std::uint16_t* out) {
  int base = 10;
  if (field.size() > 2 && field[0] == '0' && (field[1] == 'x' || field[1] == 'X')) {
    field.remove_prefix(2);
    base = 16;
  }
  unsigned v = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v, base);
  if (field.empty() || ec != std::errc() || end != field.data() + field.size() || v > 0xFFFF) return false;
  *out = static_cast<std::uint16_t>(v);
  return true;
}

// "file:line: ", the start of a message about a line of a file.
std::string where(const std::string& path, int lineNo) {
  std::string text = path;
  text += ':';
  text += std::to_string(lineNo);
  text += ": ";
  return text;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

}  // namespace

bool Recording::addLine(std::string_view line, std::string* why) {
  std::size_t at = 0;
  while (at < line.size() && isSpace(line[at])) ++at;
  if (at == line.size()) return true;  // blank
  std::uint16_t w[kMaxScanPoints] = {};
  int n = 0;
  std::string_view values = line.substr(at);
  char separator = ' ';
  Units units = Units::Millimetres;
  if (line[at] == '{') {
    // The unit the scanner was set to shows in the span of its measurements.
    if (const std::size_t max = line.find("\"range_max\":"); max != std::string_view::npos) {
      double metres = 0;
      const std::string_view number = line.substr(max + 12);
      std::from_chars(number.data(), number.data() + number.size(), metres);
      if (metres > 10) units = Units::Centimetres;
    }
    // A line lmsview --record wrote: its raw words are what the scanner sent.
    const std::size_t key = line.find("\"words\":[");
    const std::size_t close = key == std::string_view::npos ? key : line.find(']', key);
    if (close == std::string_view::npos) {
      // A line of lmsview's own that ends early was cut short; any other
      // JSON lacks the raw words a replay sends.
      *why = line.find("\"frame_id\"") != std::string_view::npos
                 ? "a recorded line cut short (its \"words\" array is not whole)"
                 : "a JSON line without a \"words\" array (lmsview --record writes them)";
      return false;
    }
    const std::size_t open = key + 9;
    values = line.substr(open, close - open);
    separator = ',';
  }
  while (!values.empty()) {
    const std::size_t stop = separator == ' ' ? values.find_first_of(" \t\r") : values.find(separator);
    std::string_view field = values.substr(0, stop);
    while (!field.empty() && isSpace(field.front())) field.remove_prefix(1);
    while (!field.empty() && isSpace(field.back())) field.remove_suffix(1);
    values = stop == std::string_view::npos ? std::string_view() : values.substr(stop + 1);
    if (field.empty() && separator == ' ') continue;
    if (n >= kMaxScanPoints || !parseWord(field, &w[n])) {
      *why = "expected at most " + std::to_string(kMaxScanPoints) +
             " values from 0 to 65535 (decimal, or hexadecimal after 0x)";
      return false;
    }
    ++n;
  }
  if (n > 0) add(w, pointsHolding(n), units);
  return true;
}

void Recording::add(const std::uint16_t* words, int count, Units units) {
  words_.insert(words_.end(), words, words + count);
  ends_.push_back(words_.size());
  units_.push_back(units);
}

bool Recording::load(const std::string& path, std::string* error, std::string* notice) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    *error = "replay file " + printable(path) + " is a folder";
    return false;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read replay file " + printable(path) + ": " +
             (errno != 0 ? platform::errorText(platform::lastOsError()) : std::string("cannot be opened"));
    return false;
  }
  if (char magic[8] = {}; in.read(magic, 8) && std::string_view(magic, 8) == lms::mcap::kMagic) {
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size > kMaxReplayFileBytes) {
      *error = "replay file " + printable(path) + " is larger than " +
               std::to_string(kMaxReplayFileBytes >> 20) + " MiB";
      return false;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    in.read(bytes.data(), size);
    std::string why;
    if (!addMcap(bytes, &why, notice)) {
      *error = "replay file " + printable(path) + ": " + why;
      return false;
    }
    return true;
  }
  in.clear();
  in.seekg(0);
  // Read in pieces with a bound on the line, the file and the scans, so a
  // file with no newline (or /dev/zero) cannot take all memory.
  std::string line;
  std::int64_t total = 0;
  int lineNo = 1;
  char buf[65536];
  std::string why;
  const std::string shown = printable(path);
  auto add = [&](bool ended) {
    if (!addLine(line, &why)) {
      // A last line without its newline is a recording cut short: the
      // scans before it still replay.
      if (!ended && !empty()) {
        if (notice) *notice = where(shown, lineNo) + "left out: " + why;
        return true;
      }
      *error = where(shown, lineNo) + why;
      return false;
    }
    if (size() > kMaxReplayScans) {
      *error =
          "replay file " + shown + " holds more than " + std::to_string(kMaxReplayScans) + " scans; split it";
      return false;
    }
    return true;
  };
  while (in) {
    in.read(buf, sizeof buf);
    const std::streamsize got = in.gcount();
    total += got;
    if (total > kMaxReplayFileBytes) {
      *error =
          "replay file " + shown + " is larger than " + std::to_string(kMaxReplayFileBytes >> 20) + " MiB";
      return false;
    }
    for (std::streamsize i = 0; i < got; ++i) {
      if (buf[i] != '\n') {
        if (line.size() >= kMaxReplayLineBytes) {
          *error =
              where(shown, lineNo) + "line longer than " + std::to_string(kMaxReplayLineBytes) + " bytes";
          return false;
        }
        line.push_back(buf[i]);
        continue;
      }
      if (!add(true)) return false;
      line.clear();
      ++lineNo;
    }
  }
  if (in.bad()) {
    *error = "cannot read replay file " + shown + ": " + platform::errorText(platform::lastOsError());
    return false;
  }
  if (!add(false)) return false;
  if (empty()) {
    *error = "replay file " + shown + " holds no scan";
    return false;
  }
  return true;
}

bool Recording::addMcap(std::string_view file, std::string* why, std::string* notice) {
  std::vector<lms::mcap::Message> messages;
  const bool read = lms::mcap::readMessages(file, &messages, why);
  if (!read) return false;
  if (!why->empty() && notice) *notice = *why + ": the scans before it are replayed";
  why->clear();
  // The raw words replay exactly, flag bits included; a recording without
  // them gives the ranges, in millimetres.
  bool haveRaw = false;
  for (const auto& m : messages)
    haveRaw = haveRaw || (m.messageEncoding == "json" && m.schemaName == "lmsview/RawScan");
  std::vector<float> ranges;
  for (const auto& m : messages) {
    if (size() >= kMaxReplayScans) {
      *why = "more than " + std::to_string(kMaxReplayScans) + " scans; split it";
      return false;
    }
    if (haveRaw) {
      if (m.schemaName != "lmsview/RawScan") continue;
      if (!addLine(m.data, why)) return false;
    } else if (m.schemaName == "sensor_msgs/msg/LaserScan" && m.messageEncoding == "cdr") {
      float rangeMax = 0;
      if (!lms::laserScanRangesFromCdr(m.data, &ranges, &rangeMax)) {
        *why = "a laser-scan message that does not parse";
        return false;
      }
      std::uint16_t w[kMaxScanPoints] = {};
      const int n = std::min(static_cast<int>(ranges.size()), kMaxScanPoints);
      const Units units = rangeMax > 10 ? Units::Centimetres : Units::Millimetres;
      const double perMetre = units == Units::Centimetres ? 100.0 : 1000.0;
      for (int i = 0; i < n; ++i) {
        const float r = ranges[static_cast<std::size_t>(i)];
        w[i] = static_cast<std::uint16_t>(
            std::isfinite(r) && r > 0 ? std::min(std::lround(r * perMetre), 8191L) : 0);
      }
      add(w, pointsHolding(n), units);
    }
  }
  if (empty()) {
    *why = "it holds no laser scan";
    return false;
  }
  return true;
}

RangeWords Recording::scan(std::int64_t index) const {
  const auto i = static_cast<std::size_t>(index % static_cast<std::int64_t>(size()));
  const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
  return RangeWords(words_.begin() + static_cast<std::ptrdiff_t>(begin),
                    words_.begin() + static_cast<std::ptrdiff_t>(ends_[i]));
}

Units Recording::units(std::int64_t index) const {
  return units_[static_cast<std::size_t>(index % static_cast<std::int64_t>(size()))];
}

}  // namespace lms
