// SPDX-License-Identifier: Apache-2.0
#include "app/find.h"

#include <cstdio>

#include "lms/protocol/scanner_constants.h"
#include "platform/error.h"
#include "platform/output.h"
#include "platform/text.h"

namespace app {

std::string findLine(const FindPlace& place, int baud, const lms::ProbeResult& r) {
  const std::string keyword = place.serial ? "COM " : "IP ";
  const std::string where = keyword + platform::printable(place.shown);
  if (!r.opened) return where + ": cannot look: " + platform::errorText(r.error) + "\n";
  if (!r.found) return "";
  const std::string rate = place.serial ? " at " + std::to_string(baud) + " baud" : "";
  if (r.refused) return where + ": a scanner" + rate + " that refuses requests (NAK)\n";
  const lms::Variant* v = lms::variantOf(r.points);
  std::string command = "lmsview";
  if (place.serial && baud != lms::kSerialBaud) command += " --baud " + std::to_string(baud);
  if (r.units != lms::Units::Millimetres) command += std::string(" --units ") + lms::unitsName(r.units);
  if (r.streaming) command += " --stream";
  command += " " + where + " LMS";
  return where + ": LMS" + rate + ", " + (v ? v->name : "?") + ", " + lms::unitsName(r.units) + ", " +
         (r.streaming ? "streaming" : "polled") + ": " + command + "\n";
}

std::vector<FindPlace> listedPlaces(const std::vector<transport::SerialDeviceInfo>& devices) {
  std::vector<FindPlace> places;
  places.reserve(devices.size());
  for (const auto& d : devices) places.push_back({.serial = true, .shown = d.path, .device = d.path});
  return places;
}

int runFind(const std::vector<FindPlace>& places) {
  bool any = false;
  for (const FindPlace& place : places) {
    if (!place.serial) {
      const lms::ProbeResult r = lms::probeTcp(place.device, lms::kScannerPort);
      any = any || r.found;
      platform::writeStdout(findLine(place, 0, r));
      continue;
    }
    for (const int baud : lms::kScannerRates) {
      const lms::ProbeResult r = lms::probeSerial(place.device, baud);
      platform::writeStdout(findLine(place, baud, r));
      any = any || r.found;
      // A device that cannot be opened, or a scanner found, ends the look at it.
      if (!r.opened || r.found) break;
    }
  }
  if (!any) std::fprintf(stderr, "lmsview: --find: no scanner found\n");
  return any ? 0 : 1;
}

}  // namespace app
