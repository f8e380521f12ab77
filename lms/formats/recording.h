// SPDX-License-Identifier: Apache-2.0
#pragma once

// Recordings of scans: files of range words, one scan a line (plain numbers,
// or the JSON lines lmsview --record writes), and MCAP recordings (lmsview
// --record FILE.mcap). The emulator replays them; the library reads them as
// a link ("file:RECORDING").

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "lms/protocol/reply.h"

namespace lms {

// The raw range words of one scan, as many as the scan has points.
using RangeWords = std::vector<std::uint16_t>;

// Bounds on a replay file, so no file can take all memory (an MCAP
// recording is read chunk by chunk within the format's own bound).
inline constexpr std::int64_t kMaxReplayFileBytes = std::int64_t{256} << 20;
inline constexpr std::size_t kMaxReplayLineBytes = 64 * 1024;
// A short line is a whole scan in memory (722 bytes), so the number of scans
// is bounded too: about 50 MB of them.
inline constexpr std::size_t kMaxReplayScans = 65536;

// Range words replayed from a file, one scan per line: either
// whitespace-separated values (decimal, or hexadecimal after 0x), or a JSON
// line that lmsview --record wrote, whose "words" are sent. A line with
// fewer values than a scan of the scanner has is filled with 0 up to the
// next such scan. Scans repeat.
class Recording {
 public:
  // False, with a one-line reason in *error, when the file cannot be used.
  // A last line cut short (a recording whose run was killed, a full disk)
  // is left out, with a one-line notice in *notice. An MCAP recording
  // (lmsview --record FILE.mcap) gives the raw words of its TOPIC/raw
  // channel, or the ranges of its laser-scan messages when it has none.
  // An MCAP recording with laser scans on more than one topic (several
  // scanners) is refused with the topics named, unless `topic` names one.
  bool load(const std::string& path, std::string* error, std::string* notice = nullptr,
            const std::string& topic = "");
  // The scans of an MCAP recording read from `read` (at most n bytes a call;
  // 0 at the end), or of its bytes in memory; as load().
  bool addMcap(const std::function<long long(char*, std::size_t)>& read, std::string* why,
               std::string* notice, const std::string& topic = "");
  bool addMcap(std::string_view bytes, std::string* why, std::string* notice);
  // One line of such a file; false with the reason in *why.
  bool addLine(std::string_view line, std::string* why);
  bool empty() const { return ends_.empty(); }
  // Scan `index` (the recording repeats: any index is one of its scans).
  RangeWords scan(std::int64_t index) const;
  // The range unit scan `index` was recorded in (its range_max says; a
  // plain line is millimetres).
  Units units(std::int64_t index) const;
  std::size_t size() const { return ends_.size(); }
  // The recording held no raw words (an MCAP recording without its raw
  // channel): its words were made from its ranges, the flag bits lost.
  bool wordsRebuilt() const { return rebuilt_; }
  // The recording was cut short (a run killed, a full disk): the scans
  // before the cut are its scans. One line saying so, or "".
  const std::string& cut() const { return cut_; }

 private:
  void add(const std::uint16_t* words, int count, Units units);

  // Every scan's words one after another, where each scan ends, and its unit.
  std::vector<std::uint16_t> words_;
  std::vector<std::size_t> ends_;
  std::vector<Units> units_;
  bool rebuilt_ = false;
  std::string cut_;
};

}  // namespace lms
