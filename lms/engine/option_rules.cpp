// SPDX-License-Identifier: Apache-2.0
#include "lms/engine/option_rules.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <type_traits>

#include "lms/engine/engine.h"
#include "lms/engine/link_name.h"
#include "lms/protocol/reply.h"
#include "lms/protocol/scanner_constants.h"
#include "lmsview/scanner.h"

namespace lms {

namespace {

template <class T>
std::string shown(const T& value) {
  if constexpr (std::is_arithmetic_v<T>)
    return std::to_string(value);
  else
    return "'" + std::string(value) + "'";
}

template <class T>
std::string must(const char* option, const std::string& takes, const T& value) {
  return std::string(option) + " must be " + takes + ", not " + shown(value);
}

// "-100", "12.5": as short as reads back.
std::string number(double v) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

bool isRate(std::int64_t baud) {
  return baud > 0 && baud <= 1'000'000 && isScannerRate(static_cast<int>(baud));
}

Units unitsOf(std::string_view name) {
  for (const Units u : {Units::Millimetres, Units::Centimetres, Units::Decimetres})
    if (name == unitsName(u)) return u;
  return Units::Millimetres;
}

}  // namespace

std::string checkFamily(std::string_view family) {
  return family == "LMS" || family == "PLS" ? "" : must("family", "LMS or PLS", family);
}

std::string checkBaud(std::int64_t baud) {
  return baud == 0 || isRate(baud) ? "" : must("baud", scannerRateNames() + " (or 0: find it)", baud);
}

std::string checkScannerBaud(std::int64_t baud) {
  return baud == 0 || isRate(baud) ? ""
                                   : must("scanner_baud", scannerRateNames() + " (or 0: leave it)", baud);
}

std::string checkInterval(std::int64_t ms) {
  return ms >= 0 && ms <= kMaxIntervalMs
             ? ""
             : must("interval", "0 to " + std::to_string(kMaxIntervalMs) + " ms (an hour)", ms);
}

std::string checkQueue(std::uint64_t scans) {
  return scans >= 1 && scans <= kMaxQueue
             ? ""
             : must("queue", "1 to " + std::to_string(kMaxQueue) + " scans", scans);
}

std::string checkVariant(std::string_view name) {
  return name.empty() || variantNamed(name) ? "" : must("variant", variantNames(), name);
}

std::string checkUnits(std::string_view units) {
  for (const Units u : {Units::Millimetres, Units::Centimetres, Units::Decimetres})
    if (units == unitsName(u)) return "";
  return must("units", "mm, cm or dm", units);
}

std::string checkFilter(const lmsview::ScanFilter& f, std::string_view variant) {
  const auto finite = [](double v) { return std::isfinite(v); };
  if (std::isnan(f.crop_min_deg) || std::isnan(f.crop_max_deg)) return "crop: degrees are numbers";
  if (f.crop_min_deg >= f.crop_max_deg)
    return "crop: the sector kept is empty (from " + number(f.crop_min_deg) + " to " +
           number(f.crop_max_deg) + " degrees)";
  const Variant* v = variantNamed(variant);
  const double half = (v ? v->fieldDegrees : 180) / 2.0;
  if (f.crop_max_deg < -half || f.crop_min_deg > half)
    return "crop: " + number(f.crop_min_deg) + " to " + number(f.crop_max_deg) +
           " degrees lies outside the scanner's field (" + number(-half) + " to " + number(half) + ")";
  for (const auto& [from, to] : f.mask_deg)
    if (!finite(from) || !finite(to)) return "mask: degrees are finite numbers";
  if (std::isnan(f.range_min_m) || std::isnan(f.range_max_m) || f.range_min_m < 0 ||
      f.range_min_m >= f.range_max_m)
    return "range: from a distance of 0 m or more to a greater one";
  return "";
}

std::error_code engineOptionsFrom(const lmsview::Options& o, EngineOptions* e, std::string* why) {
  using lmsview::errc;
  e->link = o.link;
  e->family = o.family;
  e->baud = o.baud;
  e->scannerBaud = o.scanner_baud;
  e->reconnect = o.reconnect;
  e->intervalMs = static_cast<int>(std::clamp<std::int64_t>(o.interval.count(), 0, kMaxIntervalMs));
  e->queue = o.queue;
  e->clientStartPauseMs = 10;
  e->variant = variantNamed(o.variant);
  e->units = unitsOf(o.units);
  e->stream = o.stream;
  e->filter = o.filter;
  if (o.link.find('\0') != std::string::npos) {
    *why = "a link name with a NUL byte in it";
    return errc::bad_link_name;
  }
  for (const std::string& problem :
       {checkFamily(o.family), checkBaud(o.baud), checkScannerBaud(o.scanner_baud),
        checkInterval(o.interval.count()), checkQueue(o.queue), checkVariant(o.variant), checkUnits(o.units),
        checkFilter(o.filter, o.variant)}) {
    if (!problem.empty()) {
      *why = problem;
      return errc::bad_argument;
    }
  }
  LinkName link;
  if (parseLinkName(o.link, &link) && !link.serial && link.recording.empty() &&
      (o.baud != 9600 || o.scanner_baud != 0)) {
    *why = "baud and scanner_baud are for serial links";
    return errc::bad_argument;
  }
  return {};
}

}  // namespace lms
