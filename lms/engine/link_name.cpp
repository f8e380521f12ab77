// SPDX-License-Identifier: Apache-2.0
#include "lms/engine/link_name.h"

#include <charconv>

#include "lms/protocol/scanner_constants.h"
#include "transport/serial_port.h"

namespace lms {

namespace {

bool number(std::string_view text, long lo, long hi, long* out) {
  long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// "COM3" (in any case: "com3", "Com3", as Windows names devices), as a
// device the driver opens.
bool comDevice(std::string_view text, std::string* device) {
  long n = 0;
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  if (text.size() < 4 || upper(text[0]) != 'C' || upper(text[1]) != 'O' || upper(text[2]) != 'M' ||
      !number(text.substr(3), 1, 255, &n))
    return false;
  // COM1..COM10 keep their name (the driver's own); higher ones are named by device path.
  *device = n <= 10 ? "COM" + std::to_string(n) : transport::SerialPort::devicePathFor(static_cast<int>(n));
  return true;
}

}  // namespace

bool isDottedIPv4(std::string_view text) {
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = text.find('.');
    const std::string_view field = text.substr(0, dot);
    long v = 0;
    if (field.size() > 3 || !number(field, 0, 255, &v)) return false;
    if (part < 3 && dot == std::string_view::npos) return false;
    text = part < 3 ? text.substr(dot + 1) : std::string_view();
    if (part == 3 && dot != std::string_view::npos) return false;
  }
  return true;
}

bool parseLinkName(std::string_view text, LinkName* out) {
  LinkName name;
  if (text.substr(0, 6) == "tcp://") {
    std::string_view rest = text.substr(6);
    const std::size_t colon = rest.find(':');
    long port = kScannerPort;
    if (colon != std::string_view::npos && !number(rest.substr(colon + 1), 1, 65535, &port)) return false;
    rest = rest.substr(0, colon);
    if (!isDottedIPv4(rest)) return false;
    name.address = rest;
    name.port = static_cast<std::uint16_t>(port);
  } else if (text.substr(0, 9) == "serial://") {
    const std::string_view device = text.substr(9);
    name.serial = true;
    if (!comDevice(device, &name.device)) {
      if (!transport::isDevicePath(device)) return false;
      name.device = device;
    }
  } else if (text.substr(0, 5) == "file:" && text.size() > 5) {
    name.recording = text.substr(5);
    constexpr std::string_view kTopic = "?topic=";
    if (const std::size_t at = name.recording.rfind(kTopic); at != std::string::npos) {
      name.recordingTopic = name.recording.substr(at + kTopic.size());
      name.recording.resize(at);
      if (name.recording.empty() || name.recordingTopic.empty()) return false;
    }
  } else if (text.substr(0, 4) == "COM ") {
    const std::string_view where = text.substr(4);
    name.serial = true;
    long n = 0;
    if (number(where, 1, 10, &n) && where.front() != '0' && where.front() != '+')
      name.device = "COM" + std::string(where);
    else if (transport::isDevicePath(where))
      name.device = where;
    else
      return false;
  } else if (text.substr(0, 3) == "IP ") {
    // The command line passes the address on as typed; the connect says
    // when it is not one.
    name.address = text.substr(3);
    name.port = kScannerPort;
  } else {
    return false;
  }
  *out = std::move(name);
  return true;
}

}  // namespace lms
