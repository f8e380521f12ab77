// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include "platform/error.h"
#include "platform/library.h"
#include "platform/win32/wide.h"

namespace platform {

void* loadLibrary(const std::string& name, std::string* why) {
  const HMODULE library = ::LoadLibraryW(wide(name).c_str());
  if (library == nullptr) *why = errorText(lastOsError());
  return reinterpret_cast<void*>(library);
}

void* librarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace platform
