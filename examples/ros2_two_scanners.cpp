// SPDX-License-Identifier: Apache-2.0
// Two scanners, each published on a ROS 2 topic of its own (/front/scan,
// /rear/scan), for the robot's other machines to see. Needs the library's
// ROS 2 component (lmsview::ros2, Linux builds with Cyclone DDS).
//
//   ros2_two_scanners tcp://192.0.2.40 tcp://192.0.2.41 5

#include <lmsview/ros2.h>
#include <lmsview/scanner.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ros2_two_scanners LINK LINK [SECONDS]\n");
    return 2;
  }
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 5;
  lmsview::Scanner front({.link = argv[1], .interval = std::chrono::milliseconds(100)});
  lmsview::Scanner rear({.link = argv[2], .interval = std::chrono::milliseconds(100)});
  lmsview::Ros2Publisher frontTopic({.topic = "/front/scan", .frame_id = "front_laser"});
  lmsview::Ros2Publisher rearTopic({.topic = "/rear/scan", .frame_id = "rear_laser"});
  for (lmsview::Ros2Publisher* p : {&frontTopic, &rearTopic}) {
    if (const std::error_code ec = p->open()) {
      std::fprintf(stderr, "ros2_two_scanners: %s\n", ec.message().c_str());
      return 1;
    }
  }
  // publish() never waits, so it may run in the scanners' own callbacks.
  lmsview::Subscription a = front.on_scan([&](const lmsview::Scan& s) { frontTopic.publish(s); });
  lmsview::Subscription b = rear.on_scan([&](const lmsview::Scan& s) { rearTopic.publish(s); });
  for (lmsview::Scanner* s : {&front, &rear}) {
    if (const std::error_code ec = s->open()) {
      std::fprintf(stderr, "ros2_two_scanners: %s\n", ec.message().c_str());
      return 1;
    }
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  front.close();
  rear.close();
  frontTopic.close();
  rearTopic.close();
  const auto f = frontTopic.stats(), r = rearTopic.stats();
  std::printf("/front/scan %llu published, /rear/scan %llu published\n",
              static_cast<unsigned long long>(f.published), static_cast<unsigned long long>(r.published));
  return f.published > 0 && r.published > 0 ? 0 : 1;
}
