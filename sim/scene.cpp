#include "sim/scene.h"

#include "platform/error.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>

namespace sim {

using platform::printable;

namespace {

std::uint32_t mix(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

}  // namespace

Scene::Scene(std::uint32_t seed) : seed_(seed) {
  left_ = 1800.0 + mix(seed) % 1500;
  right_ = 2000.0 + mix(seed + 1) % 1500;
  back_ = 3500.0 + mix(seed + 2) % 3000;
  phase_ = (mix(seed + 3) % 628) / 100.0;
}

RangeWords Scene::scan(std::int64_t index) const {
  RangeWords words{};
  const double t = static_cast<double>(index) * 0.15 + phase_;
  const double ox = 900.0 * std::sin(t);  // object centre, millimetres
  const double oy = 0.55 * back_ + 400.0 * std::cos(t * 0.7);
  const double radius = 250.0;
  for (int i = 0; i < kScanPoints; ++i) {
    const double a = i * 0.5 * std::numbers::pi / 180.0;
    const double dx = std::cos(a);
    const double dy = std::sin(a);
    double d = 8191.0;
    if (dx > 1e-9) d = std::min(d, right_ / dx);
    if (dx < -1e-9) d = std::min(d, left_ / -dx);
    if (dy > 1e-9) d = std::min(d, back_ / dy);
    // Ray against the object's circle.
    const double b = dx * ox + dy * oy;
    const double c = ox * ox + oy * oy - radius * radius;
    const double disc = b * b - c;
    if (disc >= 0) {
      const double hit = b - std::sqrt(disc);
      if (hit > 0) d = std::min(d, hit);
    }
    const std::uint32_t h = mix(seed_ ^ static_cast<std::uint32_t>(index * 7919 + i));
    d += static_cast<double>(h % 11) - 5.0;  // a little measurement noise
    int raw = static_cast<int>(std::lround(std::clamp(d, 0.0, 8191.0)));
    std::uint16_t w = static_cast<std::uint16_t>(raw);
    if ((i + index) % 37 == 0) w = static_cast<std::uint16_t>(w | ((h >> 8) & 0x7) << 13);
    words[static_cast<std::size_t>(i)] = w;
  }
  return words;
}

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

bool ReplayScans::addLine(std::string_view line, std::string* why) {
  std::size_t at = 0;
  while (at < line.size() && isSpace(line[at])) ++at;
  if (at == line.size()) return true;  // blank
  RangeWords w{};
  int n = 0;
  std::string_view values = line.substr(at);
  char separator = ' ';
  if (line[at] == '{') {
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
    if (n >= kScanPoints || !parseWord(field, &w[static_cast<std::size_t>(n)])) {
      *why = "expected at most 361 values from 0 to 65535 (decimal, or hexadecimal after 0x)";
      return false;
    }
    ++n;
  }
  if (n > 0) scans_.push_back(w);
  return true;
}

bool ReplayScans::load(const std::string& path, std::string* error, std::string* notice) {
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
      if (!ended && !scans_.empty()) {
        if (notice) *notice = where(shown, lineNo) + "left out: " + why;
        return true;
      }
      *error = where(shown, lineNo) + why;
      return false;
    }
    if (scans_.size() > kMaxReplayScans) {
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
  if (scans_.empty()) {
    *error = "replay file " + shown + " holds no scan";
    return false;
  }
  return true;
}

RangeWords ReplayScans::scan(std::int64_t index) const {
  return scans_[static_cast<std::size_t>(index % static_cast<std::int64_t>(scans_.size()))];
}

}  // namespace sim
