#pragma once

// The measurement reply and its decoding.
//
// Reply layout: 02 80 D6 02 (start, reply address, length 726), the reply
// command, a 16-bit word, 361 range words (16-bit little-endian, bits 0-12
// the raw range, bits 13-15 flags that are ignored), one status byte and the
// checksum: 732 bytes.

#include <array>
#include <cstdint>
#include <numbers>

namespace lms {

inline constexpr int kScanPoints = 361;
inline constexpr int kReplyLength = 732;
inline constexpr int kRangeOffset = 7;
inline constexpr int kRangeBytes = 2 * kScanPoints;

// The ranges that are measurements, in metres: a word of 0 means no echo,
// and the largest raw values (above 8180 mm) are the scanner's codes for
// dazzle or nothing seen. Everything outside is not a distance.
inline constexpr double kRangeMinMetres = 0.01;
inline constexpr double kRangeMaxMetres = 8.18;
inline constexpr bool isValidRange(double metres) {
  return metres >= kRangeMinMetres && metres <= kRangeMaxMetres;
}

enum class ReplyCheck { Ok, NotAReply, TooShort, BadChecksum };

// Whether `length` bytes at `buf` are one whole measurement reply: the header,
// at least 732 bytes, and a checksum over bytes 0..729 equal to bytes 730-731.
ReplyCheck checkMeasurementReply(const std::uint8_t* buf, int length);

// Whether `length` bytes (possibly fewer than four) agree with the start of a
// measurement reply, so that more bytes could make one.
bool mayBeginMeasurementReply(const std::uint8_t* buf, int length);

// Why a buffer was rejected, as a few words for the driver's message.
const char* replyCheckText(ReplyCheck check);

// Decodes `length` bytes of range words into ranges[] (raw value / 10) and
// stores the number of values written in *count.
void decodeRanges(int length, const std::uint8_t* data, float* ranges, int* count);

// The raw 16-bit range words (flag bits included) of `count` points.
void decodeWords(const std::uint8_t* data, int count, std::uint16_t* words);

// angle[i] = i * 0.5 degrees in radians: the float nearest i * pi / 360. The
// one table every scan shares.
inline constexpr std::array<float, kScanPoints> kAngleTable = [] {
  std::array<float, kScanPoints> a{};
  for (int i = 0; i < kScanPoints; ++i)
    a[static_cast<std::size_t>(i)] = static_cast<float>((i * 0.5 * std::numbers::pi) / 180.0);
  return a;
}();

}  // namespace lms
