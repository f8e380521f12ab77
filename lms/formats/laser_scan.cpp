// SPDX-License-Identifier: Apache-2.0
#include "lms/formats/laser_scan.h"

#include "lms/protocol/reply.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace lms {

const std::string_view kLaserScanDefinition =
    "# Single scan from a planar laser range-finder\n"
    "\n"
    "std_msgs/Header header # timestamp in the header is the acquisition time of\n"
    "                       # the first ray in the scan.\n"
    "\n"
    "float32 angle_min            # start angle of the scan [rad]\n"
    "float32 angle_max            # end angle of the scan [rad]\n"
    "float32 angle_increment      # angular distance between measurements [rad]\n"
    "\n"
    "float32 time_increment       # time between measurements [seconds]\n"
    "float32 scan_time            # time between scans [seconds]\n"
    "\n"
    "float32 range_min            # minimum range value [m]\n"
    "float32 range_max            # maximum range value [m]\n"
    "\n"
    "float32[] ranges             # range data [m]\n"
    "float32[] intensities        # intensity data [device-specific units]\n"
    "\n"
    "================================================================================\n"
    "MSG: std_msgs/Header\n"
    "# Standard metadata for higher-level stamped data types.\n"
    "\n"
    "builtin_interfaces/Time stamp\n"
    "string frame_id\n"
    "\n"
    "================================================================================\n"
    "MSG: builtin_interfaces/Time\n"
    "# Time indicates a specific point in time, relative to a clock's 0 point.\n"
    "\n"
    "int32 sec\n"
    "uint32 nanosec\n";

const std::string_view kPointCloud2Definition =
    "# A collection of N-dimensional points; here one row of x, y, z.\n"
    "\n"
    "std_msgs/Header header\n"
    "\n"
    "uint32 height\n"
    "uint32 width\n"
    "\n"
    "PointField[] fields\n"
    "\n"
    "bool    is_bigendian\n"
    "uint32  point_step\n"
    "uint32  row_step\n"
    "uint8[] data\n"
    "\n"
    "bool is_dense\n"
    "\n"
    "================================================================================\n"
    "MSG: std_msgs/Header\n"
    "builtin_interfaces/Time stamp\n"
    "string frame_id\n"
    "\n"
    "================================================================================\n"
    "MSG: builtin_interfaces/Time\n"
    "int32 sec\n"
    "uint32 nanosec\n"
    "\n"
    "================================================================================\n"
    "MSG: sensor_msgs/PointField\n"
    "uint8 INT8    = 1\n"
    "uint8 UINT8   = 2\n"
    "uint8 INT16   = 3\n"
    "uint8 UINT16  = 4\n"
    "uint8 INT32   = 5\n"
    "uint8 UINT32  = 6\n"
    "uint8 FLOAT32 = 7\n"
    "uint8 FLOAT64 = 8\n"
    "\n"
    "string name\n"
    "uint32 offset\n"
    "uint8  datatype\n"
    "uint32 count\n";

namespace {

// The definitions the messages below share.
constexpr std::string_view kHeaderDefinitions =
    "================================================================================\n"
    "MSG: std_msgs/Header\n"
    "builtin_interfaces/Time stamp\n"
    "string frame_id\n"
    "\n"
    "================================================================================\n"
    "MSG: builtin_interfaces/Time\n"
    "int32 sec\n"
    "uint32 nanosec\n";

}  // namespace

const std::string_view kTfMessageDefinition = [] {
  static const std::string text =
      std::string(
          "geometry_msgs/TransformStamped[] transforms\n"
          "\n"
          "================================================================================\n"
          "MSG: geometry_msgs/TransformStamped\n"
          "std_msgs/Header header\n"
          "string child_frame_id\n"
          "Transform transform\n"
          "\n") +
      std::string(kHeaderDefinitions) +
      "\n"
      "================================================================================\n"
      "MSG: geometry_msgs/Transform\n"
      "Vector3 translation\n"
      "Quaternion rotation\n"
      "\n"
      "================================================================================\n"
      "MSG: geometry_msgs/Vector3\n"
      "float64 x\n"
      "float64 y\n"
      "float64 z\n"
      "\n"
      "================================================================================\n"
      "MSG: geometry_msgs/Quaternion\n"
      "float64 x\n"
      "float64 y\n"
      "float64 z\n"
      "float64 w\n";
  return std::string_view(text);
}();

const std::string_view kDiagnosticArrayDefinition = [] {
  static const std::string text =
      std::string(
          "std_msgs/Header header\n"
          "DiagnosticStatus[] status\n"
          "\n") +
      std::string(kHeaderDefinitions) +
      "\n"
      "================================================================================\n"
      "MSG: diagnostic_msgs/DiagnosticStatus\n"
      "byte OK=0\n"
      "byte WARN=1\n"
      "byte ERROR=2\n"
      "byte STALE=3\n"
      "byte level\n"
      "string name\n"
      "string message\n"
      "string hardware_id\n"
      "KeyValue[] values\n"
      "\n"
      "================================================================================\n"
      "MSG: diagnostic_msgs/KeyValue\n"
      "string key\n"
      "string value\n";
  return std::string_view(text);
}();

