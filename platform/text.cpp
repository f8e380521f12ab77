// SPDX-License-Identifier: Apache-2.0
#include "platform/text.h"

#include <algorithm>
#include <cstdio>

namespace platform {

namespace {

// The length of the well-formed UTF-8 sequence at `text` and its code point,
// or 0 when the bytes there are not one.
std::size_t utf8Sequence(std::string_view text, unsigned* code) {
  const auto b = static_cast<unsigned char>(text[0]);
  std::size_t more = 0;
  unsigned min = 0;
  unsigned c = 0;
  if ((b & 0xE0) == 0xC0) {
    more = 1, min = 0x80, c = b & 0x1Fu;
  } else if ((b & 0xF0) == 0xE0) {
    more = 2, min = 0x800, c = b & 0x0Fu;
  } else if ((b & 0xF8) == 0xF0) {
    more = 3, min = 0x10000, c = b & 0x07u;
  } else {
    return 0;
  }
  if (more >= text.size()) return 0;
  for (std::size_t k = 1; k <= more; ++k) {
    const auto n = static_cast<unsigned char>(text[k]);
    if ((n & 0xC0) != 0x80) return 0;
    c = (c << 6) | (n & 0x3Fu);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *code = c;
  return more + 1;
}

// Characters that move or reorder what a line shows: C1 controls, line and
// paragraph separators, and the bidirectional overrides and isolates.
bool movesText(unsigned code) {
  return (code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029 ||
         (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

void escape(std::string& out, unsigned char b) {
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02X", b);
  out += hex;
}

}  // namespace

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b < 0x7F) {
      out.push_back(text[i++]);
      continue;
    }
    unsigned code = 0;
    const std::size_t n = b >= 0x80 ? utf8Sequence(text.substr(i), &code) : 0;
    if (n > 0 && !movesText(code)) {
      out.append(text.substr(i, n));  // a name in any script reads as itself
    } else {
      for (std::size_t k = 0; k < std::max<std::size_t>(n, 1); ++k)
        escape(out, static_cast<unsigned char>(text[i + k]));
    }
    i += std::max<std::size_t>(n, 1);
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
