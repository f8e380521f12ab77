// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include "platform/error.h"
#include "platform/input_file.h"
#include "platform/win32/wide.h"

namespace platform {

InputFile::~InputFile() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::error_code InputFile::open(const std::string& utf8Path) {
  // The wide call: a UTF-8 name is opened as written, whatever the ANSI code
  // page of the program that loaded the library.
  const std::wstring path = widePath(utf8Path);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::make_error_code(std::errc::is_a_directory);
  const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return lastOsError();
  // A pipe or a device (CON, COM1, NUL ...) is not a recording.
  LARGE_INTEGER size{};
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &size)) {
    ::CloseHandle(h);
    return std::make_error_code(std::errc::not_supported);
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  size_ = size.QuadPart;
  return {};
}

long long InputFile::read(char* buffer, std::size_t n) {
  DWORD got = 0;
  const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, want, &got, nullptr)) {
    lastError_ = lastOsError();
    return -1;
  }
  return got;
}

}  // namespace platform
