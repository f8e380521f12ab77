// SPDX-License-Identifier: Apache-2.0
#pragma once

// Telegram framing, checksum and the fixed catalogue of the scanner protocol.
//
// A telegram is: 0x02, address, 16-bit little-endian length L (command + data),
// command, data, then the 16-bit checksum low byte first: L + 6 bytes in all.
// The scanner answers with 0x06 (ACK) followed by its reply telegram, or with
// another byte (0x15, NAK) when it refuses.

#include <array>
#include <cstdint>

namespace lms {

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;

std::uint16_t lmsCrc16(const std::uint8_t* data, int length);

// The length of the whole telegram at the start of `bytes` (after at most one
// ACK byte, which it counts): its length field satisfied and its checksum
// right. 0 when there is none (yet). Lets a message link end a reply at its
// last byte instead of waiting for silence.
int wholeTelegramLength(const std::uint8_t* bytes, int length);

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
// The operating modes of continuous output: every scan sent as soon as it
// is measured (msgMode24), and the end of it (msgStopLMS).
inline constexpr std::uint8_t kModeContinuous = 0x24;
inline constexpr std::uint8_t kModeStop = 0x25;
// The reply command of an operating-mode telegram's answer (0x20 + 0x80),
// and of a measurement reply (0x30 + 0x80).
inline constexpr std::uint8_t kModeReply = 0xA0;
inline constexpr std::uint8_t kMeasurementReply = 0xB0;
// The operating-mode telegram that moves the scanner's line to `baud`
// (9600, 19200, 38400 or 500000), or nullptr for a rate it has none for.
const Bytes6* baudTelegram(int baud);
// The rate an operating-mode telegram's code asks for, or 0 (another mode).
int baudOfModeCode(std::uint8_t code);
// The variant telegram for a field (100 or 180 degrees) at a resolution in
// hundredths of a degree (25, 50 or 100), or nullptr for one it has none for.
const Bytes9* variantTelegram(int fieldDegrees, int resolutionHundredths);
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

}  // namespace lms
