// SPDX-License-Identifier: Apache-2.0
#pragma once

// One IPv4 TCP stream, with only the calls the TCP client needs; the rest of
// the client (its threads and the silence framing) is the same on every OS.
//
// Threads: the owner connects, sends, interrupts and closes; one receiver
// thread may block in receive() meanwhile. interrupt() is the one call that
// may run while receive() blocks on another thread: it makes that receive
// return at once.

#include <cstdint>
#include <memory>
#include <system_error>

namespace transport {

class StreamSocket {
 public:
  StreamSocket();
  StreamSocket(const StreamSocket&) = delete;
  StreamSocket& operator=(const StreamSocket&) = delete;
  ~StreamSocket();

  // Connects to a dotted-decimal IPv4 address within `timeoutMs`. An address
  // that does not parse is std::errc::invalid_argument; a connection not made
  // in time is std::errc::timed_out.
  std::error_code connect(const char* address, std::uint16_t port, int timeoutMs);
  bool valid() const;
  // One send of all bytes; the count sent, or -1 on error. Never raises
  // SIGPIPE. `more`: more bytes follow at once, so these may wait for them
  // and leave in one segment (where the system can; a hint only).
  int send(const void* bytes, int count, bool more = false);
  // Blocks for up to `size` bytes: the count, 0 when the peer closed in order,
  // -1 on error or after interrupt() (error in *ec).
  int receive(std::uint8_t* buffer, int size, std::error_code* ec);
  // Wakes a receive() blocked on another thread, and every later one.
  void interrupt();
  void close();

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

}  // namespace transport
