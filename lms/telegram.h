#pragma once

// Telegram framing, checksum and the fixed catalogue of the scanner protocol,
// and the two exchange operations every command goes through.
//
// A telegram is: 0x02, address, 16-bit little-endian length L (command + data),
// command, data, then the 16-bit checksum low byte first: L + 6 bytes in all.
// The scanner answers with 0x06 (ACK) followed by its reply telegram, or with
// another byte (0x15, NAK) when it refuses.
//
// The exchange operations run on one thread (the acquisition thread) and take
// the link explicitly; they keep no state of their own.

#include <array>
#include <concepts>
#include <cstdint>

#include "platform/clock.h"

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;

// Size of one read of an answer.
inline constexpr int kReplyReadSize = 802;
// How long waitAck waits for the first answer byte. A scanner answers within a
// few milliseconds; a second and a half also covers a slow serial gateway.
inline constexpr int kAckTimeoutMs = 1500;

std::uint16_t lmsCrc16(const std::uint8_t* data, int length);

// ---- catalogue: telegrams to the scanner, without checksum ----
using Bytes6 = std::array<std::uint8_t, 6>;
using Bytes9 = std::array<std::uint8_t, 9>;
using Bytes12 = std::array<std::uint8_t, 12>;

inline constexpr Bytes9 msgRange100Res100{0x02, 0x00, 0x05, 0x00, 0x3B, 0x64, 0x00, 0x64, 0x00};
inline constexpr Bytes9 msgRange100Res50{0x02, 0x00, 0x05, 0x00, 0x3B, 0x64, 0x00, 0x32, 0x00};
inline constexpr Bytes9 msgRange100Res25{0x02, 0x00, 0x05, 0x00, 0x3B, 0x64, 0x00, 0x19, 0x00};
inline constexpr Bytes9 msgRange180Res100{0x02, 0x00, 0x05, 0x00, 0x3B, 0xB4, 0x00, 0x64, 0x00};
inline constexpr Bytes9 msgRange180Res50{0x02, 0x00, 0x05, 0x00, 0x3B, 0xB4, 0x00, 0x32, 0x00};
inline constexpr std::array<std::uint8_t, 5> msgCommand31{0x02, 0x00, 0x01, 0x00, 0x31};
inline constexpr Bytes6 msgRequestScan{0x02, 0x00, 0x02, 0x00, 0x30, 0x01};
inline constexpr Bytes6 msgMode24{0x02, 0x00, 0x02, 0x00, 0x20, 0x24};
inline constexpr Bytes6 msgStopLMS{0x02, 0x00, 0x02, 0x00, 0x20, 0x25};
inline constexpr Bytes6 msgBaud9600{0x02, 0x00, 0x02, 0x00, 0x20, 0x42};
inline constexpr Bytes6 msgBaud19200{0x02, 0x00, 0x02, 0x00, 0x20, 0x41};
inline constexpr Bytes6 msgBaud38400{0x02, 0x00, 0x02, 0x00, 0x20, 0x40};
inline constexpr Bytes6 msgMode48{0x02, 0x00, 0x02, 0x00, 0x20, 0x48};
inline constexpr std::array<std::uint8_t, 14> msgPassword{0x02, 0x00, 0x0A, 0x00, 0x20, 0x00, 'C',
                                                          'F',  'G',  '_',  'M',  'O',  'D',  'E'};

inline constexpr int kConfigBytes = 34;
inline constexpr int kUnitsByte = 11;  // telegram byte holding the measured-value unit
inline constexpr std::array<std::uint8_t, 39> msgConfig{
    0x02, 0x00, 0x23, 0x00, 0x77,                                                  // header, command
    0x00, 0x00, 0x46, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x02,        // configuration
    0x00, 0x00, 0x0A, 0x0A, 0x50, 0x64, 0x00, 0x0A, 0x0A, 0x50, 0x80, 0x00, 0x0A,  //
    0x0A, 0x50, 0x64, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00};

// ---- catalogue: expected replies (ACK byte, then the reply without checksum) ----
inline constexpr Bytes12 ackmsgRange100Res100{0x06, 0x02, 0x80, 0x07, 0x00, 0xBB,
                                              0x01, 0x64, 0x00, 0x64, 0x00, 0x10};
inline constexpr Bytes12 ackmsgRange100Res50{0x06, 0x02, 0x80, 0x07, 0x00, 0xBB,
                                             0x01, 0x64, 0x00, 0x32, 0x00, 0x10};
