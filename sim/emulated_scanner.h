// SPDX-License-Identifier: Apache-2.0
#pragma once

// The scanner's side of the protocol, without any I/O: takes the telegrams a
// scanner receives and plans what it sends back (bytes, and the pause before
// each piece), with faults injected on request. One thread uses an engine.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "lms/protocol/reply.h"
#include "sim/scene.h"
#include "sim/telegram_parser.h"

namespace sim {

struct SimFaults {
  int nakEvery = 0;             // refuse every Nth request with NAK
  int silentAfter = -1;         // answer nothing once N requests have been served (-1: never)
  int silentForMs = 0;          // ... for this long, then answer again (0: for ever)
  int corruptCrcEvery = 0;      // spoil the checksum of every Nth measurement reply
  int flipByteEvery = 0;        // change a range byte of every Nth reply, checksum kept valid
  int shortEvery = 0;           // cut every Nth reply short ...
  int shortLength = 400;        // ... to this many bytes
  int chunkSize = 0;            // send replies in chunks of K bytes ...
  int chunkGapMs = 0;           // ... with G ms between them
  int ackGapMs = 0;             // pause between the ACK and the reply (0: one burst)
  int garbageBytes = 0;         // bytes of garbage before the ACK ...
  int garbageEvery = 1;         // ... of every Nth answer
  int closeAfter = 0;           // close the connection after N measurement replies
  int oversizeEvery = 0;        // make every Nth measurement answer a burst over 1000 bytes
  int refuseRate = 0;           // refuse (NAK) the telegrams that would change the line's rate
  int refuseVariant = 0;        // answer variant telegrams with "not switched"
  int chaosPercent = 0;         // give this share of requests one fault picked at random ...
  std::uint32_t chaosSeed = 1;  // ... from this seed (for soak runs)
  // Continuous output:
  int streamGarbageEvery = 0;  // garbage bytes before every Nth streamed telegram
  int streamCutEvery = 0;      // every Nth streamed telegram cut short
  bool lateStopAck = false;    // the stop's acknowledge after one more telegram
};

struct SimCounters {
  std::int64_t requests = 0;     // telegrams with a valid checksum
  std::int64_t badChecksum = 0;  // telegrams refused for their checksum
  std::int64_t acks = 0;         // answers that began with ACK
  std::int64_t naks = 0;         // answers that were NAK
  std::int64_t scans = 0;        // measurement replies sent (whatever their faults)
  std::int64_t ignored = 0;      // requests left unanswered while silent
  std::int64_t faults = 0;       // faults injected
};

// What became of one measurement reply.
enum class ScanFate { Sent, CorruptChecksum, FlippedByte, Short, Oversize };
const char* scanFateName(ScanFate fate);

struct Piece {
  int delayMs = 0;  // pause before these bytes
  std::vector<std::uint8_t> bytes;
};

// A whole measurement reply carrying `words` (as many points as there are
// words) in `units`, which its count word states.
std::vector<std::uint8_t> measurementReply(const RangeWords& words,
                                           lms::Units units = lms::Units::Millimetres);

// What the emulated scanner is set to: the points of its variant, the unit
// it reports ranges in, and whether it streams from the start.
struct SimSetup {
  int points = 361;
  lms::Units units = lms::Units::Millimetres;
  bool streaming = false;
  // Where the scanner stands in the scene's room: metres, degrees.
  double poseX = 0, poseY = 0, poseYawDeg = 0;
};

// The scanner's mirror turns 75 times a second; a scan takes one turn at
// 1 degree, two at 0.5 and four at 0.25 (interlaced).
inline constexpr int kMirrorTurnsPerSecond = 75;
int turnsPerScan(int points);
// Appends the checksum to a telegram body.
std::vector<std::uint8_t> withChecksum(std::vector<std::uint8_t> body);

class EmulatedScanner {
 public:
  EmulatedScanner(const SimFaults& faults, std::uint32_t seed, const ReplayScans* replay = nullptr,
                  SimSetup setup = {});

  // Plans the answer to one telegram received at `nowMs`.
  void handle(const ParsedTelegram& telegram, std::int64_t nowMs, std::vector<Piece>& plan);
  // The connection is to be closed once the plan has been sent.
  bool closeNow() const { return closeNow_; }
  // The line's new rate once the plan has been sent (an acknowledged
  // operating-mode telegram asked for it), or 0; taking it clears it.
  int takeRateChange() { return std::exchange(rateChange_, 0); }
  const SimCounters& counters() const { return counters_; }
  // The variant's points the scanner is set to now (a variant telegram changes it).
  int points() const { return setup_.points; }
  // Continuous output: whether it is on (an operating-mode telegram turns
  // it on or off), and the next streamed telegram: the scan's reply (with
  // the streaming faults), numbered as the replies to requests are.
  bool streaming() const { return setup_.streaming; }
  std::vector<std::uint8_t> streamTelegram();
  // A stop of the stream that is to be acknowledged only after one more
  // telegram (the fault); taking it clears it.
  bool takeLateStop() { return std::exchange(lateStop_, false); }
  // One line for an operating-mode telegram just handled, or "".
  const std::string& modeNote() const { return modeNote_; }
  // One line describing the last exchange, for the verbose log.
  const std::string& lastAction() const { return lastAction_; }
  // Called for every measurement reply, with the words as sent.
  std::function<void(std::int64_t scanNo, ScanFate fate, const RangeWords& words)> onScan;

 private:
  static bool every(int n, std::int64_t count) { return n > 0 && count % n == 0; }
  std::vector<std::uint8_t> replyTo(const ParsedTelegram& t, bool& known);
  void planAnswer(std::vector<std::uint8_t> reply, std::vector<Piece>& plan, bool measurement);

  // Picks this request's faults when chaos is on: the configured ones plus at
  // most one drawn at random.
  void drawChaos(std::int64_t nowMs);
  std::uint32_t nextRandom();

  SimFaults configured_;
  SimFaults faults_;
  std::uint32_t rng_;
  Scene scene_;
  const ReplayScans* replay_;
  SimSetup setup_;
  SimCounters counters_;
  std::int64_t answers_ = 0;
  bool silent_ = false;
  bool silenceDone_ = false;
  std::int64_t silentUntil_ = 0;
  bool closeNow_ = false;
  int rateChange_ = 0;
  std::string lastAction_;
  std::string modeNote_;
  bool lateStop_ = false;
  std::int64_t streamed_ = 0;
};

}  // namespace sim
