// SPDX-License-Identifier: Apache-2.0
#pragma once

// POSIX only: the self-pipe behind a WakeChannel, for code that waits on it
// together with other descriptors in one poll.

#include "platform/terminal.h"

namespace platform {

struct WakeChannel::Native {
  int readFd = -1;
  int writeFd = -1;
};

}  // namespace platform
