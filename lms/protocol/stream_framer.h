// SPDX-License-Identifier: Apache-2.0
#pragma once

// Cuts the scanner's continuous output into telegrams by the telegrams' own
// framing: the start byte, the reply address, the length field (bounded by
// the longest telegram the scanner sends) and the checksum. No silence rule:
// at full rate the gaps between telegrams last a few bytes' time.
//
// A false start (noise that holds 0x02 0x80, a telegram cut short) costs one
// byte: the search resumes at the byte after it, so the next good telegram
// is never lost however the noise falls. A single ACK byte in front of a
// telegram is the scanner's acknowledge, not noise; every other byte that no
// telegram holds is counted as discarded.
//
// Each byte's arrival is known from the reads that brought it: a read's last
// byte arrived when the read returned, and on a serial line the bytes before
// it one byte time apart, so a telegram is stamped at its first byte.
//
// Not thread-safe: one thread (the acquisition thread) uses a framer.

#include <array>
#include <cstdint>
#include <span>

#include "lms/protocol/reply.h"

namespace lms {

class StreamFramer {
 public:
  // The longest telegram the scanner sends: a reply of 401 points.
  static constexpr int kMaxTelegram = kMaxReplyLength;
  static constexpr int kCapacity = 4096;

  struct Telegram {
    const std::uint8_t* bytes = nullptr;  // start byte to checksum; valid until the next call
    int length = 0;
    std::int64_t firstNs = 0;  // when its first byte arrived (wall clock, ns)
    bool acked = false;        // an ACK byte came right before it
    std::uint8_t command() const { return bytes[4]; }
  };

  // Where the next read goes: at least kCapacity - kMaxTelegram bytes.
  std::span<std::uint8_t> space();
  // `n` bytes were read into space(); the last arrived at `lastNs`, the
  // others `nsPerByte` apart before it (0: all at once, as a TCP chunk).
  void commit(int n, std::int64_t lastNs, std::int64_t nsPerByte);
  // Adds bytes read elsewhere (the answer an exchange took), as commit().
  void add(const std::uint8_t* bytes, int n, std::int64_t lastNs, std::int64_t nsPerByte);

  // The next whole telegram with a valid checksum, if one is there.
  bool next(Telegram* out);
  // Bytes still to come of a telegram begun whose length is known (0: none
  // known), so a reader can sleep for their time on the line.
  int missing() const;
  bool empty() const { return begin_ == end_; }
  // Bytes thrown away since the framer was made: noise and cut telegrams.
  std::int64_t discarded() const { return discarded_; }
  void clear();

 private:
  struct Chunk {
    std::int64_t end;  // stream position after its last byte
    std::int64_t lastNs;
    std::int64_t nsPerByte;
  };
  std::int64_t arrivalOf(std::int64_t position) const;
  void drop(int n);  // n bytes from the front that no telegram holds

  std::array<std::uint8_t, kCapacity> buf_{};
  int begin_ = 0, end_ = 0;  // the bytes not yet taken
  std::int64_t base_ = 0;    // stream position of buf_[0]
  std::array<Chunk, 32> chunks_{};
  int chunkCount_ = 0;
  bool ackSeen_ = false;
  std::int64_t discarded_ = 0;
};

}  // namespace lms
