// SPDX-License-Identifier: Apache-2.0
#pragma once

// Serial link to the scanner: raw 8-bit transfer at a fixed baud rate, writes
// that wait a bounded time for the line, and reads that never wait for bytes.
//
// Threads: one thread uses a port (the acquisition thread).
// Errors: operations fold failures into false or 0 and print nothing; the
// error of the last failure is kept for the caller's message (lastError).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace transport {

// Bound on a write that the line cannot take at once.
inline constexpr int kSerialWriteWaitMs = 1000;

// Whether the user named a serial device by its path (a USB adapter, a
// pseudo-terminal...) rather than by a COM number.
bool isDevicePath(std::string_view name);
// For help texts: what COM n opens here, and a device path a user might give.
std::string_view comNumberMeaning();
std::string_view devicePathExample();

class SerialPort {
 public:
  SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  ~SerialPort();

  // Opens COM`port` (1-based: COM1 is the first serial device of the system).
  // True when open, also when it already was (nothing changes then).
  bool open(int port, int baud);
  // Opens a device by path. A failed open leaves the device as it found it.
  bool open(const char* device, int baud);
  // Always true.
  bool close();

  // False when the byte was not written.
  bool writeByte(std::uint8_t byte);
  // Number of bytes actually written (0 when closed or count <= 0).
  int write(const std::uint8_t* bytes, int count);
  // Bytes waiting in the input queue; 0 when closed.
  int available();
  // Up to `limit` of the queued bytes; 0 when closed or nothing is queued. Never waits.
  int read(std::uint8_t* buffer, int limit);

  // Blocks until input is queued, the device goes away, or `timeoutMs` passes.
  bool waitData(int timeoutMs);
  // The device went away (unplugged, or the other end of a pseudo-terminal closed).
  bool gone() const { return gone_; }
  bool isOpen() const { return isOpen_; }
  std::error_code lastError() const { return lastError_; }
  // The device path opened last, or the one a failed open tried.
  const std::string& deviceName() const { return devicePath_; }
  int baud() const { return baud_; }

  // The device path of COM`port`, or "" when `port` is below 1.
  static std::string devicePathFor(int port);

 private:
  struct Native;
  bool fail(std::error_code ec);
  void markGone(std::error_code ec);

  std::unique_ptr<Native> native_;
  bool isOpen_ = false;
  bool gone_ = false;
  int baud_ = 0;
  std::error_code lastError_;
  std::string devicePath_;
};

}  // namespace transport
