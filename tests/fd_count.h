// SPDX-License-Identifier: Apache-2.0
#pragma once

#if defined(_WIN32)
#include <windows.h>

// Open handles of this process (the system's own count, which includes those
// of threads still running).
inline int openFdCount() {
  DWORD n = 0;
  if (!::GetProcessHandleCount(::GetCurrentProcess(), &n)) return -1;
  return static_cast<int>(n);
}
#else
#include <dirent.h>

// Open descriptors of this process, from /proc/self/fd (the directory's own
// descriptor excluded).
inline int openFdCount() {
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] != '.') ++n;
  }
  ::closedir(d);
  return n - 1;
}
#endif
