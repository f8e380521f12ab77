// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/stream_framer.h"

#include <algorithm>
#include <cstring>

#include "lms/protocol/telegram.h"

namespace lms {

namespace {
constexpr std::uint8_t kReplyAddress = 0x80;
}

std::span<std::uint8_t> StreamFramer::space() {
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, static_cast<std::size_t>(end_ - begin_));
    base_ += begin_;
    end_ -= begin_;
    begin_ = 0;
  }
  return {buf_.data() + end_, static_cast<std::size_t>(kCapacity - end_)};
}

void StreamFramer::commit(int n, std::int64_t lastNs, std::int64_t nsPerByte) {
  if (n <= 0) return;
  n = std::min(n, kCapacity - end_);
  end_ += n;
  // Chunks whose bytes are all taken go; when the table is full the oldest
  // two become one (its bytes then count back from the later's stamp).
  const std::int64_t taken = base_ + begin_;
  int keep = 0;
  for (int i = 0; i < chunkCount_; ++i)
    if (chunks_[static_cast<std::size_t>(i)].end > taken)
      chunks_[static_cast<std::size_t>(keep++)] = chunks_[static_cast<std::size_t>(i)];
  chunkCount_ = keep;
  if (chunkCount_ == static_cast<int>(chunks_.size())) {
    std::move(chunks_.begin() + 1, chunks_.end(), chunks_.begin());
    --chunkCount_;
  }
  chunks_[static_cast<std::size_t>(chunkCount_++)] = {base_ + end_, lastNs, nsPerByte};
}

void StreamFramer::add(const std::uint8_t* bytes, int n, std::int64_t lastNs, std::int64_t nsPerByte) {
  while (n > 0) {
    const std::span<std::uint8_t> room = space();
    const int take = std::min(n, static_cast<int>(room.size()));
    if (take == 0) {
      drop(end_ - begin_);  // only when a caller adds more than a read can hold
      continue;
    }
    std::memcpy(room.data(), bytes, static_cast<std::size_t>(take));
    bytes += take;
    n -= take;
    commit(take, n == 0 ? lastNs : lastNs - n * nsPerByte, nsPerByte);
  }
}

std::int64_t StreamFramer::arrivalOf(std::int64_t position) const {
  for (int i = 0; i < chunkCount_; ++i) {
    const Chunk& c = chunks_[static_cast<std::size_t>(i)];
    if (c.end > position) return c.lastNs - (c.end - 1 - position) * c.nsPerByte;
  }
  return chunkCount_ > 0 ? chunks_[static_cast<std::size_t>(chunkCount_ - 1)].lastNs : 0;
}

void StreamFramer::drop(int n) {
  for (int i = 0; i < n; ++i) {
    // One ACK byte right before a start is the acknowledge of a telegram sent.
    ackSeen_ = buf_[static_cast<std::size_t>(begin_)] == kAck && !ackSeen_;
    if (!ackSeen_) ++discarded_;
    ++begin_;
  }
}

bool StreamFramer::next(Telegram* out) {
  for (;;) {
    const int have = end_ - begin_;
    const std::uint8_t* p = buf_.data() + begin_;
    if (have == 0) return false;
    if (p[0] != kStx) {
      const std::uint8_t* start =
          static_cast<const std::uint8_t*>(std::memchr(p, kStx, static_cast<std::size_t>(have)));
      const int skip = start ? static_cast<int>(start - p) : have;
      drop(skip);
      continue;
    }
    if (have < 2) return false;
    if (p[1] != kReplyAddress) {
      drop(1);
      continue;
    }
    if (have < 4) return false;
    const int length = p[2] | (p[3] << 8);
    const int whole = length + 6;
    if (length < 1 || whole > kMaxTelegram) {
      drop(1);
      continue;
    }
    if (have < whole) return false;
    const std::uint16_t crc = lmsCrc16(p, whole - 2);
    if (crc != static_cast<std::uint16_t>(p[whole - 2] | (p[whole - 1] << 8))) {
      drop(1);  // a false start: the search goes on from the next byte
      continue;
    }
    out->bytes = p;
    out->length = whole;
    out->firstNs = arrivalOf(base_ + begin_);
    out->acked = ackSeen_;
    ackSeen_ = false;
    begin_ += whole;
    return true;
  }
}

int StreamFramer::missing() const {
  const int have = end_ - begin_;
  const std::uint8_t* p = buf_.data() + begin_;
  if (have < 4 || p[0] != kStx || p[1] != kReplyAddress) return 0;
  const int whole = (p[2] | (p[3] << 8)) + 6;
  return whole <= kMaxTelegram && whole > have ? whole - have : 0;
}

void StreamFramer::clear() {
  base_ += end_;
  begin_ = end_ = 0;
  chunkCount_ = 0;
  ackSeen_ = false;
}

}  // namespace lms
