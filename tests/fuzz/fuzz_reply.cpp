// Measurement-reply validation and decoding on arbitrary bytes.

#include <cstdint>
#include <cstdlib>

#include "lms/protocol/reply.h"

using namespace lms;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int length = static_cast<int>(size > 100000 ? 100000 : size);
  const ReplyCheck check = checkMeasurementReply(data, length);
  if (check == ReplyCheck::Ok && (length < kReplyLength || data[0] != 0x02 || data[3] != 0x02)) std::abort();
  if (length >= kRangeOffset) {
    float ranges[kScanPoints];
    int count = -1;
    const int bytes = length - kRangeOffset < kRangeBytes ? length - kRangeOffset : kRangeBytes;
    decodeRanges(bytes, data + kRangeOffset, ranges, &count);
    if (count != bytes / 2) std::abort();
    for (int i = 0; i < count; ++i) {
      if (!(ranges[i] >= 0.0f && ranges[i] <= 819.1f)) std::abort();
    }
  }
  return 0;
}
