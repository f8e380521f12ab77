// SPDX-License-Identifier: Apache-2.0
#pragma once

// The small, strict HTTP/1.1 and WebSocket (RFC 6455) pieces of --serve:
// a request head, the handshake's accept key, and frames. Pure functions on
// bytes, so each case can be tested and fuzzed without a socket.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace app::serve {

inline constexpr std::size_t kMaxHead = 8192;        // request line and headers
inline constexpr std::size_t kMaxFrame = 64 * 1024;  // a client frame's payload

struct Request {
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  // The value of a header (the first), or empty.
  std::string_view header(std::string_view name) const;
};

// The head up to and including its blank line. False for anything that is
// not a well-formed HTTP/1.1 (or 1.0) request head.
bool parseRequest(std::string_view head, Request* out);

// Whether a comma-separated header value (Connection, Upgrade,
// Sec-WebSocket-Protocol) holds `token`, compared without case.
bool hasToken(std::string_view list, std::string_view token);

// Whether a Host or Origin names this machine's loopback: localhost, an
// address in 127.0.0.0/8 or [::1], with or without a port (and, for an
// Origin, a scheme).
bool isLoopbackHost(std::string_view host);

// Sec-WebSocket-Accept for a Sec-WebSocket-Key.
std::string websocketAccept(std::string_view key);
// SHA-1 and base64, as the handshake uses them.
std::string sha1(std::string_view data);
std::string base64(std::string_view data);

enum class Opcode : std::uint8_t { Continuation = 0, Text = 1, Binary = 2, Close = 8, Ping = 9, Pong = 10 };

struct Frame {
  Opcode opcode = Opcode::Text;
  std::string payload;  // unmasked
};

// One client frame from the front of `data`: the bytes it took (> 0), 0 when
// more bytes are needed, or -1 with the close code to send (1002 protocol
// error: unmasked, reserved bits, unknown opcode, bad control frame, a
// close body that is one byte or a code no peer may send; 1007 text or a
// close reason that is not UTF-8; 1009 too big; 1008 fragmented, which this
// server does not take).
int parseClientFrame(std::string_view data, Frame* out, std::uint16_t* closeCode);

// A server frame (unmasked, final).
std::string serverFrame(Opcode opcode, std::string_view payload);

}  // namespace app::serve
