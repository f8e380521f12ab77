#include "transport/silence_framer.h"

#include <algorithm>

namespace transport {

bool silenceCounts(std::int64_t earlier, std::int64_t later) {
  const float elapsed = static_cast<float>(later - earlier) / 1000.0f;
  return static_cast<double>(elapsed) > 0.05;
}

void SilenceFramer::addChunk(const std::uint8_t* data, int length, std::int64_t now) {
  if (length <= 0) return;
  if (!anyChunk_ || silenceCounts(chunkTime_, now)) messageLen_ = 0;
  anyChunk_ = true;
  chunkTime_ = now;
  pending_ = true;
  const int room = kMessageCapacity - messageLen_;
  const int taken = std::min(room, length);
  std::copy(data, data + taken, message_ + messageLen_);
  messageLen_ += taken;
  droppedBytes_ += length - taken;
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
  ready_ = true;
  return true;
}

int SilenceFramer::readReady(std::uint8_t* destination, int wanted) {
  if (!ready_) return 0;
  const int n = std::clamp(wanted, 0, readyLen_);
  std::copy(readyBuf_, readyBuf_ + n, destination);
  ready_ = false;
  return readyLen_;
}

}  // namespace transport
