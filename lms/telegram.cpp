#include "lms/telegram.h"

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

}  // namespace lms
