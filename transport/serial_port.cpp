// SPDX-License-Identifier: Apache-2.0
// The parts of the serial port that are the same on every OS.

#include "transport/serial_port.h"

namespace transport {

void SerialPort::markGone(std::error_code ec) {
  gone_ = true;
  lastError_ = ec;
}

bool SerialPort::open(int port, int baud) {
  if (isOpen_) return true;
  if (port < 1) {
    devicePath_.clear();
    lastError_ = std::make_error_code(std::errc::no_such_file_or_directory);
    return false;
  }
  return open(devicePathFor(port).c_str(), baud);
}

bool SerialPort::writeByte(std::uint8_t byte) {
  return write(&byte, 1) == 1;
}

}  // namespace transport
