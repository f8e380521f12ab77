// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace platform {

// User input echoed in a one-line message: control characters (a newline,
// an escape sequence, the characters that reorder a line) and bytes that are
// not UTF-8 are shown as \xNN, so they cannot break the line or drive the
// terminal; text in any script ("José", "日本") is shown as it is.
std::string printable(std::string_view text);

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF): what JSON, WebSocket text and the robotics tools take.
bool validUtf8(std::string_view text);

}  // namespace platform
