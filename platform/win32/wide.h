// SPDX-License-Identifier: Apache-2.0
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

// A file's path for the "W" calls. One too long for the classic limit
// (MAX_PATH, less room for a file name in its folder) is made absolute and
// given the \\?\ prefix, which lifts the limit whatever the system's
// settings; shorter ones go as written.
inline std::wstring widePath(const std::string& utf8) {
  std::wstring w = wide(utf8);
  if (w.rfind(L"\\\\?\\", 0) == 0) return w;
  // A short relative path is long once the current folder is put before it.
  const DWORD n = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0 || n < MAX_PATH - 12) return w;
  std::wstring full(n, L'\0');
  const DWORD got = ::GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return w;
  full.resize(got);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return L"\\\\?\\" + full;
}

}  // namespace platform
