// SPDX-License-Identifier: Apache-2.0
// The plug-in entry over the writer (see plugin.h): plain values only.

#include "ros2/plugin.h"

#include <new>
#include <string>

#include "ros2/robot_writer.h"
#include "ros2/writer.h"

namespace {

lms::Ros2Writer* self(void* p) {
  return static_cast<lms::Ros2Writer*>(p);
}

lms::Ros2RobotWriter* robot(void* p) {
  return static_cast<lms::Ros2RobotWriter*>(p);
}

const lmsview_ros2_entry kEntry{
    LMSVIEW_VERSION,
    [](const char* topic, const char* frameId, int domain) -> void* {
      return new (std::nothrow) lms::Ros2Writer({.topic = topic, .frameId = frameId, .domain = domain});
    },
    [](void* p) { return static_cast<int>(self(p)->open()); },
    [](void* p) {
      thread_local std::string detail;  // the plug-in's caller reads it at once, on the same thread
      detail = self(p)->detail();
      return detail.c_str();
    },
    [](void* p, const lmsview::Scan* scan) { self(p)->publish(*scan); },
    [](void* p) { self(p)->close(); },
    [](void* p, std::uint64_t* published, std::uint64_t* dropped) {
      const lms::Ros2Writer::Stats s = self(p)->stats();
      *published = s.published;
      *dropped = s.dropped;
    },
    [](void* p) { delete self(p); },
    [](const char* baseFrame, int domain) -> void* {
      return new (std::nothrow) lms::Ros2RobotWriter({.baseFrame = baseFrame, .domain = domain});
    },
    [](void* p) { return static_cast<int>(robot(p)->open()); },
    [](void* p) {
      thread_local std::string detail;
      detail = robot(p)->detail();
      return detail.c_str();
    },
    [](void* p, std::int64_t stampNs, const lms::FramePlacement* frames, std::size_t count) {
      robot(p)->publishFrames(stampNs, {frames, frames + count});
    },
    [](void* p, const lmsview::Merged* merged) { robot(p)->publishMerged(*merged); },
    [](void* p, std::int64_t stampNs, const lms::DiagnosticStatus* statuses, std::size_t count) {
      robot(p)->publishHealth(stampNs, {statuses, statuses + count});
    },
    [](void* p) { delete robot(p); },
};

}  // namespace

extern "C" const lmsview_ros2_entry* lmsview_ros2_plugin(void) {
  return &kEntry;
}
