// SPDX-License-Identifier: Apache-2.0
#pragma once

// liblmsview's ROS 2 component (lmsview::ros2 in the CMake package; Linux
// builds with Cyclone DDS): scans published as sensor_msgs/msg/LaserScan on
// DDS in ROS 2's own conventions, so any ROS 2 machine on the network sees
// them without a ROS 2 installation here.
//
//   lmsview::Ros2Publisher front({.topic = "/front/scan", .frame_id = "front_laser"});
//   if (auto ec = front.open()) { std::cerr << ec.message() << "\n"; return 1; }
//   auto feed = scanner.on_scan([&](const lmsview::Scan& s) { front.publish(s); });
//
// publish() never waits: the scan goes to a thread of the publisher's own,
// which writes the newest one; a scan the network cannot take in time (a
// slow reliable reader) is dropped for the network and counted. DDS settings
// (interfaces, peers, multicast) come from CYCLONEDDS_URI as usual.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include "lmsview/scanner.h"

namespace lmsview {

struct Ros2Options {
  std::string topic = "/scan";  // a ROS 2 topic name; on DDS it is "rt" + topic
  std::string frame_id = "laser";
  int domain = -1;  // the DDS domain, 0 to 232; -1: ROS_DOMAIN_ID from the environment, else 0 (no other)
  // The longest one write may wait for a reliable reader before the scan is dropped.
  std::chrono::milliseconds max_blocking{20};
};

struct Ros2Stats {
  std::uint64_t published = 0;
  std::uint64_t dropped = 0;  // not written in time, or replaced by a newer scan while a write waited
};

class LMSVIEW_API Ros2Publisher {
 public:
  explicit Ros2Publisher(Ros2Options options = {});
  Ros2Publisher(const Ros2Publisher&) = delete;
  Ros2Publisher& operator=(const Ros2Publisher&) = delete;
  ~Ros2Publisher();  // close()

  // Joins the domain and creates the topic and its writer. errc::bad_topic,
  // errc::bad_domain, errc::dds_failed or errc::already_open. DDS's own
  // words about a failure (a bad CYCLONEDDS_URI, say) are kept for
  // last_error_detail(), never printed.
  std::error_code open();
  // One line saying why the last open() failed ("" when it did not).
  std::string last_error_detail() const;
  // Hands the scan to the publisher's thread; never waits for the network.
  void publish(const Scan& scan);
  // Ends the thread and leaves the domain. Safe to call twice.
  void close();
  Ros2Stats stats() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// ROS 2's rules for a topic name: '/' first, then parts of letters, digits
// and '_' separated by single '/', no part starting with a digit, no '/' at
// the end.
LMSVIEW_API bool valid_ros2_topic(const std::string& topic) noexcept;

}  // namespace lmsview
