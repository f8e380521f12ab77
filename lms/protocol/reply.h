// SPDX-License-Identifier: Apache-2.0
#pragma once

// The measurement reply and its decoding: the one place where a scan's
// geometry is known and where raw words become metres.
//
// Reply layout: 02 80 (start, reply address), a 16-bit little-endian length
// L, the reply command, a 16-bit count word (bits 0-9 the number of range
// words, bits 14-15 the range unit), the range words (16-bit little-endian,
// bits 0-12 the raw range, bits 13-15 flags), one status byte and the
// checksum: L + 6 bytes. The length names the variant the scanner is set
// to: L = 4 + 2 * points.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "lmsview/scan.h"

namespace lms {

inline constexpr int kScanPoints = 361;  // the usual variant's points (180 degrees at 0.5)
inline constexpr int kMinScanPoints = 101;
inline constexpr int kMaxScanPoints = 401;
inline constexpr int kRangeOffset = 7;
inline constexpr int kReplyLength = kRangeOffset + 2 * kScanPoints + 3;
inline constexpr int kMaxReplyLength = kRangeOffset + 2 * kMaxScanPoints + 3;
inline constexpr int kRangeBytes = 2 * kScanPoints;

// The largest raw range that is a measurement; the values above it are the
// scanner's codes (dazzle, nothing seen), and 0 is no echo.
inline constexpr int kMaxRawRange = 8180;
inline constexpr int kMinRawRange = 10;

// The range unit the scanner reports in, by the code its count word and its
// configuration telegram give it.
enum class Units { Centimetres = 0, Millimetres = 1, Decimetres = 2 };
// Counts of the unit in a metre: 100, 1000 or 10.
int countsPerMetre(Units units);
// "mm", "cm" or "dm".
const char* unitsName(Units units);
// The unit of a scan's raw words, by its geometry's range_unit.
Units unitsOf(const lmsview::Geometry& g);

// A field of view and resolution the scanner can be set to, and the points
// its reply then carries. The field is centred on straight ahead.
struct Variant {
  int points;
  int fieldDegrees;
  int resolutionHundredths;  // of a degree: 100, 50 or 25
  const char* name;          // as the command line writes it: "180/0.5"
  const char* shown;         // as messages say it: "180° at 0.5°"
};
// The five, smallest reply first.
std::span<const Variant> variants();
// The variant whose replies carry `points` points, or nullptr.
const Variant* variantOf(int points);
// The variant a name ("100/0.25") names, or nullptr.
const Variant* variantNamed(std::string_view name);
// Every variant's name for messages: "180/1, 180/0.5, 100/1, 100/0.5 or
// 100/0.25"; and their points: "101, 181, 201, 361 or 401".
std::string variantNames();
std::string variantPointNames();

// The geometry of a reply of `points` points in `units`, in the robotics
// convention: angle 0 straight ahead, counter-clockwise seen from above,
// point 0 at the scanner's right (a 180-degree field runs from -pi/2 to
// +pi/2, a 100-degree one from -50 to +50 degrees).
lmsview::Geometry replyGeometry(int points, Units units = Units::Millimetres);

// The points of a reply whose length field says `length`, or 0 when no
// variant has that length.
int pointsOfLength(int length);
// The points of the smallest scan that holds `n` values (1 to kMaxScanPoints).
int pointsHolding(int n);

enum class ReplyCheck { Ok, NotAReply, TooShort, BadChecksum, BadCountWord };

// Whether `length` bytes at `buf` begin with one whole measurement reply: the
// header with a known length, all of its bytes, a checksum over all but its
// last two equal to those two, and a count word that agrees with the length
// and names a unit (a reply whose count word disagrees was corrupted before
// its checksum was made, or is not what it seems).
ReplyCheck checkMeasurementReply(const std::uint8_t* buf, int length);

// The whole length of the measurement reply that `length` bytes (possibly
// fewer than four) begin, once its header says; 0 while they could still
// begin one whose length is not yet known; -1 when they cannot begin one.
int measurementReplyLength(const std::uint8_t* buf, int length);

// Why a buffer was rejected, as a few words for the driver's message.
const char* replyCheckText(ReplyCheck check);

// The range unit a checked reply states in its count word.
Units replyUnits(const std::uint8_t* reply);

// Decodes a checked reply into `out`: its geometry (in the unit the reply
// states), its raw words and its ranges in metres. `out`'s buffers are
// reused (no allocation once they are large enough). Seq and stamps are the
// caller's.
void decodeMeasurementReply(const std::uint8_t* reply, lmsview::Scan* out);

// The ranges in metres of `scan`'s words, by its geometry's unit: every
// scan's metres come from here.
void setRangesFromWords(lmsview::Scan* scan);

// Whether point `i` of `scan` is a distance: its raw word's range bits from
// kMinRawRange to kMaxRawRange (0 is no echo, above are the scanner's
// codes). Every output asks here: the metres lie a float's rounding away
// from range_min and range_max, so comparing them would lose the points on
// those limits. A scan without words is judged by its ranges in single
// precision, which round as the words' metres do.
bool isDistance(const lmsview::Scan& scan, std::size_t i);

// Decodes `length` bytes of range words into ranges[] (raw value / 10:
// centimetres in the usual unit) and stores the number of values written in *count.
void decodeRanges(int length, const std::uint8_t* data, float* ranges, int* count);

// The raw 16-bit range words (flag bits included) of `count` points.
void decodeWords(const std::uint8_t* data, int count, std::uint16_t* words);

}  // namespace lms
