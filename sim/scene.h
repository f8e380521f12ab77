#pragma once

// What the emulated scanner sees: a room with three walls a few metres away
// and a round object that moves a little from scan to scan. Deterministic:
// the same seed and scan index always give the same range words. Ranges are
// raw 13-bit values (0..8191); some words carry flag bits in their top three
// bits, which a reader must ignore.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lms/scan.h"

namespace sim {

using lms::kScanPoints;

using RangeWords = std::array<std::uint16_t, kScanPoints>;

class Scene {
 public:
  explicit Scene(std::uint32_t seed = 1);
  RangeWords scan(std::int64_t index) const;

 private:
  std::uint32_t seed_;
  double left_, right_, back_;  // wall distances
  double phase_;
};

// Bounds on a replay file, so a file with no newline cannot take all memory.
inline constexpr std::int64_t kMaxReplayFileBytes = std::int64_t{256} << 20;
inline constexpr std::size_t kMaxReplayLineBytes = 64 * 1024;
// A short line is a whole scan in memory (722 bytes), so the number of scans
// is bounded too: about 50 MB of them.
inline constexpr std::size_t kMaxReplayScans = 65536;

// Range words replayed from a file, one scan per line: either up to 361
// whitespace-separated values (decimal, or hexadecimal after 0x; missing
// values are 0), or a JSON line that lmsview --record wrote, whose "words"
// are sent. Scans repeat.
class ReplayScans {
 public:
  // False, with a one-line reason in *error, when the file cannot be used.
  // A last line cut short (a recording whose run was killed, a full disk)
  // is left out, with a one-line notice in *notice.
  bool load(const std::string& path, std::string* error, std::string* notice = nullptr);
  // One line of such a file; false with the reason in *why.
  bool addLine(std::string_view line, std::string* why);
  bool empty() const { return scans_.empty(); }
  RangeWords scan(std::int64_t index) const;
  std::size_t size() const { return scans_.size(); }

 private:
  std::vector<RangeWords> scans_;
};

}  // namespace sim
