// SPDX-License-Identifier: Apache-2.0
#include "sim/emulated_scanner.h"

#include <algorithm>
#include <cstdio>

#include "lms/protocol/telegram.h"

namespace sim {

using lms::kAck;
using lms::kConfigBytes;
using lms::kNak;
using lms::lmsCrc16;

const char* scanFateName(ScanFate fate) {
  switch (fate) {
    case ScanFate::Sent:
      return "sent";
    case ScanFate::CorruptChecksum:
      return "corrupt-checksum";
    case ScanFate::FlippedByte:
      return "flipped-byte";
    case ScanFate::Short:
      return "short";
    case ScanFate::Oversize:
      return "oversize";
  }
  return "?";
}

std::vector<std::uint8_t> withChecksum(std::vector<std::uint8_t> body) {
  const std::uint16_t crc = lmsCrc16(body.data(), static_cast<int>(body.size()));
  body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  body.push_back(static_cast<std::uint8_t>(crc >> 8));
  return body;
}

std::vector<std::uint8_t> measurementReply(const RangeWords& words, lms::Units units) {
  // The length counts the command, the count word, the words and the status
  // byte; reply command 0xB0, then the value count and the unit's code.
  const auto n = static_cast<int>(words.size());
  const int length = 4 + 2 * n;
  const int count = n | (static_cast<int>(units) << 14);
  std::vector<std::uint8_t> r{0x02,
                              0x80,
                              static_cast<std::uint8_t>(length & 0xFF),
                              static_cast<std::uint8_t>(length >> 8),
                              lms::kMeasurementReply,
                              static_cast<std::uint8_t>(count & 0xFF),
                              static_cast<std::uint8_t>(count >> 8)};
  r.reserve(static_cast<std::size_t>(length) + 6);
  for (std::uint16_t w : words) {
    r.push_back(static_cast<std::uint8_t>(w & 0xFF));
    r.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  r.push_back(0x10);  // status
  return withChecksum(std::move(r));
}

int turnsPerScan(int points) {
  const lms::Variant* v = lms::variantOf(points);
  return v ? 100 / v->resolutionHundredths : 2;
}

EmulatedScanner::EmulatedScanner(const SimFaults& faults, std::uint32_t seed, const ReplayScans* replay,
                                 SimSetup setup)
    : configured_(faults),
      faults_(faults),
      rng_(faults.chaosSeed | 1u),
      scene_(seed),
      replay_(replay),
      setup_(setup) {
  scene_.place(setup.poseX, setup.poseY, setup.poseYawDeg);
}

std::uint32_t EmulatedScanner::nextRandom() {
  // xorshift32: small, deterministic, good enough to pick faults.
  rng_ ^= rng_ << 13;
  rng_ ^= rng_ >> 17;
  rng_ ^= rng_ << 5;
  return rng_;
}

void EmulatedScanner::drawChaos(std::int64_t nowMs) {
  faults_ = configured_;
  if (configured_.chaosPercent <= 0 || static_cast<int>(nextRandom() % 100) >= configured_.chaosPercent)
    return;
  switch (nextRandom() % 10) {
    case 0:
      faults_.nakEvery = 1;
      break;
    case 1:
      faults_.corruptCrcEvery = 1;
      break;
    case 2:
      faults_.flipByteEvery = 1;
      break;
    case 3:
      faults_.shortEvery = 1;
      faults_.shortLength = static_cast<int>(nextRandom() % (7 + 2 * setup_.points + 2));
      break;
    case 4:
      faults_.chunkSize = 1 + static_cast<int>(nextRandom() % 200);
      faults_.chunkGapMs = static_cast<int>(nextRandom() % 90);
      break;
    case 5:
      faults_.ackGapMs = static_cast<int>(nextRandom() % 1500);
      break;
    case 6:
      faults_.garbageBytes = 1 + static_cast<int>(nextRandom() % 20);
      faults_.garbageEvery = 1;
      break;
    case 7:
      faults_.oversizeEvery = 1;
      break;
    case 8:
      // A short silence: this request and those of the next few seconds go unanswered.
      if (!silent_) {
        silent_ = true;
        silentUntil_ = nowMs + 500 + nextRandom() % 4000;
        ++counters_.faults;
      }
      break;
    default:
      break;  // a clean answer
  }
}

std::vector<std::uint8_t> EmulatedScanner::replyTo(const ParsedTelegram& t, bool& known) {
  const auto data = t.data();
  known = true;
  switch (t.command()) {
    case 0x20:  // operating mode, installation mode with password
      return withChecksum({0x02, 0x80, 0x03, 0x00, 0xA0, 0x00, 0x10});
    case 0x31:
      return withChecksum({0x02, 0x80, 0x02, 0x00, 0xB1, 0x10});
    case 0x3B:  // variant switch: its status (1: switched) and the angle and resolution
      if (data.size() == 4) {
        const int field = data[0] | (data[1] << 8);
        const int resolution = data[2] | (data[3] << 8);
        const lms::Variant* v = nullptr;
        for (const lms::Variant& each : lms::variants())
          if (each.fieldDegrees == field && each.resolutionHundredths == resolution) v = &each;
        const bool switched = v != nullptr && !faults_.refuseVariant;
        if (switched) setup_.points = v->points;  // the next replies follow
        return withChecksum({0x02, 0x80, 0x07, 0x00, 0xBB, static_cast<std::uint8_t>(switched ? 0x01 : 0x00),
                             data[0], data[1], data[2], data[3], 0x10});
      }
      break;
    case 0x77:  // configuration: echo it
      if (data.size() == static_cast<std::size_t>(kConfigBytes)) {
        std::vector<std::uint8_t> r{0x02, 0x80, 0x25, 0x00, 0xF7, 0x01};
        r.insert(r.end(), data.begin(), data.end());
        r.push_back(0x10);
        return withChecksum(std::move(r));
      }
      break;
    default:
      break;
  }
  known = false;
  return {};
}

void EmulatedScanner::planAnswer(std::vector<std::uint8_t> reply, std::vector<Piece>& plan,
                                 bool measurement) {
  ++answers_;
  std::vector<std::uint8_t> head;
  if (faults_.garbageBytes > 0 && every(faults_.garbageEvery, answers_)) {
    for (int i = 0; i < faults_.garbageBytes; ++i) head.push_back(static_cast<std::uint8_t>(0xA5 ^ i));
    ++counters_.faults;
  }
  head.push_back(kAck);
  ++counters_.acks;
  if (faults_.oversizeEvery > 0 && measurement && every(faults_.oversizeEvery, counters_.scans)) {
    reply.insert(reply.end(), 400, 0xEE);
  }
  if (faults_.ackGapMs > 0 || reply.empty()) {
    plan.push_back({0, std::move(head)});
    head.clear();
  }
  const std::size_t step = faults_.chunkSize > 0 ? static_cast<std::size_t>(faults_.chunkSize) : reply.size();
  for (std::size_t at = 0; at < reply.size(); at += step) {
    Piece p;
    p.delayMs = at == 0 ? faults_.ackGapMs : faults_.chunkGapMs;
    p.bytes = std::move(head);
    head.clear();
    const std::size_t end = std::min(reply.size(), at + step);
    p.bytes.insert(p.bytes.end(), reply.begin() + static_cast<std::ptrdiff_t>(at),
                   reply.begin() + static_cast<std::ptrdiff_t>(end));
    plan.push_back(std::move(p));
  }
}

void EmulatedScanner::handle(const ParsedTelegram& t, std::int64_t nowMs, std::vector<Piece>& plan) {
  modeNote_.clear();
  if (!t.checksumOk) {
    ++counters_.badChecksum;
    ++counters_.naks;
    plan.push_back({0, {kNak}});
    lastAction_ = "checksum mismatch: NAK";
    return;
  }
  ++counters_.requests;
  if (configured_.chaosPercent > 0) drawChaos(nowMs);
  // Silence: after N requests, for a while or for ever.
  if (!silent_ && !silenceDone_ && faults_.silentAfter >= 0 && counters_.requests > faults_.silentAfter) {
    silent_ = true;
    silentUntil_ = nowMs + faults_.silentForMs;
    ++counters_.faults;
  }
  if (silent_ && (faults_.silentForMs > 0 || configured_.chaosPercent > 0) && nowMs >= silentUntil_) {
    silent_ = false;
    silenceDone_ = configured_.chaosPercent == 0;
  }
  if (silent_) {
    ++counters_.ignored;
    lastAction_ = "request ignored (silent)";
    return;
  }
  if (every(faults_.nakEvery, counters_.requests)) {
    ++counters_.naks;
    ++counters_.faults;
    plan.push_back({0, {kNak}});
    lastAction_ = "request refused: NAK";
    return;
  }
  if (t.command() == 0x30) {
    const std::int64_t scanNo = counters_.scans++;
    const RangeWords words0 = replay_ && !replay_->empty()
                                  ? replay_->scan(scanNo)
                                  : scene_.scan(scanNo, setup_.points, lms::countsPerMetre(setup_.units));
    RangeWords words = words0;
    ScanFate fate = ScanFate::Sent;
    const std::int64_t nth = counters_.scans;
    if (every(faults_.flipByteEvery, nth)) {
      words[100] = static_cast<std::uint16_t>(words[100] ^ 0x0055);
      fate = ScanFate::FlippedByte;
    }
    std::vector<std::uint8_t> reply = measurementReply(words, setup_.units);
    if (every(faults_.corruptCrcEvery, nth)) {
      reply.back() ^= 0x5A;
      fate = ScanFate::CorruptChecksum;
    }
    if (every(faults_.shortEvery, nth)) {
      reply.resize(
          std::clamp<std::size_t>(static_cast<std::size_t>(faults_.shortLength), 0, reply.size() - 1));
      fate = ScanFate::Short;
    }
    if (faults_.oversizeEvery > 0 && every(faults_.oversizeEvery, nth)) fate = ScanFate::Oversize;
    if (fate != ScanFate::Sent) ++counters_.faults;
    if (onScan) onScan(scanNo, fate, words);
    planAnswer(std::move(reply), plan, true);
    lastAction_ = "scan " + std::to_string(scanNo) + " " + scanFateName(fate);
    if (faults_.closeAfter > 0 && counters_.scans >= faults_.closeAfter) {
      closeNow_ = true;
      ++counters_.faults;
    }
    return;
  }
  const int rate = t.command() == 0x20 && t.data().size() == 1 ? lms::baudOfModeCode(t.data()[0]) : 0;
  if (t.command() == 0x20 && t.data().size() == 1) {
    const std::uint8_t mode = t.data()[0];
    char note[80];
    std::snprintf(note, sizeof note, "operating mode 0x%02X%s", mode,
                  mode == lms::kModeContinuous ? ": continuous output"
                  : mode == lms::kModeStop     ? ": end of continuous output"
                  : rate != 0                  ? ": line rate"
                                               : "");
    modeNote_ = note;
    if (mode == lms::kModeStop && setup_.streaming) lateStop_ = faults_.lateStopAck;
    if (mode == lms::kModeContinuous) setup_.streaming = true;
    if (mode == lms::kModeStop) setup_.streaming = false;
  }
  if (rate != 0 && faults_.refuseRate) {
    ++counters_.naks;
    ++counters_.faults;
    plan.push_back({0, {kNak}});
    lastAction_ = "rate change to " + std::to_string(rate) + " refused: NAK";
    return;
  }
  bool known = false;
  std::vector<std::uint8_t> reply = replyTo(t, known);
  if (!known) {
    ++counters_.naks;
    plan.push_back({0, {kNak}});
    lastAction_ = "unknown command: NAK";
    return;
  }
  char text[48];
  std::snprintf(text, sizeof text, "command 0x%02X answered", t.command());
  lastAction_ = text;
  if (rate != 0) {
    rateChange_ = rate;  // once the answer is out, at the old rate
    lastAction_ += ": line now at " + std::to_string(rate) + " baud";
  }
  planAnswer(std::move(reply), plan, false);
}

}  // namespace sim

namespace sim {

std::vector<std::uint8_t> EmulatedScanner::streamTelegram() {
  const std::int64_t scanNo = counters_.scans++;
  ++streamed_;
  const RangeWords words = replay_ && !replay_->empty()
                               ? replay_->scan(scanNo)
                               : scene_.scan(scanNo, setup_.points, lms::countsPerMetre(setup_.units));
  std::vector<std::uint8_t> out;
  ScanFate fate = ScanFate::Sent;
  if (every(faults_.streamGarbageEvery, streamed_)) {
    for (int i = 0; i < std::max(faults_.garbageBytes, 13); ++i)
      out.push_back(static_cast<std::uint8_t>(i % 3 == 0 ? 0x02 : 0x80 ^ i));  // false starts among them
    ++counters_.faults;
  }
  std::vector<std::uint8_t> reply = measurementReply(words, setup_.units);
  if (every(faults_.streamCutEvery, streamed_)) {
    reply.resize(reply.size() / 2);
    fate = ScanFate::Short;
    ++counters_.faults;
  }
  out.insert(out.end(), reply.begin(), reply.end());
  if (onScan) onScan(scanNo, fate, words);
  lastAction_ = "streamed scan " + std::to_string(scanNo) + " " + scanFateName(fate);
  return out;
}

}  // namespace sim
