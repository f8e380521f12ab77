#include "platform/error.h"

#include <windows.h>

namespace platform {

std::error_code lastOsError() {
  return osError(static_cast<int>(::GetLastError()));
}

std::string errorText(const std::error_code& ec) {
  if (ec.category() != std::system_category()) return ec.message();
  // The system's own words, Winsock's errors included (the C runtime's
  // strerror does not know them).
  char buf[512];
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(ec.value()), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                   buf, sizeof buf, nullptr);
  std::string text(buf, n);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(ec.value()) : text;
}

}  // namespace platform
