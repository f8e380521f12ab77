// SPDX-License-Identifier: Apache-2.0
#pragma once

// A listening IPv4 TCP socket and the connections it accepts, all
// non-blocking, with one bounded wait over them that another thread can end
// (wake). Only the calls a small server needs; one file per OS.
//
// Threads: one thread owns the sockets and calls everything but wake(),
// which any thread may call.

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace transport {

class ServerSockets {
 public:
  ServerSockets();
  ServerSockets(const ServerSockets&) = delete;
  ServerSockets& operator=(const ServerSockets&) = delete;
  ~ServerSockets();

  // Binds a dotted IPv4 address and port (0: any free port) and listens.
  // std::errc::address_in_use, permission_denied, address_not_available,
  // invalid_argument (not an address).
  std::error_code listen(const std::string& address, std::uint16_t port);
  std::uint16_t port() const;

  // One connection waiting to be accepted: its id (>= 0), or -1 for none.
  int accept();
  // Non-blocking: bytes read (> 0), 0 when there is nothing now,
  // kPeerClosed when the peer ended its side in order (it may still read
  // what is sent to it), -1 when the connection failed.
  static constexpr int kPeerClosed = -2;
  int receive(int id, std::uint8_t* buffer, int size);
  // Non-blocking: bytes sent (maybe fewer than asked), 0 when there is no
  // room now, -1 when the connection failed. Never raises SIGPIPE.
  int send(int id, const std::uint8_t* bytes, int size);
  void close(int id);

  struct Ready {
    bool accept = false;
    std::vector<int> readable;  // input (or the end of it) waits
    std::vector<int> writable;  // of `wantWrite`: room to send
  };
  // Waits up to `timeoutMs` for a connection to accept, input on `ids`, room
  // on `wantWrite`, or wake().
  void wait(const std::vector<int>& ids, const std::vector<int>& wantWrite, int timeoutMs, Ready* ready);
  void wake();

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

}  // namespace transport
