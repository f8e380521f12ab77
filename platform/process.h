// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

namespace platform {

// This process's id: a library object made before a fork() can tell, in the
// child, that its threads stayed behind in the parent.
std::int64_t processId();

}  // namespace platform
