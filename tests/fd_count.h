#pragma once

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
