// SPDX-License-Identifier: Apache-2.0
#include "sim/telegram_parser.h"

#include "lms/protocol/telegram.h"

namespace sim {

using lms::kStx;
using lms::lmsCrc16;

std::vector<std::uint8_t> ParsedTelegram::data() const {
  if (bytes.size() < 7) return {};
  return std::vector<std::uint8_t>(bytes.begin() + 5, bytes.end() - 2);
}

void TelegramParser::feed(const std::uint8_t* bytes, int length) {
  if (length > 0) buffer_.insert(buffer_.end(), bytes, bytes + length);
}

bool TelegramParser::next(ParsedTelegram& out) {
  std::size_t start = 0;
  for (;;) {
    while (start < buffer_.size() && buffer_[start] != kStx) ++start;
    if (start == buffer_.size()) break;
    if (buffer_.size() - start < 4) break;  // wait for address and length
    const int length = buffer_[start + 2] | (buffer_[start + 3] << 8);
    if (buffer_[start + 1] != 0x00 || length < 1 || length > kMaxLength) {
      ++start;  // not a telegram to the scanner: resynchronise on the next start byte
      continue;
    }
    const std::size_t total = static_cast<std::size_t>(length) + 6;
    if (buffer_.size() - start < total) break;
    out.bytes.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(start),
                     buffer_.begin() + static_cast<std::ptrdiff_t>(start + total));
    const std::uint16_t crc = lmsCrc16(out.bytes.data(), length + 4);
    out.checksumOk = out.bytes[total - 2] == (crc & 0xFF) && out.bytes[total - 1] == (crc >> 8);
    skipped_ += static_cast<std::int64_t>(start);
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start + total));
    return true;
  }
  skipped_ += static_cast<std::int64_t>(start);
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start));
  return false;
}

}  // namespace sim
