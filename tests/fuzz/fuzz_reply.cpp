// SPDX-License-Identifier: Apache-2.0
// Measurement-reply validation and decoding on arbitrary bytes: a reply
// passes only with a length one of the scanner's variants has, and decodes
// to that many points within the geometry's bounds.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "lms/protocol/reply.h"

using namespace lms;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int length = static_cast<int>(size > 100000 ? 100000 : size);
  const ReplyCheck check = checkMeasurementReply(data, length);
  const int whole = measurementReplyLength(data, length);
  if (check == ReplyCheck::Ok) {
    if (whole <= 0 || length < whole || data[0] != 0x02 || data[1] != 0x80) std::abort();
    const int points = (whole - kRangeOffset - 3) / 2;
    if (variantOf(points) == nullptr) std::abort();
    {
      lmsview::Scan scan;
      decodeMeasurementReply(data, &scan);
      if (scan.ranges.size() != static_cast<std::size_t>(points) || scan.words.size() != scan.ranges.size() ||
          scan.geometry.count != scan.ranges.size())
        std::abort();
      for (const float r : scan.ranges)
        if (!(r >= 0.0f && r <= static_cast<float>(8191 * scan.geometry.range_unit) + 1e-3f)) std::abort();
      if (!(std::fabs(scan.geometry.angle_max() + scan.geometry.angle_min) < 1e-9)) std::abort();  // centred
    }
  } else if (whole > 0 && length >= whole && check == ReplyCheck::TooShort) {
    std::abort();
  }
  if (length >= kRangeOffset) {
    float ranges[kMaxScanPoints];
    int count = -1;
    const int bytes = std::min(length - kRangeOffset, 2 * kMaxScanPoints);
    decodeRanges(bytes, data + kRangeOffset, ranges, &count);
    if (count != bytes / 2) std::abort();
  }
  return 0;
}
