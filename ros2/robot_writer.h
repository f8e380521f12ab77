// SPDX-License-Identifier: Apache-2.0
#pragma once

// A robot's topics on DDS, in ROS 2's conventions: /tf_static (each
// scanner's frame in the base frame; reliable and transient-local, so a
// reader that comes late gets it), /scan/merged and /scan/merged_scan (the
// merged cloud and 360-degree scan in the base frame), and /diagnostics.
// The scanners' own scans go through Ros2Writer, one a scanner.
//
// publishMerged() never waits: the newest goes to a thread of the writer's
// own. The others write at once (they come once, or once a second). Every
// member may be called from any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lms/formats/laser_scan.h"
#include "lmsview/scan.h"

namespace lms {

class Ros2RobotWriter {
 public:
  struct Options {
    std::string baseFrame = "base_link";
    int domain = -1;  // as Ros2Writer's
  };

  explicit Ros2RobotWriter(Options options);
  Ros2RobotWriter(const Ros2RobotWriter&) = delete;
  Ros2RobotWriter& operator=(const Ros2RobotWriter&) = delete;
  ~Ros2RobotWriter();

  // errc{} or bad_domain, dds_failed, already_open, with detail().
  lmsview::errc open();
  std::string detail() const;
  void publishFrames(std::int64_t stampNs, const std::vector<FramePlacement>& frames);
  void publishMerged(const lmsview::Merged& merged);
  void publishHealth(std::int64_t stampNs, const std::vector<DiagnosticStatus>& statuses);
  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lms
