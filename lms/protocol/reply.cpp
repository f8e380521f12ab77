#include "lms/protocol/reply.h"

#include "lms/protocol/telegram.h"

namespace lms {

namespace {
constexpr std::uint8_t kReplyHeader[4] = {0x02, 0x80, 0xD6, 0x02};
}

bool mayBeginMeasurementReply(const std::uint8_t* buf, int length) {
  for (int i = 0; i < length && i < 4; ++i) {
    if (buf[i] != kReplyHeader[i]) return false;
  }
  return true;
}

ReplyCheck checkMeasurementReply(const std::uint8_t* buf, int length) {
  if (length < 4 || !mayBeginMeasurementReply(buf, 4)) return ReplyCheck::NotAReply;
  if (length < kReplyLength) return ReplyCheck::TooShort;
  const std::uint16_t crc = lmsCrc16(buf, kReplyLength - 2);
  const std::uint16_t sent = static_cast<std::uint16_t>(buf[kReplyLength - 2] | (buf[kReplyLength - 1] << 8));
  return crc == sent ? ReplyCheck::Ok : ReplyCheck::BadChecksum;
}

const char* replyCheckText(ReplyCheck check) {
  switch (check) {
    case ReplyCheck::Ok:
      return "valid reply";
    case ReplyCheck::NotAReply:
      return "not a measurement reply";
    case ReplyCheck::TooShort:
      return "reply too short";
    case ReplyCheck::BadChecksum:
      return "checksum mismatch";
  }
  return "unknown";
}

void decodeRanges(int length, const std::uint8_t* data, float* ranges, int* count) {
  int index = 0;
  for (int j = 0; j + 1 < length; j += 2) {
    const int raw = data[j] + 256 * (data[j + 1] & 0x1F);
    ranges[index++] = static_cast<float>(raw / 10.0);
  }
  *count = index;
}

void decodeWords(const std::uint8_t* data, int count, std::uint16_t* words) {
  for (int i = 0; i < count; ++i) words[i] = static_cast<std::uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
}

}  // namespace lms
