// --ros2 [TOPIC]: every valid scan received, published on DDS as a ROS 2
// LaserScan. The publisher's own thread writes; this sink only hands scans
// over, so the scanner and the console never wait for the network. Scans the
// network could not take are said once, and counted at the end.

#include <cstdio>
#include <memory>

#include "app/outputs/sink.h"
#include "app/run_options.h"
#include "lmsview/ros2.h"

namespace app {

namespace {

class Ros2Sink {
 public:
  Ros2Sink(const RunOptions& o, std::FILE* messages)
      : messages_(messages),
        publisher_({.topic = o.ros2Topic, .frame_id = o.frameId, .domain = o.ros2Domain}) {}
  std::error_code open() { return publisher_.open(); }
  std::error_code write(const lmsview::Scan& scan) {
    publisher_.publish(scan);
    if (!saidDrops_ && publisher_.stats().dropped > 0) {
      saidDrops_ = true;
      std::fprintf(messages_,
                   "lmsview: --ros2: a reader is too slow to take every scan; scans it cannot take in time "
                   "are dropped for the network, the run goes on\n");
      std::fflush(messages_);
    }
    return {};
  }
  void end() {
    publisher_.close();
    const lmsview::Ros2Stats s = publisher_.stats();
    if (s.dropped > 0) {
      std::fprintf(messages_, "lmsview: --ros2: %llu scans published, %llu dropped for the network\n",
                   static_cast<unsigned long long>(s.published), static_cast<unsigned long long>(s.dropped));
      std::fflush(messages_);
    }
  }

 private:
  std::FILE* messages_;
  lmsview::Ros2Publisher publisher_;
  bool saidDrops_ = false;  // only the acquisition thread writes
};

}  // namespace

bool ros2Supported() {
  return true;
}

bool openRos2Sink(const RunOptions& options, std::FILE* messages, Sink* sink, std::string* error) {
  auto impl = std::make_shared<Ros2Sink>(options, messages);
  if (const std::error_code ec = impl->open()) {
    *error = "--ros2: " + ec.message();
    return false;
  }
  *sink = sinkOf(impl);
  return true;
}

}  // namespace app
