// SPDX-License-Identifier: Apache-2.0
#pragma once

// Cuts a byte stream into messages by silence: a message is everything that
// arrives in one burst, and it is closed once 50 ms pass without new bytes.
// Times are milliseconds from one monotonic clock, passed in by the caller, so
// the rule can be driven exactly. Not thread-safe: the owner serialises calls.
//
// A caller that knows when a message is whole may pass a check: a burst that
// begins with a whole message by that check is published as soon as its last
// byte arrives, and the bytes after it start the next message. Without a
// check, or for bytes the check does not recognise, the silence rule alone
// applies. The framer itself knows nothing of what a message holds.

#include <cstdint>

namespace transport {

inline constexpr int kMessageCapacity = 1000;
inline constexpr int kMaxReceive = 999;
inline constexpr int kSilenceMs = 50;

// The length of the whole message at the start of `bytes`, or 0 when there
// is none (yet).
using MessageCheck = int (*)(const std::uint8_t* bytes, int length);

// The silence rule: elapsed seconds, as a float, above 0.05. Because 50/1000 in
// single precision lies just above 0.05, a gap of 50 ms counts and 49 ms does not.
bool silenceCounts(std::int64_t earlier, std::int64_t later);

class SilenceFramer {
 public:
  // Adds one received chunk (1..999 bytes) that arrived at `now`. A chunk after
  // a counting gap, and the first chunk of all, starts a new message. Bytes that
  // would carry a message past 1000 bytes are dropped (and counted): messages up
  // to 1000 bytes pass unchanged, longer bursts keep their first 1000 bytes.
  // With a check, whole messages move to the ready slot at once while it is
  // free; returns how many did. `arrivalNs` (host wall-clock time, any unit
  // the caller likes) is kept for the first two bytes of each message.
  int addChunk(const std::uint8_t* data, int length, std::int64_t now, std::int64_t arrivalNs = 0);

  void setMessageCheck(MessageCheck check) { check_ = check; }

  // The publication step. When a chunk is pending and the silence since it
  // counts, the message moves to the ready slot if the slot is free (otherwise
  // it is dropped and counted) and the chunk stops pending. True if published.
  bool publishIfDue(std::int64_t now);

  bool pending() const { return pending_; }
  // The earliest time at which publishIfDue can act on the pending chunk.
  std::int64_t dueTime() const { return chunkTime_ + kSilenceMs; }

  bool ready() const { return ready_; }
  // Copies at most `wanted` bytes of the ready message, empties the slot and
  // returns the message's full length. Returns 0 when the slot is empty. A
  // whole message (by the check) that waited for the slot takes it at once.
  // `arrivals`, when given, gets the arrival of the message's bytes 0 and 1
  // (the time of the chunks that brought them; after a message was cut from
  // the front of a burst, the rest's are the burst's last chunk's).
  int readReady(std::uint8_t* destination, int wanted, std::int64_t* arrivals = nullptr);

  // Takes the bytes gathered for the next message, whole or not (at most
  // `wanted`; the rest go), for a caller that stops framing by silence.
  int takeGathered(std::uint8_t* destination, int wanted);

  std::int64_t droppedMessages() const { return droppedMessages_; }
  std::int64_t droppedBytes() const { return droppedBytes_; }

 private:
  int publishWhole();

  MessageCheck check_ = nullptr;
  std::uint8_t message_[kMessageCapacity];
  int messageLen_ = 0;
  std::int64_t arrival_[2] = {};  // of message_'s bytes 0 and 1
  std::int64_t lastArrival_ = 0;
  std::uint8_t readyBuf_[kMessageCapacity];
  int readyLen_ = 0;
  std::int64_t readyArrival_[2] = {};
  bool ready_ = false;
  bool pending_ = false;
  bool anyChunk_ = false;
  std::int64_t chunkTime_ = 0;
  std::int64_t checkTime_ = 0;
  std::int64_t droppedMessages_ = 0;
  std::int64_t droppedBytes_ = 0;
};

}  // namespace transport
