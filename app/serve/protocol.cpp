// SPDX-License-Identifier: Apache-2.0
#include "app/serve/protocol.h"

#include <array>
#include <cstring>

#include "lms/engine/link_name.h"
#include "platform/text.h"

namespace app::serve {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool tokenChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

std::uint32_t rotl(std::uint32_t v, int n) {
  return (v << n) | (v >> (32 - n));
}

}  // namespace

std::string_view Request::header(std::string_view name) const {
  for (const auto& [n, v] : headers)
    if (n == name) return v;
  return {};
}

bool parseRequest(std::string_view head, Request* out) {
  if (head.size() > kMaxHead || head.size() < 4 || head.substr(head.size() - 4) != "\r\n\r\n") return false;
  *out = {};
  std::size_t at = head.find("\r\n");
  const std::string_view line = head.substr(0, at);
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) return false;
  out->method = line.substr(0, sp1);
  out->target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string_view version = line.substr(sp2 + 1);
  if (out->method.empty() || out->target.empty() || (version != "HTTP/1.1" && version != "HTTP/1.0"))
    return false;
  for (const char c : out->method)
    if (!tokenChar(c)) return false;
  for (const char c : out->target)
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) return false;
  at += 2;
  while (at < head.size() - 2) {
    const std::size_t end = head.find("\r\n", at);
    const std::string_view field = head.substr(at, end - at);
    const std::size_t colon = field.find(':');
    if (colon == 0 || colon == std::string_view::npos || out->headers.size() >= 100) return false;
    for (std::size_t i = 0; i < colon; ++i)
      if (!tokenChar(field[i])) return false;
    const std::string_view value = trim(field.substr(colon + 1));
    for (const char c : value)
      if ((static_cast<unsigned char>(c) < ' ' && c != '\t') || c == 0x7F) return false;
    out->headers.emplace_back(lower(field.substr(0, colon)), std::string(value));
    at = end + 2;
  }
  return true;
}

bool hasToken(std::string_view list, std::string_view token) {
  const std::string wanted = lower(token);
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t end = list.find(',', at);
    if (end == std::string_view::npos) end = list.size();
    if (lower(trim(list.substr(at, end - at))) == wanted) return true;
    at = end + 1;
  }
  return false;
}

bool isLoopbackHost(std::string_view host) {
  host = trim(host);
  for (const std::string_view scheme : {"http://", "https://"})
    if (host.substr(0, scheme.size()) == scheme) host.remove_prefix(scheme.size());
  if (host.substr(0, 5) == "[::1]") {
    host.remove_prefix(5);
  } else {
    const std::size_t colon = host.find(':');
    const std::string name = lower(host.substr(0, colon));
    host = colon == std::string_view::npos ? std::string_view() : host.substr(colon);
    if (name != "localhost" && !(name.rfind("127.", 0) == 0 && lms::isDottedIPv4(name))) return false;
  }
  if (host.empty()) return true;
  // ":port"
  return host.size() >= 2 && host.size() <= 6 && host[0] == ':' &&
         host.substr(1).find_first_not_of("0123456789") == std::string_view::npos;
}

