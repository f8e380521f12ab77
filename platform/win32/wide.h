#pragma once

// UTF-8 text (how the programs and the library carry every name) as the
// UTF-16 the Win32 "W" calls take. Windows builds only.

#include <windows.h>

#include <string>

namespace platform {

inline std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

}  // namespace platform
