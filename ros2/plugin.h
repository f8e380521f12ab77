// SPDX-License-Identifier: Apache-2.0
#pragma once

// lmsview's --ros2 plug-in: lmsview loads it only when --ros2 is asked for
// (so a plain run carries no DDS), finds this entry by name and talks to a
// writer through it, in plain values. The plug-in carries the writer and
// what it uses, and nothing of liblmsview: lmsview holds the one engine.
// Between a program and the plug-in of the same build only: the entry says
// its version, and the program takes no other.

#include <cstddef>
#include <cstdint>

#include "lms/formats/laser_scan.h"
#include "lmsview/export.h"
#include "lmsview/scan.h"

extern "C" {

struct lmsview_ros2_entry {
  const char* version;  // the library's version
  // A writer (see ros2/writer.h); nullptr when memory runs out.
  void* (*create)(const char* topic, const char* frame_id, int domain);
  int (*open)(void* publisher);            // 0, or the lmsview::errc value
  const char* (*detail)(void* publisher);  // why the last open failed, valid until the next call
  void (*publish)(void* publisher, const lmsview::Scan* scan);
  void (*close)(void* publisher);
  void (*stats)(void* publisher, std::uint64_t* published, std::uint64_t* dropped);
  void (*destroy)(void* publisher);
  // A robot's topics (see ros2/robot_writer.h): /tf_static, the merged
  // cloud and scan, /diagnostics. nullptr when memory runs out.
  void* (*create_robot)(const char* base_frame, int domain);
  int (*open_robot)(void* robot);            // 0, or the lmsview::errc value
  const char* (*robot_detail)(void* robot);  // as detail
  void (*publish_frames)(void* robot, std::int64_t stamp_ns, const lms::FramePlacement* frames,
                         std::size_t count);
  void (*publish_merged)(void* robot, const lmsview::Merged* merged);
  void (*publish_health)(void* robot, std::int64_t stamp_ns, const lms::DiagnosticStatus* statuses,
                         std::size_t count);
  void (*destroy_robot)(void* robot);
};

// The name a program looks the entry up by.
#define LMSVIEW_ROS2_ENTRY "lmsview_ros2_plugin"
LMSVIEW_API const lmsview_ros2_entry* lmsview_ros2_plugin(void);
}
