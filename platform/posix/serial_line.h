// SPDX-License-Identifier: Apache-2.0
#pragma once

// POSIX only: the one raw-line setup shared by the serial port and the
// emulator, so both sides of a line agree on what a rate means.

#include <system_error>

namespace platform {

// Whether `baud` is a rate the line setup knows.
bool serialBaudSupported(int baud);

// Raw 8-bit transfer at `baud` on the terminal device `fd`: no echo, no
// translation, reads that never wait (VMIN = VTIME = 0). Parity, stop bits,
// hardware flow control and HUPCL keep the device's settings. Checks that
// every change took (tcsetattr succeeds when any one did). An unknown rate or
// a change that did not take is std::errc::invalid_argument.
std::error_code configureRawLine(int fd, int baud);

// Whether the terminal device `fd` is set to `baud` now (both directions).
bool lineRunsAt(int fd, int baud);

}  // namespace platform
