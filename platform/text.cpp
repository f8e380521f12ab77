#include "platform/text.h"

#include <cstdio>

namespace platform {

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F) {
      out.push_back(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out;
}

bool validUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    int more = 0;
    unsigned min = 0;
    unsigned code = 0;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      more = 1, min = 0x80, code = b & 0x1Fu;
    } else if ((b & 0xF0) == 0xE0) {
      more = 2, min = 0x800, code = b & 0x0Fu;
    } else if ((b & 0xF8) == 0xF0) {
      more = 3, min = 0x10000, code = b & 0x07u;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(more) >= text.size()) return false;
    for (int k = 1; k <= more; ++k) {
      const auto c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((c & 0xC0) != 0x80) return false;
      code = (code << 6) | (c & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

}  // namespace platform
