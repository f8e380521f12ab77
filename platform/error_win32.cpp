// SPDX-License-Identifier: Apache-2.0
#include "platform/error.h"

#include <windows.h>

namespace platform {

std::error_code lastOsError() {
  return osError(static_cast<int>(::GetLastError()));
}

namespace {

// The C runtime's strerror knows only the classic errno values; these are the
// others the program reports, in the words Linux uses, so a message reads the
// same on both.
const char* portableText(std::errc e) {
  switch (e) {
    case std::errc::connection_refused:
      return "Connection refused";
    case std::errc::connection_reset:
      return "Connection reset by peer";
    case std::errc::timed_out:
      return "Connection timed out";
    case std::errc::host_unreachable:
      return "No route to host";
    case std::errc::network_unreachable:
      return "Network is unreachable";
    case std::errc::device_or_resource_busy:
      return "Device or resource busy";
    case std::errc::not_connected:
      return "Transport endpoint is not connected";
    default:
      return nullptr;
  }
}

}  // namespace

std::string errorText(const std::error_code& ec) {
  if (ec.category() == std::generic_category()) {
    if (const char* text = portableText(static_cast<std::errc>(ec.value()))) return text;
    return ec.message();
  }
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
