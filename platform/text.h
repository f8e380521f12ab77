#pragma once

#include <string>
#include <string_view>

namespace platform {

// User input echoed in a one-line message: bytes outside printable ASCII
// (a newline, an escape sequence) are shown as \xNN so they cannot break the
// line or drive the terminal.
std::string printable(std::string_view text);

}  // namespace platform
