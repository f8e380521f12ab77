#include "app/table_format.h"

#include <charconv>
#include <numbers>

namespace app {

namespace {

// Two decimals, rounded as printf's "%2.2f" rounds (to the nearest, exactly).
char* putFixed2(char* p, char* end, double v) {
  return std::to_chars(p, end, v, std::chars_format::fixed, 2).ptr;
}

}  // namespace

void formatScanTable(std::string& out, int sample, const float* ranges, const float* angles, int count,
                     bool clear) {
  // Longest row: an index of up to 11 characters and two numbers of up to 48.
  constexpr std::size_t kRowMax = 112;
  out.resize(64 + (count > 0 ? static_cast<std::size_t>(count) : 0) * kRowMax);
  char* p = out.data();
  char* end = out.data() + out.size();
  auto put = [&p](const char* s) {
    while (*s) *p++ = *s++;
  };
  if (clear) put(kClearScreen);
  put("muestra: ");
  p = std::to_chars(p, end, sample).ptr;
  put("\n[ punto , Angulo [grad], Radio [cm] ]\n\n");
  for (int i = 0; i < count; ++i) {
    p = std::to_chars(p, end, i).ptr;
    *p++ = ' ';
    p = putFixed2(p, end, static_cast<double>(angles[i]) * 180.0 / std::numbers::pi);
    *p++ = ' ';
    p = putFixed2(p, end, static_cast<double>(ranges[i]));
    *p++ = '\n';
  }
  if (!clear) *p++ = '\n';
  out.resize(static_cast<std::size_t>(p - out.data()));
}

}  // namespace app
