// SPDX-License-Identifier: Apache-2.0
#pragma once

// A shared library loaded while the program runs (a plug-in), by its file
// name as the system's loader finds it. It stays loaded to the end of the
// process: a library that started threads must not be unloaded under them.

#include <string>

namespace platform {

// The library, or nullptr with a one-line reason in *why (the loader's own).
void* loadLibrary(const std::string& name, std::string* why);
// A function or object of a loaded library by name, or nullptr.
void* librarySymbol(void* library, const char* name);

}  // namespace platform
