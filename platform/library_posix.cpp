// SPDX-License-Identifier: Apache-2.0
#include <dlfcn.h>

#include "platform/library.h"

namespace platform {

void* loadLibrary(const std::string& name, std::string* why) {
  void* library = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* error = ::dlerror();
    *why = error != nullptr ? error : "cannot be loaded";
  }
  return library;
}

void* librarySymbol(void* library, const char* name) {
  return ::dlsym(library, name);
}

}  // namespace platform
