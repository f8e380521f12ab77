// SPDX-License-Identifier: Apache-2.0
#pragma once

// Cuts the byte stream a scanner receives into telegrams: finds the start
// byte, reads address and length, waits for the whole telegram and checks its
// checksum. Bytes that cannot start a telegram are skipped (resynchronising
// after garbage); a telegram whose checksum is wrong is dropped whole.

#include <cstdint>
#include <vector>

namespace sim {

struct ParsedTelegram {
  bool checksumOk = false;
  std::vector<std::uint8_t> bytes;  // the whole telegram, start byte to checksum
  std::uint8_t command() const { return bytes.size() > 4 ? bytes[4] : 0; }
  // Data bytes after the command, without checksum.
  std::vector<std::uint8_t> data() const;
};

class TelegramParser {
 public:
  // Longest length field accepted; anything longer is taken for garbage.
  static constexpr int kMaxLength = 1000;

  void feed(const std::uint8_t* bytes, int length);
  // Takes the next complete telegram, if any.
  bool next(ParsedTelegram& out);
  // Drops a partial telegram (for example after a long pause in the stream).
  void reset() { buffer_.clear(); }
  bool partial() const { return !buffer_.empty(); }
  std::int64_t skippedBytes() const { return skipped_; }

 private:
  std::vector<std::uint8_t> buffer_;
  std::int64_t skipped_ = 0;
};

}  // namespace sim
