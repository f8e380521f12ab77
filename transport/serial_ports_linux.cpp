// SPDX-License-Identifier: Apache-2.0
// Linux: devices from /dev and /sys/class/tty, stable names from
// /dev/serial/by-id, holders from /proc/*/fd.

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "transport/serial_ports.h"

namespace transport {

namespace fs = std::filesystem;

namespace {

std::string kindOf(const std::string& name) {
  if (name.rfind("ttyUSB", 0) == 0) return "USB adapter";
  if (name.rfind("ttyACM", 0) == 0) return "USB ACM device";
  if (name.rfind("ttyS", 0) == 0 || name.rfind("ttyAMA", 0) == 0 || name.rfind("ttyTHS", 0) == 0 ||
      name.rfind("ttymxc", 0) == 0)
    return "on-board UART";
  return "";
}

// An on-board 8250-style port with no UART behind it reports type 0.
bool hasHardware(const std::string& root, const std::string& name) {
  const fs::path sys = fs::path(root + "/sys/class/tty") / name;
  std::error_code ec;
  if (!fs::exists(sys / "device", ec)) return false;
  std::ifstream type(sys / "type");
  int t = -1;
  if (type >> t) return t != 0;
  return true;
}

std::string resolved(const fs::path& p) {
  std::error_code ec;
  const fs::path c = fs::weakly_canonical(p, ec);
  return ec ? p.string() : c.string();
}

}  // namespace

std::vector<SerialDeviceInfo> listSerialDevices(const std::string& root) {
  std::vector<SerialDeviceInfo> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root + "/dev", ec)) {
    const std::string name = entry.path().filename().string();
    std::string kind = kindOf(name);
    if (kind.empty()) continue;
    if (kind == "on-board UART" && !hasHardware(root, name)) continue;
    SerialDeviceInfo info;
    info.path = "/dev/" + name;
    info.kind = std::move(kind);
    info.accessible = ::access(entry.path().c_str(), R_OK | W_OK) == 0;
    found.push_back(std::move(info));
  }
  // Stable names: links in /dev/serial/by-id that lead to a device found.
  for (const auto& link : fs::directory_iterator(root + "/dev/serial/by-id", ec)) {
    const std::string target = resolved(link.path());
    for (auto& info : found) {
      if (resolved(root + info.path) == target) info.stableName = link.path().filename().string();
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  return found;
}

std::string deviceGroupName(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "";
  group g{};
  group* result = nullptr;
  char buf[1024];
  if (::getgrgid_r(st.st_gid, &g, buf, sizeof buf, &result) != 0 || result == nullptr)
    return std::to_string(st.st_gid);
  return g.gr_name;
}

std::vector<DeviceHolder> processesHolding(const std::string& path, const std::string& root) {
  std::vector<DeviceHolder> holders;
  const std::string target = resolved(path);
  std::error_code ec;
  for (const auto& proc : fs::directory_iterator(root + "/proc", ec)) {
    const std::string pid = proc.path().filename().string();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    std::error_code fdEc;
    for (const auto& fd : fs::directory_iterator(proc.path() / "fd", fdEc)) {
      std::error_code linkEc;
      const fs::path to = fs::read_symlink(fd.path(), linkEc);
      if (linkEc || to.string() != target) continue;
      std::ifstream comm(proc.path() / "comm");
      DeviceHolder h;
      h.pid = std::stoi(pid);
      std::getline(comm, h.name);
      holders.push_back(std::move(h));
      break;
    }
  }
  std::sort(holders.begin(), holders.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
  return holders;
}

}  // namespace transport
