#pragma once

// Serial link to the scanner: raw 8-bit transfer at a fixed baud rate, writes
// that wait a bounded time for the line, and reads that never wait for bytes.
//
// Threads: one thread uses a port (the acquisition thread).
// Errors: operations fold failures into false or 0 and print nothing; the
// errno of the last failure is kept for the caller's message (lastError).

#include <cstdint>
#include <string>

#include "platform/unique_fd.h"

// Bound on a write that the line cannot take at once.
inline constexpr int kSerialWriteWaitMs = 1000;

class SerialPort {
 public:
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  ~SerialPort() { close(); }

  // Opens COM`port` (1-based: COM1 is the first serial device of the system).
  // True when open, also when it already was (nothing changes then).
  bool open(int port, int baud);
  // Opens a device by path (a USB adapter, a pseudo-terminal...).
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
  int lastError() const { return lastError_; }
  // The device path opened last, or the one a failed open tried.
  const std::string& deviceName() const { return szPort; }

  // The device path of COM`port`, or "" when `port` is below 1.
  static std::string devicePathFor(int port);

 private:
  bool fail(int err);
  void markGone(int err);

  UniqueFd handle;
  bool isOpen_ = false;
  bool gone_ = false;
  int lastError_ = 0;
  std::string szPort;
};
