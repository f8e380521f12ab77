#pragma once

// A FILE* whose output the test can read back: what a driver, a client or the
// echo routine prints.

#include <cstdio>
#include <cstdlib>
#include <string>

struct Captured {
  Captured() { file = open_memstream(&text, &size); }
  Captured(const Captured&) = delete;
  Captured& operator=(const Captured&) = delete;
  ~Captured() {
    if (file) std::fclose(file);
    std::free(text);
  }
  // May run while another thread writes: the stream's own lock covers the
  // flush and the copy.
  std::string str() {
    flockfile(file);
    std::fflush(file);
    std::string copy(text, size);
    funlockfile(file);
    return copy;
  }
  std::FILE* file = nullptr;
  char* text = nullptr;
  std::size_t size = 0;
};
