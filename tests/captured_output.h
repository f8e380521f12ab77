// SPDX-License-Identifier: Apache-2.0
#pragma once

// A FILE* whose output the test can read back: what a driver, a client or the
// echo routine prints.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "transport/message_sink.h"

#if defined(_WIN32)

// The Windows C runtime has no memory stream: a temporary file, read back.
struct Captured {
  Captured() { file = std::tmpfile(); }
  Captured(const Captured&) = delete;
  Captured& operator=(const Captured&) = delete;
  ~Captured() {
    if (file) std::fclose(file);
  }
  std::string str() {
    _lock_file(file);
    std::fflush(file);
    const long end = std::ftell(file);
    std::string copy(static_cast<std::size_t>(end > 0 ? end : 0), '\0');
    std::rewind(file);
    copy.resize(std::fread(copy.data(), 1, copy.size(), file));
    std::fseek(file, 0, SEEK_END);
    _unlock_file(file);
    return copy;
  }
  std::FILE* file = nullptr;
  // A message sink that writes here.
  transport::MessageSink sink() {
    return [f = file](std::string_view line) {
      std::fwrite(line.data(), 1, line.size(), f);
      std::fflush(f);
    };
  }
};
#else
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
  // A message sink that writes here.
  transport::MessageSink sink() {
    return [f = file](std::string_view line) {
      std::fwrite(line.data(), 1, line.size(), f);
      std::fflush(f);
    };
  }
};
#endif
