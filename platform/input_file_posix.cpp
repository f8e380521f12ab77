// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/input_file.h"

namespace platform {

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::error_code InputFile::open(const std::string& utf8Path) {
  // Without O_NONBLOCK a FIFO with no writer would hold the open for ever.
  const int fd = ::open(utf8Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return lastOsError();
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const bool folder = S_ISDIR(st.st_mode);
    ::close(fd);
    return std::make_error_code(folder ? std::errc::is_a_directory : std::errc::not_supported);
  }
  handle_ = fd;
  size_ = st.st_size;
  return {};
}

long long InputFile::read(char* buffer, std::size_t n) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(handle_), buffer, n);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    lastError_ = lastOsError();
    return -1;
  }
}

}  // namespace platform