void splitStamp(std::int64_t ns, std::int32_t* sec, std::uint32_t* nanosec) {
  const std::int64_t s = ns >= 0 ? ns / 1'000'000'000 : (ns + 1) / 1'000'000'000 - 1;
  *sec = static_cast<std::int32_t>(s);
  *nanosec = static_cast<std::uint32_t>(ns - s * 1'000'000'000);
}

LaserScanFields laserScanFields(const lmsview::Scan& scan, std::string_view frameId) {
  LaserScanFields f;
  splitStamp(scan.stamp_ns, &f.sec, &f.nanosec);
  f.frameId = frameId;
  const lmsview::Geometry& g = scan.geometry;
  f.angleMin = static_cast<float>(g.angle_min);
  f.angleMax = static_cast<float>(g.angle_max());
  f.angleIncrement = static_cast<float>(g.angle_increment);
  f.rangeMin = static_cast<float>(g.range_min);
  f.rangeMax = static_cast<float>(g.range_max);
  f.scan = &scan;
  return f;
}

namespace {

// CDR: each field aligned to its size, counted from after the encapsulation header.
struct Cdr {
  std::string out{"\x00\x01\x00\x00", 4};  // plain CDR, little-endian, no options
  void align(std::size_t n) {
    while ((out.size() - 4) % n != 0) out.push_back('\0');
  }
  template <class T>
  void put(T v) {
    align(sizeof(T));
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));  // the hosts we build for are little-endian
    out.append(b, sizeof(T));
  }
  void putString(std::string_view s) {
    put<std::uint32_t>(static_cast<std::uint32_t>(s.size() + 1));  // with its terminating zero
    out += s;
    out.push_back('\0');
  }
  // std_msgs/Header, which both messages begin with.
  void putHeader(const LaserScanFields& f) {
    put<std::int32_t>(f.sec);
    put<std::uint32_t>(f.nanosec);
    putString(f.frameId);
  }
};

}  // namespace

std::string laserScanCdr(const LaserScanFields& f) {
  Cdr c;
  c.putHeader(f);
  for (const float v :
       {f.angleMin, f.angleMax, f.angleIncrement, f.timeIncrement, f.scanTime, f.rangeMin, f.rangeMax})
    c.put<float>(v);
  c.put<std::uint32_t>(static_cast<std::uint32_t>(f.scan->ranges.size()));
  for (const float r : f.scan->ranges) c.put<float>(r);
  c.put<std::uint32_t>(0);  // no intensities
  return std::move(c.out);
}

std::string pointCloudCdr(const LaserScanFields& f) {
  constexpr std::uint8_t kFloat32 = 7;
  constexpr std::uint32_t kPointStep = 3 * sizeof(float);
  const lmsview::Scan& scan = *f.scan;
  const lmsview::Geometry& g = scan.geometry;
  std::string data;
  data.reserve(scan.ranges.size() * kPointStep);
  for (std::size_t i = 0; i < scan.ranges.size(); ++i) {
    if (!isDistance(scan, i)) continue;  // no echo, or one of the scanner's codes
    const double r = scan.ranges[i];
    const double a = g.angle(i);
    const float point[3] = {static_cast<float>(r * std::cos(a)), static_cast<float>(r * std::sin(a)), 0.0f};
    char bytes[sizeof point];
    std::memcpy(bytes, point, sizeof point);  // little-endian hosts, as the header says
    data.append(bytes, sizeof bytes);
  }
  const auto width = static_cast<std::uint32_t>(data.size() / kPointStep);
  Cdr c;
  c.putHeader(f);
  c.put<std::uint32_t>(1);  // height: one row
  c.put<std::uint32_t>(width);
  constexpr std::string_view kNames[] = {"x", "y", "z"};
  c.put<std::uint32_t>(3);
  for (std::uint32_t k = 0; k < 3; ++k) {
    c.putString(kNames[k]);
    c.put<std::uint32_t>(k * static_cast<std::uint32_t>(sizeof(float)));
    c.put<std::uint8_t>(kFloat32);
    c.put<std::uint32_t>(1);
  }
  c.put<std::uint8_t>(0);  // little-endian
  c.put<std::uint32_t>(kPointStep);
  c.put<std::uint32_t>(width * kPointStep);
  c.put<std::uint32_t>(static_cast<std::uint32_t>(data.size()));
  c.out += data;
  c.put<std::uint8_t>(1);  // dense: no point without a distance
  return std::move(c.out);
}

