// SPDX-License-Identifier: Apache-2.0
#pragma once

// A scan as the robotics laser-scan message (sensor_msgs/msg/LaserScan)
// carries it: one definition of its fields for every output that writes one
// (JSON Lines, MCAP recordings), and its ROS 2 encodings.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lmsview/scan.h"

namespace lms {

// The message's fields, all from the scan record (its geometry included).
struct LaserScanFields {
  std::int32_t sec = 0;       // header.stamp: UTC seconds ...
  std::uint32_t nanosec = 0;  // ... and nanoseconds
  std::string_view frameId;
  float angleMin = 0.0f;
  float angleMax = 0.0f;
  float angleIncrement = 0.0f;
  float timeIncrement = 0.0f;  // not known
  float scanTime = 0.0f;       // not known
  float rangeMin = 0.0f;
  float rangeMax = 0.0f;
  const lmsview::Scan* scan = nullptr;  // ranges in metres; no intensities
};

LaserScanFields laserScanFields(const lmsview::Scan& scan, std::string_view frameId);

// A stamp in ns since the epoch as the message's seconds (rounded down) and
// nanoseconds, so nanoseconds stay in [0, 1e9) before 1970 too.
void splitStamp(std::int64_t ns, std::int32_t* sec, std::uint32_t* nanosec);

// The message in ROS 2's CDR: the 4-byte encapsulation header (plain CDR,
// little-endian) and the fields, aligned as CDR aligns them.
std::string laserScanCdr(const LaserScanFields& fields);

// The scan as a point cloud (sensor_msgs/msg/PointCloud2) in ROS 2's CDR:
// one row of x, y, z float32 in the scan's frame (x ahead, y to the left,
// z = 0), only the points with a distance (range_min to range_max), so the
// cloud is dense. For viewers that draw points but not laser scans.
std::string pointCloudCdr(const LaserScanFields& fields);

// The ranges of a LaserScan in ROS 2's CDR (and its range_max, when asked
// for); false for bytes that are not one.
bool laserScanRangesFromCdr(std::string_view cdr, std::vector<float>* ranges, float* rangeMax = nullptr);

// A DDS domain id as ROS 2 takes it (ROS_DOMAIN_ID, --ros2-domain): 0 to
// 232, or -1 for any other text.
inline constexpr int kMaxRosDomain = 232;
// ROS 2's rules for a topic name: '/' first, then parts of letters, digits
// and '_' separated by single '/', no part starting with a digit, no '/' at
// the end.
bool validRos2Topic(std::string_view topic);
int rosDomain(std::string_view text);

// The message definition, with the definitions it uses after it, separated
// as ROS 2 recordings keep them (schema encoding "ros2msg").
extern const std::string_view kLaserScanDefinition;
extern const std::string_view kPointCloud2Definition;

// A robot's messages: its scanners merged, where each sits, their health.

// The merged cloud (sensor_msgs/msg/PointCloud2) in `frameId`: one row of
// x, y, z float32 and the scanner's index as uint32 "scanner".
std::string mergedCloudCdr(const lmsview::Merged& merged, std::string_view frameId);

// tf2_msgs/msg/TFMessage: each child frame placed in the base frame.
struct FramePlacement {
  std::string child;
  lmsview::Pose pose;
};
std::string tfMessageCdr(std::int64_t stampNs, std::string_view baseFrame,
                         const std::vector<FramePlacement>& frames);
extern const std::string_view kTfMessageDefinition;

// diagnostic_msgs/msg/DiagnosticArray: one status a scanner.
enum class DiagnosticLevel : std::uint8_t { Ok = 0, Warn = 1, Error = 2, Stale = 3 };
struct DiagnosticStatus {
  DiagnosticLevel level = DiagnosticLevel::Ok;
  std::string name;
  std::string message;
  std::string hardwareId;
  std::vector<std::pair<std::string, std::string>> values;
};
std::string diagnosticArrayCdr(std::int64_t stampNs, const std::vector<DiagnosticStatus>& statuses);
extern const std::string_view kDiagnosticArrayDefinition;

}  // namespace lms
