// SPDX-License-Identifier: Apache-2.0
#pragma once

// Where a part of the library reports progress and failures for a person to
// read: one line at a time, each ending in "\n". The library never prints;
// the program that uses it decides where (if anywhere) the lines go. An empty
// sink is silent. A sink may be called from any of the library's threads.

#include <functional>
#include <string_view>

namespace transport {

using MessageSink = std::function<void(std::string_view line)>;

}  // namespace transport