bool laserScanRangesFromCdr(std::string_view cdr, std::vector<float>* ranges, float* rangeMax) {
  if (cdr.size() < 4 || cdr[0] != 0 || cdr[1] != 1) return false;  // plain CDR, little-endian
  std::size_t at = 4;
  auto align = [&](std::size_t n) { at = 4 + (at - 4 + n - 1) / n * n; };
  auto u32 = [&](std::uint32_t* v) {
    align(4);
    if (at + 4 > cdr.size()) return false;
    std::memcpy(v, cdr.data() + at, 4);
    at += 4;
    return true;
  };
  std::uint32_t skip = 0;
  if (!u32(&skip) || !u32(&skip) || !u32(&skip)) return false;  // sec, nanosec, the frame id's length
  if (skip > cdr.size() - at) return false;
  at += skip;
  for (int i = 0; i < 7; ++i) {
    if (!u32(&skip)) return false;  // the angles, times and range limits: range_max last
    if (i == 6 && rangeMax) std::memcpy(rangeMax, &skip, sizeof(float));
  }
  std::uint32_t count = 0;
  if (!u32(&count) || count > (cdr.size() - at) / 4) return false;
  ranges->resize(count);
  if (count > 0) std::memcpy(ranges->data(), cdr.data() + at, count * sizeof(float));
  return true;
}

int rosDomain(std::string_view text) {
  int n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || n < 0 || n > kMaxRosDomain)
    return -1;
  return n;
}

bool validRos2Topic(std::string_view t) {
  if (t.size() < 2 || t.front() != '/' || t.back() == '/' || t.size() > 255) return false;
  bool partStart = true;
  for (std::size_t i = 1; i < t.size(); ++i) {
    const char c = t[i];
    if (c == '/') {
      if (partStart) return false;  // "//"
      partStart = true;
      continue;
    }
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit) return false;
    if (partStart && digit) return false;
    partStart = false;
  }
  return true;
}

std::string mergedCloudCdr(const lmsview::Merged& merged, std::string_view frameId) {
  constexpr std::uint32_t kPointStep = 4 * 4;
  LaserScanFields header;
  splitStamp(merged.scan.stamp_ns, &header.sec, &header.nanosec);
  header.frameId = frameId;
  Cdr c;
  c.putHeader(header);
  const auto width = static_cast<std::uint32_t>(merged.points.size());
  c.put<std::uint32_t>(1);
  c.put<std::uint32_t>(width);
  const struct {
    std::string_view name;
    std::uint8_t type;
  } fields[] = {{"x", 7}, {"y", 7}, {"z", 7}, {"scanner", 6}};  // FLOAT32, UINT32
  c.put<std::uint32_t>(4);
  for (std::uint32_t k = 0; k < 4; ++k) {
    c.putString(fields[k].name);
    c.put<std::uint32_t>(k * 4);
    c.put<std::uint8_t>(fields[k].type);
    c.put<std::uint32_t>(1);
  }
  c.put<std::uint8_t>(0);  // little-endian
  c.put<std::uint32_t>(kPointStep);
  c.put<std::uint32_t>(width * kPointStep);
  c.put<std::uint32_t>(width * kPointStep);
  for (const lmsview::MergedPoint& p : merged.points) {
    char bytes[kPointStep];
    std::memcpy(bytes, &p.x, 4);
    std::memcpy(bytes + 4, &p.y, 4);
    std::memcpy(bytes + 8, &p.z, 4);
    std::memcpy(bytes + 12, &p.scanner, 4);
    c.out.append(bytes, sizeof bytes);
  }
  c.put<std::uint8_t>(1);  // dense
  return std::move(c.out);
}

std::string tfMessageCdr(std::int64_t stampNs, std::string_view baseFrame,
                         const std::vector<FramePlacement>& frames) {
  Cdr c;
  c.put<std::uint32_t>(static_cast<std::uint32_t>(frames.size()));
  for (const FramePlacement& f : frames) {
    LaserScanFields header;
    splitStamp(stampNs, &header.sec, &header.nanosec);
    header.frameId = baseFrame;
    c.putHeader(header);
    c.putString(f.child);
    for (const double v : {f.pose.x, f.pose.y, 0.0}) c.put<double>(v);
    // A turn about z by yaw.
    for (const double v : {0.0, 0.0, std::sin(f.pose.yaw / 2), std::cos(f.pose.yaw / 2)}) c.put<double>(v);
  }
  return std::move(c.out);
}

std::string diagnosticArrayCdr(std::int64_t stampNs, const std::vector<DiagnosticStatus>& statuses) {
  Cdr c;
  LaserScanFields header;
  splitStamp(stampNs, &header.sec, &header.nanosec);
  c.putHeader(header);
  c.put<std::uint32_t>(static_cast<std::uint32_t>(statuses.size()));
  for (const DiagnosticStatus& s : statuses) {
    c.put<std::uint8_t>(static_cast<std::uint8_t>(s.level));
    c.putString(s.name);
    c.putString(s.message);
    c.putString(s.hardwareId);
    c.put<std::uint32_t>(static_cast<std::uint32_t>(s.values.size()));
    for (const auto& [key, value] : s.values) {
      c.putString(key);
      c.putString(value);
    }
  }
  return std::move(c.out);
}

}  // namespace lms
