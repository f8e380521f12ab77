// SPDX-License-Identifier: Apache-2.0
#include "transport/silence_framer.h"

#include <algorithm>

namespace transport {

bool silenceCounts(std::int64_t earlier, std::int64_t later) {
  const float elapsed = static_cast<float>(later - earlier) / 1000.0f;
  return static_cast<double>(elapsed) > 0.05;
}

int SilenceFramer::addChunk(const std::uint8_t* data, int length, std::int64_t now, std::int64_t arrivalNs) {
  if (length <= 0) return 0;
  if (!anyChunk_ || silenceCounts(chunkTime_, now)) messageLen_ = 0;
  anyChunk_ = true;
  chunkTime_ = now;
  pending_ = true;
  lastArrival_ = arrivalNs;
  for (int i = messageLen_; i < 2 && i < messageLen_ + length; ++i) arrival_[i] = arrivalNs;
  const int room = kMessageCapacity - messageLen_;
  const int taken = std::min(room, length);
  std::copy(data, data + taken, message_ + messageLen_);
  messageLen_ += taken;
  droppedBytes_ += length - taken;
  return publishWhole();
}

// Moves whole messages from the start of the one being gathered to the free
// ready slot; what follows stays as the start of the next message.
int SilenceFramer::publishWhole() {
  int published = 0;
  while (check_ != nullptr && !ready_ && messageLen_ > 0) {
    const int n = check_(message_, messageLen_);
    if (n <= 0 || n > messageLen_) break;
    std::copy(message_, message_ + n, readyBuf_);
    readyLen_ = n;
    std::copy(arrival_, arrival_ + 2, readyArrival_);
    arrival_[0] = arrival_[1] = lastArrival_;
    ready_ = true;
    std::copy(message_ + n, message_ + messageLen_, message_);
    messageLen_ -= n;
    pending_ = messageLen_ > 0;
    ++published;
  }
  return published;
}

bool SilenceFramer::publishIfDue(std::int64_t now) {
  if (!pending_) return false;
  checkTime_ = now;
  if (!silenceCounts(chunkTime_, checkTime_)) return false;
  pending_ = false;
  if (ready_) {
    ++droppedMessages_;
    return false;
  }
  std::copy(message_, message_ + messageLen_, readyBuf_);
  readyLen_ = messageLen_;
  std::copy(arrival_, arrival_ + 2, readyArrival_);
  ready_ = true;
  return true;
}

int SilenceFramer::readReady(std::uint8_t* destination, int wanted, std::int64_t* arrivals) {
  if (!ready_) return 0;
  const int n = std::clamp(wanted, 0, readyLen_);
  std::copy(readyBuf_, readyBuf_ + n, destination);
  if (arrivals) std::copy(readyArrival_, readyArrival_ + 2, arrivals);
  ready_ = false;
  const int length = readyLen_;
  if (pending_) publishWhole();
  return length;
}

}  // namespace transport

namespace transport {

int SilenceFramer::takeGathered(std::uint8_t* destination, int wanted) {
  const int n = std::clamp(wanted, 0, messageLen_);
  std::copy(message_, message_ + n, destination);
  messageLen_ = 0;
  pending_ = false;
  return n;
}

}  // namespace transport
