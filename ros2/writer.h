// SPDX-License-Identifier: Apache-2.0
#pragma once

// The ROS 2 writer itself: scans as sensor_msgs/msg/LaserScan on DDS, in
// ROS 2's own conventions. Compiled once, and linked into both faces of it:
// the lmsview::ros2 library (lmsview::Ros2Publisher) and lmsview's --ros2
// plug-in. It answers in plain values (an errc, a line of text), so neither
// face needs the other's error category.
//
// publish() never waits: the scan goes to a thread of the writer's own,
// which writes the newest one; a scan the network cannot take in time is
// dropped and counted. Every member may be called from any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "lmsview/scan.h"

namespace lms {

class Ros2Writer {
 public:
  struct Options {
    std::string topic = "/scan";
    std::string frameId = "laser";
    int domain = -1;         // 0 to kMaxRosDomain; -1: ROS_DOMAIN_ID, else 0
    int maxBlockingMs = 20;  // the longest one write waits for a reliable reader
  };
  struct Stats {
    std::uint64_t published = 0;
    std::uint64_t dropped = 0;
  };

  explicit Ros2Writer(Options options);
  Ros2Writer(const Ros2Writer&) = delete;
  Ros2Writer& operator=(const Ros2Writer&) = delete;
  ~Ros2Writer();

  // Joins the domain, makes the topic and its writer and starts the thread:
  // errc{} or bad_topic, bad_domain, dds_failed, already_open; detail()
  // then says why, in DDS's own words where it has some (never printed).
  lmsview::errc open();
  std::string detail() const;
  void publish(const lmsview::Scan& scan);
  void close();
  Stats stats() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lms