inline constexpr Bytes12 ackmsgRange100Res25{0x06, 0x02, 0x80, 0x07, 0x00, 0xBB,
                                             0x01, 0x64, 0x00, 0x19, 0x00, 0x10};
inline constexpr Bytes12 ackmsgRange180Res100{0x06, 0x02, 0x80, 0x07, 0x00, 0xBB,
                                              0x01, 0xB4, 0x00, 0x64, 0x00, 0x10};
inline constexpr Bytes12 ackmsgRange180Res50{0x06, 0x02, 0x80, 0x07, 0x00, 0xBB,
                                             0x01, 0xB4, 0x00, 0x32, 0x00, 0x10};
inline constexpr std::array<std::uint8_t, 8> ackmsgMode{0x06, 0x02, 0x80, 0x03, 0x00, 0xA0, 0x00, 0x10};
inline constexpr std::array<std::uint8_t, 42> ackmsgConfig = [] {
  std::array<std::uint8_t, 42> a{0x06, 0x02, 0x80, 0x25, 0x00, 0xF7, 0x01};
  for (int i = 0; i < kConfigBytes; ++i) a[7 + i] = msgConfig[5 + i];
  a[41] = 0x10;
  return a;
}();

// ---- the link the exchange operations need ----
// write bytes; tell whether received data is waiting; read up to n bytes.
// `read` stores at most n bytes and returns the count of the message or bytes
// it took (a message link may report more than it stored).
template <class T>
concept TelegramLink = requires(T& t, const std::uint8_t* in, std::uint8_t* out, int n) {
  { t.write(in, n) } -> std::convertible_to<int>;
  { t.hasData() } -> std::convertible_to<bool>;
  { t.read(out, n) } -> std::convertible_to<int>;
};

// A link may also offer `bool waitData(int ms)` (block until data or timeout)
// and `bool lost()` (the peer or device is gone); waitAck uses them if present.
template <class T>
concept WaitableLink = requires(T& t, int ms) {
  { t.waitData(ms) } -> std::convertible_to<bool>;
};
template <class T>
concept LossAwareLink = requires(T& t) {
  { t.lost() } -> std::convertible_to<bool>;
};

// Bytes that came after the ACK byte in the same read: the start of the reply.
struct ReplyCarry {
  std::array<std::uint8_t, kReplyReadSize> bytes{};
  int length = 0;
  void clear() { length = 0; }
};

enum class AckResult { Ack, Refused, Timeout, LinkLost };

// Writes the telegram, then its checksum low byte and high byte: three writes.
template <TelegramLink T>
void sendTelegram(const std::uint8_t* data, int length, T& link) {
  const std::uint16_t crc = lmsCrc16(data, length);
  const std::uint8_t lo = static_cast<std::uint8_t>(crc & 0xFF);
  const std::uint8_t hi = static_cast<std::uint8_t>(crc >> 8);
  link.write(data, length);
  link.write(&lo, 1);
  link.write(&hi, 1);
}

// Waits (bounded by `timeoutMs`) for the answer, reads it once and tells how it
// began. Bytes after an ACK go to `carry` so the reply is not lost.
template <TelegramLink T>
AckResult awaitAck(T& link, ReplyCarry* carry, int timeoutMs = kAckTimeoutMs) {
  if (carry) carry->clear();
  const std::int64_t deadline = processMillis() + timeoutMs;
  while (!link.hasData()) {
    if constexpr (LossAwareLink<T>) {
      if (link.lost()) return AckResult::LinkLost;
    }
    const std::int64_t left = deadline - processMillis();
    if (left <= 0) return AckResult::Timeout;
    if constexpr (WaitableLink<T>) {
      link.waitData(static_cast<int>(left));
    } else {
      sleepMs(1);  // a poll, not a spin
    }
  }
  std::uint8_t buf[kReplyReadSize];
  const int n = link.read(buf, kReplyReadSize);
  if (n <= 0) return AckResult::Refused;
  if (buf[0] != kAck) return AckResult::Refused;
  if (carry) {
    const int stored = n < kReplyReadSize ? n : kReplyReadSize;
    for (int i = 1; i < stored; ++i) carry->bytes[static_cast<std::size_t>(i - 1)] = buf[i];
    carry->length = stored - 1;
  }
  return AckResult::Ack;
}

// True when the answer began with ACK. `expected` and `expectedLength` name the
// reply the caller expects; only the first byte decides.
template <TelegramLink T>
bool waitAck(const std::uint8_t* expected, int expectedLength, T& link, ReplyCarry* carry = nullptr) {
  (void)expected;
  (void)expectedLength;
  return awaitAck(link, carry) == AckResult::Ack;
}
