// SPDX-License-Identifier: Apache-2.0
#pragma once

// The exchanges every telegram goes through: send it, wait for the answer and
// tell how it began, and gather the reply that follows an acknowledge.
//
// They run on one thread (the acquisition thread), take the link explicitly
// and keep no state of their own beyond the caller's ReplyCarry.

#include <algorithm>
#include <array>
#include <atomic>
#include <concepts>
#include <cstdint>
#include <cstring>

#include "lms/protocol/reply.h"
#include "lms/protocol/telegram.h"
#include "platform/clock.h"

namespace lms {

// Size of one read of an answer: 802 bytes, or the acknowledge and the
// largest reply where that is longer (a message link hands both over at once).
inline constexpr int kReplyReadSize = kMaxReplyLength + 1 > 802 ? kMaxReplyLength + 1 : 802;
// How long awaitAck waits for the first answer byte. A scanner answers within a
// few milliseconds; a second and a half also covers a slow serial gateway.
inline constexpr int kAckTimeoutMs = 1500;
// Longest single wait that a stop may cut short: a stop ends any exchange
// within this, so closing a scanner never waits for an answer.
inline constexpr int kStopCheckMs = 50;
// On a line, the last stretch of a reply is waited for byte by byte (so the
// reply is taken the moment it is whole); before that, it sleeps.
inline constexpr int kLineTailMs = 10;

// What an exchange needs of a link:
// - write(bytes, n, more): the count written; `more`: the next write follows
//   at once (a network link lets them leave together);
// - hasData(): received data is waiting;
// - read(buffer, n): stores at most n bytes and returns the count of the
//   message or bytes it took (a message link may report more than it stored);
// - waitData(ms, stop): blocks until data is waiting or `ms` pass, or soon
//   after `stop` (when not null) is raised;
// - lost(): the peer or device is gone and nothing more will come;
// - lineMs(bytes): how long `bytes` more need on the line, or 0 where whole
//   messages arrive at once;
// - arrivalNs(i): the host wall-clock time (ns since the epoch) at which
//   byte `i` of the last read arrived.
template <class T>
concept TelegramLink = requires(T& t, const std::uint8_t* in, std::uint8_t* out, int n) {
  { t.write(in, n, true) } -> std::convertible_to<int>;
  { t.hasData() } -> std::convertible_to<bool>;
  { t.read(out, n) } -> std::convertible_to<int>;
  { t.waitData(n, static_cast<const std::atomic<bool>*>(nullptr)) } -> std::convertible_to<bool>;
  { t.lost() } -> std::convertible_to<bool>;
  { t.lineMs(n) } -> std::convertible_to<int>;
  { t.arrivalNs(n) } -> std::convertible_to<std::int64_t>;
};

// The answer being gathered after an acknowledge: the bytes that came behind
// the ACK byte, then the rest of the reply as it arrives, and when its first
// byte arrived. Replies are checked and decoded straight from here.
struct ReplyCarry {
  std::array<std::uint8_t, kReplyReadSize> bytes{};
  int length = 0;
  std::int64_t firstByteNs = 0;  // host wall-clock time the first byte arrived
  void clear() { length = 0; }
};

// How an answer began: ACK; NAK (or a read that gave nothing); another
// byte (line noise, a wrong baud rate, a gateway's banner); nothing in time;
// the link gone; the telegram could not be sent at all; or a stop came first.
enum class AckResult { Ack, Refused, Unexpected, Timeout, LinkLost, NotSent, Stopped };

// The bound of a wait that `stop` (when given) may end but nothing wakes
// at it: the time left, in slices of kStopCheckMs while a stop can come.
inline int stopAwareWait(std::int64_t left, const std::atomic<bool>* stop) {
  return static_cast<int>(stop ? std::min<std::int64_t>(left, kStopCheckMs) : left);
}

// Writes the telegram, then its checksum low byte and high byte: three
// writes. False when the link did not take all of one; the rest is then not
// tried, so a line that takes nothing costs one write's bound, not three.
template <TelegramLink T>
bool sendTelegram(const std::uint8_t* data, int length, T& link) {
  const std::uint16_t crc = lmsCrc16(data, length);
  const std::uint8_t lo = static_cast<std::uint8_t>(crc & 0xFF);
  const std::uint8_t hi = static_cast<std::uint8_t>(crc >> 8);
  return link.write(data, length, true) == length && link.write(&lo, 1, true) == 1 &&
         link.write(&hi, 1, false) == 1;
}

// Input still waiting from an earlier exchange (a late reply, the tail of a
// refused answer) would be taken for the answer to the next telegram. At
// most 16 reads: a link that keeps delivering (a peer that never pauses)
// cannot hold the exchange here; 16 x 802 bytes is more than any late reply.
template <TelegramLink T>
void discardStale(T& link) {
  std::uint8_t scratch[kReplyReadSize];
  for (int i = 0; i < 16 && link.hasData(); ++i) link.read(scratch, kReplyReadSize);
}

// Waits (bounded by `timeoutMs`, and by `stop` when given) for the answer,
// reads it once and tells how it began. Bytes after an ACK stay in `carry`
// so the reply is not lost; after an unexpected first byte `carry` holds the
// answer as it came, for the message.
template <TelegramLink T>
AckResult awaitAck(T& link, ReplyCarry* carry, int timeoutMs = kAckTimeoutMs,
                   const std::atomic<bool>* stop = nullptr) {
  if (carry) carry->clear();
  const std::int64_t deadline = platform::processMillis() + timeoutMs;
  while (!link.hasData()) {
    if (link.lost()) return AckResult::LinkLost;
    if (stop && stop->load(std::memory_order_acquire)) return AckResult::Stopped;
    const std::int64_t left = deadline - platform::processMillis();
    if (left <= 0) return AckResult::Timeout;
    link.waitData(static_cast<int>(left), stop);
  }
  ReplyCarry scratch;
  ReplyCarry& into = carry ? *carry : scratch;
  const int n = std::min(link.read(into.bytes.data(), kReplyReadSize), kReplyReadSize);
  if (n <= 0 || into.bytes[0] == kNak) return AckResult::Refused;
  if (into.bytes[0] != kAck) {
    into.length = n;
    return AckResult::Unexpected;
  }
  std::memmove(into.bytes.data(), into.bytes.data() + 1, static_cast<std::size_t>(n - 1));
  into.length = n - 1;
  // The reply began in the read that brought the acknowledge.
  if (into.length > 0) into.firstByteNs = link.arrivalNs(1);
  return AckResult::Ack;
}

// True when the answer began with ACK. `expected` and `expectedLength` name the
// reply the caller expects; only the first byte decides.
template <TelegramLink T>
bool waitAck(const std::uint8_t* expected, int expectedLength, T& link, ReplyCarry* carry = nullptr) {
  (void)expected;
  (void)expectedLength;
  return awaitAck(link, carry) == AckResult::Ack;
}

// Appends what the link holds now to `carry`; false when nothing came.
template <TelegramLink T>
bool readMore(T& link, ReplyCarry& carry) {
  if (!link.hasData()) return false;
  const int room = kReplyReadSize - carry.length;
  const int n = link.read(carry.bytes.data() + carry.length, room);
  if (n <= 0) return false;
  if (carry.length == 0) carry.firstByteNs = link.arrivalNs(0);
  carry.length += std::min(n, room);
  return true;
}

// Gathers the rest of a short reply telegram behind what `carry` holds (an
// answer to a configuration telegram), until it is whole or `deadline`
// (process milliseconds) passes; true when whole.
template <TelegramLink T>
bool collectTelegram(T& link, ReplyCarry& carry, std::int64_t deadline,
                     const std::atomic<bool>* stop = nullptr) {
  while (wholeTelegramLength(carry.bytes.data(), carry.length) == 0 && carry.length < kReplyReadSize) {
    if (readMore(link, carry)) continue;
    const std::int64_t left = deadline - platform::processMillis();
    if (left <= 0 || link.lost() || (stop && stop->load(std::memory_order_acquire))) return false;
    link.waitData(static_cast<int>(left), stop);
  }
  return wholeTelegramLength(carry.bytes.data(), carry.length) > 0;
}

// Gathers the measurement reply behind what `carry` holds, as it arrives,
// until the carry holds a whole reply (true) or something that cannot become
// one, `deadline` (process milliseconds) passes, the link is gone, or `stop`
// (when given) is raised. Over a message link this takes a reply that a
// gateway split into several messages one by one; on a serial line it sleeps
// for the time the rest needs at the baud rate instead of waking for each
// byte, and waits for the data itself only over the last kLineTailMs.
template <TelegramLink T>
bool collectReply(T& link, ReplyCarry& carry, std::int64_t deadline,
                  const std::atomic<bool>* stop = nullptr) {
  for (;;) {
    const int whole = measurementReplyLength(carry.bytes.data(), carry.length);
    if (whole < 0) return false;
    if (whole > 0 && carry.length >= whole) return true;
    if (stop && stop->load(std::memory_order_acquire)) return false;
    if (readMore(link, carry)) continue;
    const std::int64_t left = deadline - platform::processMillis();
    if (left <= 0 || link.lost()) return false;
    const int wait = stopAwareWait(left, stop);
    // Until the header names the reply's length, the shortest variant's is the bound.
    const int rest = (whole > 0 ? whole : kRangeOffset + 2 * kMinScanPoints + 3) - carry.length;
    const int line = carry.length > 0 ? link.lineMs(rest) : 0;
    if (line > kLineTailMs)
      platform::sleepMs(std::min(wait, line - kLineTailMs));
    else
      link.waitData(static_cast<int>(left), stop);
  }
}

}  // namespace lms
