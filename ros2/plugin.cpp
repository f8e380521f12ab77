// The plug-in entry over lmsview::Ros2Publisher (see plugin.h).

#include "ros2/plugin.h"

#include <new>

#include "lmsview/ros2.h"

namespace {

lmsview::Ros2Publisher* self(void* p) {
  return static_cast<lmsview::Ros2Publisher*>(p);
}

const lmsview_ros2_entry kEntry{
    LMS_VERSION,
    [](const char* topic, const char* frameId, int domain) -> void* {
      return new (std::nothrow)
          lmsview::Ros2Publisher({.topic = topic, .frame_id = frameId, .domain = domain});
    },
    [](void* p) { return self(p)->open().value(); },
    [](void* p, const lmsview::Scan* scan) { self(p)->publish(*scan); },
    [](void* p) { self(p)->close(); },
    [](void* p, std::uint64_t* published, std::uint64_t* dropped) {
      const lmsview::Ros2Stats s = self(p)->stats();
      *published = s.published;
      *dropped = s.dropped;
    },
    [](void* p) { delete self(p); },
};

}  // namespace

extern "C" const lmsview_ros2_entry* lmsview_ros2_plugin(void) {
  return &kEntry;
}
