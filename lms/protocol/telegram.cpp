// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/telegram.h"

#include "lms/protocol/scanner_constants.h"

namespace lms {

std::uint16_t lmsCrc16(const std::uint8_t* data, int length) {
  std::uint16_t reg = 0;
  std::uint8_t prev = 0;
  std::uint8_t cur = 0;
  for (int i = 0; i < length; ++i) {
    prev = cur;
    cur = data[i];
    if (reg & 0x8000) {
      reg = static_cast<std::uint16_t>(((reg & 0x7FFF) << 1) ^ 0x8005);
    } else {
      reg = static_cast<std::uint16_t>(reg << 1);
    }
    reg = static_cast<std::uint16_t>(reg ^ ((prev << 8) | cur));
  }
  return reg;
}

int wholeTelegramLength(const std::uint8_t* bytes, int length) {
  const int at = length > 0 && bytes[0] == kAck ? 1 : 0;
  const int have = length - at;
  if (have < 4 || bytes[at] != kStx) return 0;
  const int body = bytes[at + 2] | (bytes[at + 3] << 8);  // command and data
  const int whole = body + 6;
  if (have < whole) return 0;
  const std::uint16_t crc = lmsCrc16(bytes + at, whole - 2);
  const int sent = bytes[at + whole - 2] | (bytes[at + whole - 1] << 8);
  return crc == sent ? at + whole : 0;
}

const Bytes6* baudTelegram(int baud) {
  switch (baud) {
    case 9600:
      return &msgBaud9600;
    case 19200:
      return &msgBaud19200;
    case 38400:
      return &msgBaud38400;
    case 500000:
      return &msgMode48;
    default:
      return nullptr;
  }
}

const Bytes9* variantTelegram(int fieldDegrees, int resolutionHundredths) {
  for (const Bytes9* t :
       {&msgRange100Res100, &msgRange100Res50, &msgRange100Res25, &msgRange180Res100, &msgRange180Res50}) {
    // Data: the field in degrees, then the resolution in hundredths, each 16-bit little-endian.
    if ((*t)[5] == fieldDegrees && (*t)[7] == resolutionHundredths) return t;
  }
  return nullptr;
}

int baudOfModeCode(std::uint8_t code) {
  for (const int baud : kScannerRates)
    if ((*baudTelegram(baud))[5] == code) return baud;
  return 0;
}

}  // namespace lms
