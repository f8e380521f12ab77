// SPDX-License-Identifier: Apache-2.0
#pragma once

// The one TCP peer of the tests, on a loopback address: listens (on the
// scanner's port, or on an ephemeral one with port 0), accepts one
// connection, and lets the test send and receive raw bytes. Only addresses in
// 127.0.0.0/8 are ever used. Every wait is bounded. The socket calls are in
// one file per OS.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class LoopbackPeer {
 public:
  explicit LoopbackPeer(const std::string& address, std::uint16_t port = 10002);
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;
  ~LoopbackPeer();

  bool listening() const;
  std::uint16_t port() const;
  bool accept(int timeoutMs = 3000);
  bool send(const std::vector<std::uint8_t>& bytes);
  bool send(const std::string& text) { return send(std::vector<std::uint8_t>(text.begin(), text.end())); }
  // Reads what arrives within `timeoutMs` until `want` bytes are in.
  std::vector<std::uint8_t> receive(std::size_t want, int timeoutMs = 2000);
  void closeConnection();
  void closeListener();

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};
