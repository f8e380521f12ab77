// SPDX-License-Identifier: Apache-2.0
#include "lms/formats/recording.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>

#include "lms/formats/laser_scan.h"
#include "lms/formats/mcap.h"
#include "lms/formats/scan_json.h"
#include "platform/error.h"
#include "platform/input_file.h"
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

constexpr std::string_view kRawSuffix = "/raw";

// The laser-scan topic a channel of scans belongs to: its own, or for the
// raw words the one they are recorded beside (TOPIC/raw); "" for others.
std::string_view scanTopicOf(const mcap::ChannelInfo& c) {
  if (c.schemaName == "sensor_msgs/msg/LaserScan" && c.messageEncoding == "cdr") return c.topic;
  if (c.schemaName == "lmsview/RawScan" && c.messageEncoding == "json" &&
      c.topic.size() >= kRawSuffix.size() && c.topic.substr(c.topic.size() - kRawSuffix.size()) == kRawSuffix)
    return c.topic.substr(0, c.topic.size() - kRawSuffix.size());
  return {};
}

}  // namespace

bool Recording::addLine(std::string_view line, std::string* why) {
  std::size_t at = 0;
  while (at < line.size() && isSpace(line[at])) ++at;
  if (at == line.size()) return true;  // blank
  // The values, filled with 0 up to the scan they belong to.
  std::uint16_t w[kMaxScanPoints] = {};
  int n = 0;
  Units units = Units::Millimetres;
  if (line[at] == '{') {
    // A line lmsview --record wrote (or an MCAP recording's raw words): what
    // the scanner sent, in the unit the line names.
    scan_json::ReadScan read;
    if (!scan_json::readLine(line.substr(at), &read, why)) return false;
    n = static_cast<int>(read.words.size());  // at most kMaxScanPoints
    std::copy(read.words.begin(), read.words.end(), w);
    units = read.units;
  }
  for (std::string_view values = line[at] == '{' ? std::string_view() : line.substr(at); !values.empty();) {
    const std::size_t stop = values.find_first_of(" \t\r");
    std::string_view field = values.substr(0, stop);
    values = stop == std::string_view::npos ? std::string_view() : values.substr(stop + 1);
    if (field.empty()) continue;
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

bool Recording::load(const std::string& path, std::string* error, std::string* notice,
                     const std::string& topic) {
  const std::string shown = printable(path);
  platform::InputFile file;
  if (const std::error_code ec = file.open(path)) {
    if (ec == std::errc::is_a_directory)
      *error = "replay file " + shown + " is a folder";
    else if (ec == std::errc::not_supported)
      *error = "replay file " + shown + " is not a regular file (a pipe or a device); name a recording";
    else
      *error = "cannot read replay file " + shown + ": " + platform::errorText(ec);
    return false;
  }
  if (file.size() > kMaxReplayFileBytes) {
    *error = "replay file " + shown + " is larger than " + std::to_string(kMaxReplayFileBytes >> 20) + " MiB";
    return false;
  }
  // The first bytes tell an MCAP recording from lines; they are read once.
  char first[65536];
  const long long got = file.read(first, mcap::kMagic.size());
  if (got < 0) {
    *error = "cannot read replay file " + shown + ": " + platform::errorText(file.lastError());
    return false;
  }
  const std::string_view head(first, static_cast<std::size_t>(got));
  std::size_t headAt = 0;
  // Reads the head again, then the rest of the file.
  auto read = [&](char* out, std::size_t n) -> long long {
    if (headAt < head.size()) {
      const std::size_t take = std::min(n, head.size() - headAt);
      std::copy_n(head.data() + headAt, take, out);
      headAt += take;
      return static_cast<long long>(take);
    }
    return file.read(out, n);
  };
  if (head == mcap::kMagic) {
    std::string why;
    if (!addMcap(read, &why, notice, topic)) {
      *error = "replay file " + shown + ": " + why;
      return false;
    }
    return true;
  }
  // Lines are read in pieces with a bound on the line and the scans, so a
  // file with no newline cannot take all memory.
  std::string line;
  int lineNo = 1;
  std::string why;
  auto add = [&](bool ended) {
    if (!addLine(line, &why)) {
      // A last line without its newline is a recording cut short: the
      // scans before it still replay.
      if (!ended && !empty()) {
        cut_ = where(shown, lineNo) + "left out: " + why;
        if (notice) *notice = cut_;
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
  for (;;) {
    const long long n = read(first, sizeof first);
    if (n < 0) {
      *error = "cannot read replay file " + shown + ": " + platform::errorText(file.lastError());
      return false;
    }
    if (n == 0) break;
    for (long long i = 0; i < n; ++i) {
      if (first[i] != '\n') {
        if (line.size() >= kMaxReplayLineBytes) {
          *error =
              where(shown, lineNo) + "line longer than " + std::to_string(kMaxReplayLineBytes) + " bytes";
          return false;
        }
        line.push_back(first[i]);
        continue;
      }
      if (!add(true)) return false;
      line.clear();
      ++lineNo;
    }
  }
  if (!add(false)) return false;
  if (empty()) {
    *error = "replay file " + shown + " holds no scan";
    return false;
  }
  return true;
}

bool Recording::addMcap(std::string_view bytes, std::string* why, std::string* notice) {
  return addMcap(mcap::readFrom(bytes), why, notice);
}

bool Recording::addMcap(const std::function<long long(char*, std::size_t)>& read, std::string* why,
                        std::string* notice, const std::string& topic) {
  // The raw words replay exactly, flag bits included; a recording without
  // them gives the ranges, and says its words are made from them. Only those
  // two channels of one laser-scan topic are read; every other message is
  // skipped, not kept. Scans of two topics are two scanners, never mixed.
  bool raw = false;
  std::vector<float> ranges;
  std::vector<std::string> topics;  // the laser-scan topics found
  const auto wanted = [&](const mcap::ChannelInfo& c) {
    const std::string_view of = scanTopicOf(c);
    if (of.empty()) return false;
    if (std::find(topics.begin(), topics.end(), of) == topics.end()) topics.emplace_back(of);
    if (!topic.empty() && of != topic) return false;
    if (c.schemaName == "lmsview/RawScan") {
      if (!raw) {
        // Scans rebuilt before the raw channel was named give way to it.
        words_.clear();
        ends_.clear();
        units_.clear();
      }
      raw = true;
      return true;
    }
    return c.schemaName == "sensor_msgs/msg/LaserScan" && c.messageEncoding == "cdr";
  };
  const auto onMessage = [&](const mcap::MessageView& m, std::string* bad) {
    if (topic.empty() && topics.size() > 1) {
      std::string named;
      for (const std::string& t : topics) named += (named.empty() ? "" : ", ") + printable(t);
      *bad = "it holds laser scans of more than one scanner (topics " + named +
             "): name one, as file:PATH?topic=" + printable(topics.front());
      return false;
    }
    if (size() >= kMaxReplayScans) {
      *bad = "more than " + std::to_string(kMaxReplayScans) + " scans; split it";
      return false;
    }
    if (m.channel->schemaName == "lmsview/RawScan") return addLine(m.data, bad);
    if (raw) return true;
    float rangeMax = 0;
    if (!lms::laserScanRangesFromCdr(m.data, &ranges, &rangeMax)) {
      *bad = "a laser-scan message that does not parse";
      return false;
    }
    std::uint16_t w[kMaxScanPoints] = {};
    const int n = std::min(static_cast<int>(ranges.size()), kMaxScanPoints);
    const Units units = scan_json::unitsOfRangeMax(rangeMax);
    const double perMetre = countsPerMetre(units);
    for (int i = 0; i < n; ++i) {
      const float r = ranges[static_cast<std::size_t>(i)];
      w[i] = static_cast<std::uint16_t>(std::isfinite(r) && r > 0 ? std::min(std::lround(r * perMetre), 8191L)
                                                                  : 0);
    }
    add(w, pointsHolding(n), units);
    return true;
  };
  const mcap::ReadResult result = mcap::readRecording(read, wanted, onMessage);
  if (!result.ok) {
    *why = result.why;
    return false;
  }
  if (empty()) {
    if (result.cutShort)
      *why = result.why + ", before its first scan";
    else if (!topic.empty())
      *why = "it holds no laser scan on topic " + printable(topic);
    else
      *why = "it holds no laser scan";
    return false;
  }
  rebuilt_ = !raw;
  std::string said;
  if (result.cutShort) {
    cut_ = result.why + ": it holds " + std::to_string(size()) + " scans";
    said = result.why + ": the scans before it are replayed";
  }
  if (rebuilt_) {
    said += (said.empty() ? "" : "; ") + std::string(
                                             "it holds no raw words: they are made from its ranges, "
                                             "without the words' flag bits");
  }
  if (notice && !said.empty()) *notice = said;
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
