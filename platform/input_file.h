// SPDX-License-Identifier: Apache-2.0
#pragma once

// A recording (or any file a user names) read by the library: opened
// without waiting (a FIFO with no writer, a device that blocks, are refused
// at once, as only a regular file is taken), named in UTF-8 on every system,
// and read in pieces of the caller's size.
//
// Threads: one thread uses an InputFile.

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

namespace platform {

class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Opens `utf8Path` for reading. std::errc::is_a_directory for a folder,
  // std::errc::not_supported for what is not a regular file (a FIFO, a
  // device), or the system's error.
  std::error_code open(const std::string& utf8Path);
  // Up to `n` bytes: the count read, 0 at the end, -1 on an error (lastError()).
  long long read(char* buffer, std::size_t n);
  // The file's size when it was opened.
  std::int64_t size() const { return size_; }
  std::error_code lastError() const { return lastError_; }

 private:
  std::intptr_t handle_ = -1;  // the descriptor, or the Windows handle
  std::int64_t size_ = 0;
  std::error_code lastError_;
};

}  // namespace platform
