// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace platform {

// POSIX only: move-only owner of one file descriptor. -1 means "none". The
// destructor closes without throwing; close is never retried (on Linux the
// descriptor is released even when close reports EINTR, and a retry could
// close a reused one).
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

}  // namespace platform
