// SPDX-License-Identifier: Apache-2.0
// Windows: the serial devices from the registry's list of serial ports.

#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "transport/serial_ports.h"

namespace transport {

std::vector<SerialDeviceInfo> listSerialDevices(const std::string&) {
  std::vector<SerialDeviceInfo> found;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return found;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLength = sizeof name;
    BYTE data[256];
    DWORD dataLength = sizeof data - 1;
    DWORD type = 0;
    if (::RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    data[dataLength] = 0;
    SerialDeviceInfo info;
    info.path = "\\\\.\\" + std::string(reinterpret_cast<const char*>(data));
    const std::string driver = name;  // e.g. \Device\VCP0 (a USB adapter) or \Device\Serial0
    info.kind = (driver.find("Serial") != std::string::npos ? "on-board UART" : "USB adapter") +
                std::string(" (") + driver + ")";
    info.accessible = true;  // Windows grants or refuses a COM port at open, not by group
    found.push_back(std::move(info));
  }
  ::RegCloseKey(key);
  // COM2 before COM10: by the number after "\\.\COM".
  const auto number = [](const SerialDeviceInfo& d) { return std::atoi(d.path.c_str() + 7); };
  std::sort(found.begin(), found.end(), [&](const auto& a, const auto& b) {
    return number(a) != number(b) ? number(a) < number(b) : a.path < b.path;
  });
  return found;
}

std::string deviceGroupName(const std::string&) {
  return "";
}

std::vector<DeviceHolder> processesHolding(const std::string&, const std::string&) {
  return {};
}

}  // namespace transport
