// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/reply.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "lms/protocol/telegram.h"

namespace lms {

namespace {

constexpr std::uint8_t kReplyStart[2] = {0x02, 0x80};

int lengthField(const std::uint8_t* buf) {
  return buf[2] | (buf[3] << 8);
}

int countWord(const std::uint8_t* buf) {
  return buf[5] | (buf[6] << 8);
}

}  // namespace

int pointsOfLength(int length) {
  // The length field counts the command, the count word, the words and the status byte.
  const int points = (length - 4) / 2;
  return length % 2 == 0 && variantOf(points) != nullptr ? points : 0;
}

namespace {

constexpr Variant kVariants[] = {
    {101, 100, 100, "100/1", "100° at 1°"},      {181, 180, 100, "180/1", "180° at 1°"},
    {201, 100, 50, "100/0.5", "100° at 0.5°"},   {361, 180, 50, "180/0.5", "180° at 0.5°"},
    {401, 100, 25, "100/0.25", "100° at 0.25°"},
};
static_assert(kVariants[0].points == kMinScanPoints && kVariants[4].points == kMaxScanPoints);

}  // namespace

std::span<const Variant> variants() {
  return kVariants;
}

const Variant* variantOf(int points) {
  for (const Variant& v : kVariants)
    if (v.points == points) return &v;
  return nullptr;
}

const Variant* variantNamed(std::string_view name) {
  for (const Variant& v : kVariants)
    if (name == v.name) return &v;
  return nullptr;
}

std::string variantNames() {
  // The wide field first, each from its coarsest resolution.
  std::string names;
  int left = static_cast<int>(std::size(kVariants));
  for (const int field : {180, 100})
    for (const int resolution : {100, 50, 25})
      for (const Variant& v : kVariants)
        if (v.fieldDegrees == field && v.resolutionHundredths == resolution)
          names += std::string(names.empty() ? "" : --left == 0 ? " or " : ", ") + v.name;
  return names;
}

std::string variantPointNames() {
  std::string names;
  for (std::size_t i = 0; i < std::size(kVariants); ++i)
    names += (i == 0                          ? ""
              : i + 1 == std::size(kVariants) ? " or "
                                              : ", ") +
             std::to_string(kVariants[i].points);
  return names;
}

int pointsHolding(int n) {
  for (const Variant& v : kVariants)
    if (v.points >= n) return v.points;
  return 0;
}

Units unitsOf(const lmsview::Geometry& g) {
  const long perMetre = g.range_unit > 0 ? std::lround(1.0 / g.range_unit) : 1000;
  return perMetre == 100 ? Units::Centimetres : perMetre == 10 ? Units::Decimetres : Units::Millimetres;
}

lmsview::Geometry replyGeometry(int points, Units units) {
  lmsview::Geometry g;
  g.count = static_cast<std::size_t>(points);
  const Variant* v = variantOf(points);
  const double field = v ? v->fieldDegrees : 180.0;
  g.angle_increment = v ? v->resolutionHundredths * std::numbers::pi / 18000.0
                        : field * std::numbers::pi / 180.0 / std::max(points - 1, 1);
  g.angle_min = -field * std::numbers::pi / 360.0;
  const double perMetre = countsPerMetre(units);
  g.range_unit = 1.0 / perMetre;
  g.range_min = kMinRawRange / perMetre;
  g.range_max = kMaxRawRange / perMetre;
  return g;
}

int measurementReplyLength(const std::uint8_t* buf, int length) {
  for (int i = 0; i < length && i < 2; ++i) {
    if (buf[i] != kReplyStart[i]) return -1;
  }
  if (length < 4) return 0;
  const int points = pointsOfLength(lengthField(buf));
  return points == 0 ? -1 : kRangeOffset + 2 * points + 3;
}

ReplyCheck checkMeasurementReply(const std::uint8_t* buf, int length) {
  if (length < 4) return ReplyCheck::NotAReply;
  const int whole = measurementReplyLength(buf, length);
  if (whole <= 0) return ReplyCheck::NotAReply;
  if (length < whole) return ReplyCheck::TooShort;
  const std::uint16_t crc = lmsCrc16(buf, whole - 2);
  const std::uint16_t sent = static_cast<std::uint16_t>(buf[whole - 2] | (buf[whole - 1] << 8));
  if (crc != sent) return ReplyCheck::BadChecksum;
  const int count = countWord(buf);
  if ((count & 0x3FF) != (whole - kRangeOffset - 3) / 2 || (count >> 14) == 3)
    return ReplyCheck::BadCountWord;
  return ReplyCheck::Ok;
}

int countsPerMetre(Units units) {
  switch (units) {
    case Units::Centimetres:
      return 100;
    case Units::Millimetres:
      return 1000;
    case Units::Decimetres:
      return 10;
  }
  return 1000;
}

const char* unitsName(Units units) {
  switch (units) {
    case Units::Centimetres:
      return "cm";
    case Units::Millimetres:
      return "mm";
    case Units::Decimetres:
      return "dm";
  }
  return "mm";
}

Units replyUnits(const std::uint8_t* reply) {
  return static_cast<Units>(countWord(reply) >> 14);
}

const char* replyCheckText(ReplyCheck check) {
  switch (check) {
    case ReplyCheck::Ok:
      return "valid reply";
    case ReplyCheck::NotAReply:
      return "not a measurement reply";
    case ReplyCheck::TooShort:
      return "reply too short";
    case ReplyCheck::BadChecksum:
      return "checksum mismatch";
    case ReplyCheck::BadCountWord:
      return "count word disagrees with the reply's length";
  }
  return "unknown";
}

void decodeMeasurementReply(const std::uint8_t* reply, lmsview::Scan* out) {
  const int points = pointsOfLength(lengthField(reply));
  out->geometry = replyGeometry(points, replyUnits(reply));
  out->words.resize(static_cast<std::size_t>(points));
  decodeWords(reply + kRangeOffset, points, out->words.data());
  setRangesFromWords(out);
}

void setRangesFromWords(lmsview::Scan* scan) {
  // Divided by the whole number of counts a metre, so a millimetre word
  // gives exactly the float nearest raw / 1000.
  const double perMetre = std::round(1.0 / scan->geometry.range_unit);
  scan->ranges.resize(scan->words.size());
  for (std::size_t i = 0; i < scan->words.size(); ++i)
    scan->ranges[i] = static_cast<float>((scan->words[i] & 0x1FFF) / perMetre);
}

bool isDistance(const lmsview::Scan& scan, std::size_t i) {
  if (i < scan.words.size()) {
    // A point a filter hid is NaN (its word is kept as it came).
    const int raw = scan.words[i] & 0x1FFF;
    return raw >= kMinRawRange && raw <= kMaxRawRange &&
           !(i < scan.ranges.size() && std::isnan(scan.ranges[i]));
  }
  const float r = i < scan.ranges.size() ? scan.ranges[i] : 0.0f;
  return r > 0 && r >= static_cast<float>(scan.geometry.range_min) &&
         r <= static_cast<float>(scan.geometry.range_max);
}

void decodeRanges(int length, const std::uint8_t* data, float* ranges, int* count) {
  int index = 0;
  for (int j = 0; j + 1 < length; j += 2) {
    const int raw = data[j] + 256 * (data[j + 1] & 0x1F);
    ranges[index++] = static_cast<float>(raw / 10.0);
  }
  *count = index;
}

void decodeWords(const std::uint8_t* data, int count, std::uint16_t* words) {
  for (int i = 0; i < count; ++i) words[i] = static_cast<std::uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
}

}  // namespace lms
