// SPDX-License-Identifier: Apache-2.0
#pragma once

// A pseudo-terminal pair: the test holds the master side, the code under test
// opens the slave path as its serial device.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/unique_fd.h"

class PtyPair {
 public:
  PtyPair() {
    master_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master_.valid() || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0) return;
    char name[128];
    if (::ptsname_r(master_.get(), name, sizeof name) == 0) path_ = name;
  }
  const std::string& slavePath() const { return path_; }
  int master() const { return master_.get(); }
  void closeMaster() { master_.reset(); }

  bool write(const std::vector<std::uint8_t>& bytes) {
    return ::write(master_.get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Reads what the slave side wrote, until `want` bytes or `timeoutMs` of quiet.
  std::vector<std::uint8_t> read(std::size_t want, int timeoutMs = 2000) {
    std::vector<std::uint8_t> got;
    while (got.size() < want) {
      pollfd p{master_.get(), POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) != 1) break;
      std::uint8_t buf[1024];
      ssize_t n = ::read(master_.get(), buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  termios settings() const {
    termios t{};
    ::tcgetattr(master_.get(), &t);
    return t;
  }

 private:
  platform::UniqueFd master_;
  std::string path_;
};