std::string sha1(std::string_view data) {
  std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::string m(data);
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  m.push_back(static_cast<char>(0x80));
  while (m.size() % 64 != 56) m.push_back('\0');
  for (int i = 7; i >= 0; --i) m.push_back(static_cast<char>((bits >> (i * 8)) & 0xFF));
  for (std::size_t block = 0; block < m.size(); block += 64) {
    std::array<std::uint32_t, 80> w{};
    for (int i = 0; i < 16; ++i)
      for (int b = 0; b < 4; ++b)
        w[i] = (w[i] << 8) | static_cast<unsigned char>(m[block + static_cast<std::size_t>(i * 4 + b)]);
    for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
      std::uint32_t f = 0, k = 0;
      if (i < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999;
      } else if (i < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (i < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
      }
      const std::uint32_t t = rotl(a, 5) + f + e + k + w[i];
      e = d;
      d = c;
      c = rotl(b, 30);
      b = a;
      a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  std::string out;
  for (const std::uint32_t v : h)
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>((v >> (i * 8)) & 0xFF));
  return out;
}

std::string base64(std::string_view data) {
  static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const std::uint32_t v = (static_cast<unsigned char>(data[i]) << 16) |
                            (static_cast<unsigned char>(data[i + 1]) << 8) |
                            static_cast<unsigned char>(data[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out.push_back(table[(v >> s) & 63]);
  }
  if (i < data.size()) {
    std::uint32_t v = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) v |= static_cast<unsigned char>(data[i + 1]) << 8;
    out.push_back(table[(v >> 18) & 63]);
    out.push_back(table[(v >> 12) & 63]);
    out.push_back(i + 1 < data.size() ? table[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string websocketAccept(std::string_view key) {
  return base64(sha1(std::string(trim(key)) + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"));
}

int parseClientFrame(std::string_view data, Frame* out, std::uint16_t* closeCode) {
  if (data.size() < 2) return 0;
  const auto b0 = static_cast<unsigned char>(data[0]);
  const auto b1 = static_cast<unsigned char>(data[1]);
  const bool fin = (b0 & 0x80) != 0;
  const auto opcode = static_cast<std::uint8_t>(b0 & 0x0F);
  const bool control = opcode >= 8;
  auto fail = [closeCode](std::uint16_t code) {
    *closeCode = code;
    return -1;
  };
  if ((b0 & 0x70) != 0) return fail(1002);  // no extension was agreed
  if (!(opcode <= 2 || (opcode >= 8 && opcode <= 10))) return fail(1002);
  if ((b1 & 0x80) == 0) return fail(1002);  // a client must mask
  std::uint64_t length = b1 & 0x7F;
  std::size_t at = 2;
  if (control && (length > 125 || !fin)) return fail(1002);
  if (!control && (!fin || opcode == 0)) return fail(1008);
  if (length == 126) {
    if (data.size() < 4) return 0;
    length = (static_cast<unsigned char>(data[2]) << 8) | static_cast<unsigned char>(data[3]);
    at = 4;
  } else if (length == 127) {
    if (data.size() < 10) return 0;
    length = 0;
    for (int i = 0; i < 8; ++i)
      length = (length << 8) | static_cast<unsigned char>(data[2 + static_cast<std::size_t>(i)]);
    at = 10;
  }
  if (length > kMaxFrame) return fail(1009);
  if (data.size() < at + 4 + length) return 0;
  const std::string_view mask = data.substr(at, 4);
  at += 4;
  out->opcode = static_cast<Opcode>(opcode);
  out->payload.assign(data.substr(at, static_cast<std::size_t>(length)));
  for (std::size_t i = 0; i < out->payload.size(); ++i)
    out->payload[i] = static_cast<char>(out->payload[i] ^ mask[i % 4]);
  if (out->opcode == Opcode::Close && !out->payload.empty()) {
    // A close body is a code a peer may send (never 1005, 1006 or 1015)
    // and a UTF-8 reason.
    if (out->payload.size() < 2) return fail(1002);
    const int code =
        (static_cast<unsigned char>(out->payload[0]) << 8) | static_cast<unsigned char>(out->payload[1]);
    const bool sendable =
        (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) || (code >= 3000 && code <= 4999);
    if (!sendable) return fail(1002);
    if (!platform::validUtf8(std::string_view(out->payload).substr(2))) return fail(1007);
  }
  if (out->opcode == Opcode::Text && !platform::validUtf8(out->payload)) return fail(1007);
  return static_cast<int>(at + length);
}

std::string serverFrame(Opcode opcode, std::string_view payload) {
  std::string out;
  out.push_back(static_cast<char>(0x80 | static_cast<std::uint8_t>(opcode)));
  const std::size_t n = payload.size();
  if (n < 126) {
    out.push_back(static_cast<char>(n));
  } else if (n < 65536) {
    out.push_back(126);
    out.push_back(static_cast<char>(n >> 8));
    out.push_back(static_cast<char>(n & 0xFF));
  } else {
    out.push_back(127);
    for (int i = 7; i >= 0; --i)
      out.push_back(static_cast<char>((static_cast<std::uint64_t>(n) >> (i * 8)) & 0xFF));
  }
  out += payload;
  return out;
}

}  // namespace app::serve
