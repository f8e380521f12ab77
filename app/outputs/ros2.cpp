// SPDX-License-Identifier: Apache-2.0
// --ros2 [TOPIC]: every valid scan received, published on DDS as a ROS 2
// LaserScan by liblmsview's ROS 2 component, loaded as a plug-in only now
// (a run without --ros2 carries no DDS). The publisher's own thread writes;
// this sink only hands scans over, so the scanner and the console never
// wait for the network. Scans the network could not take are said once, and
// counted at the end.

#include <cstdio>
#include <memory>
#include <string_view>

#include "app/outputs/sink.h"
#include "app/run_options.h"
#include "platform/clock.h"
#include "platform/library.h"
#include "ros2/plugin.h"

namespace app {

namespace {

class Ros2Sink {
 public:
  Ros2Sink(const lmsview_ros2_entry* plugin, std::FILE* messages) : plugin_(plugin), messages_(messages) {}
  ~Ros2Sink() {
    for (void* p : publishers_) plugin_->destroy(p);
    if (robot_ != nullptr) plugin_->destroy_robot(robot_);
  }

  // A robot's own topics beside its scanners': /tf_static, the merged cloud
  // and scan, /diagnostics.
  bool addRobot(const RobotLayout& layout, int domain, std::string* error) {
    robot_ = plugin_->create_robot(layout.baseFrame.c_str(), domain);
    if (robot_ == nullptr) {
      *error = "--ros2: out of memory";
      return false;
    }
    if (const int code = plugin_->open_robot(robot_); code != 0) {
      const std::string detail = plugin_->robot_detail(robot_);
      *error = "--ros2: " +
               (detail.empty() ? std::error_code(static_cast<lmsview::errc>(code)).message() : detail);
      return false;
    }
    for (const RobotLayout::Scanner& s : layout.scanners) frames_.push_back({s.frameId, s.pose});
    return true;
  }
  void begin() {
    if (robot_ != nullptr)
      plugin_->publish_frames(robot_, platform::wallClockNanos(), frames_.data(), frames_.size());
  }
  void merged(const lmsview::Merged& m) {
    if (robot_ != nullptr) plugin_->publish_merged(robot_, &m);
  }
  void health(const Health& h) {
    if (robot_ != nullptr) plugin_->publish_health(robot_, h.stampNs, h.statuses.data(), h.statuses.size());
  }
  Ros2Sink(const Ros2Sink&) = delete;
  Ros2Sink& operator=(const Ros2Sink&) = delete;

  // One publisher a scanner (a robot's: /NAME/scan in NAME_laser); false
  // with the reason when DDS does not take it.
  bool add(const std::string& topic, const std::string& frameId, int domain, std::string* error) {
    void* publisher = plugin_->create(topic.c_str(), frameId.c_str(), domain);
    if (publisher == nullptr) {
      *error = "--ros2: out of memory";
      return false;
    }
    publishers_.push_back(publisher);
    if (const int code = plugin_->open(publisher); code != 0) {
      const std::string detail = plugin_->detail(publisher);
      *error = "--ros2: " +
               (detail.empty() ? std::error_code(static_cast<lmsview::errc>(code)).message() : detail);
      return false;
    }
    return true;
  }

  std::error_code write(const lmsview::Scan& scan, const ScanSource& from) {
    plugin_->publish(publishers_[std::min(from.index, publishers_.size() - 1)], &scan);
    if (!saidDrops_ && stats().second > 0) {
      saidDrops_ = true;
      std::fprintf(messages_,
                   "lmsview: --ros2: a reader is too slow to take every scan; scans it cannot take in time "
                   "are dropped for the network, the run goes on\n");
      std::fflush(messages_);
    }
    return {};
  }
  void end() {
    for (void* p : publishers_) plugin_->close(p);
    const auto [published, dropped] = stats();
    if (dropped > 0) {
      std::fprintf(messages_, "lmsview: --ros2: %llu scans published, %llu dropped for the network\n",
                   static_cast<unsigned long long>(published), static_cast<unsigned long long>(dropped));
      std::fflush(messages_);
    }
  }

 private:
  std::pair<std::uint64_t, std::uint64_t> stats() const {
    std::uint64_t published = 0, dropped = 0;
    for (void* p : publishers_) {
      std::uint64_t one = 0, lost = 0;
      plugin_->stats(p, &one, &lost);
      published += one;
      dropped += lost;
    }
    return {published, dropped};
  }

  const lmsview_ros2_entry* plugin_;
  std::vector<void*> publishers_;
  void* robot_ = nullptr;
  std::vector<lms::FramePlacement> frames_;
  std::FILE* messages_;
  bool saidDrops_ = false;  // only the acquisition thread writes
};

// The plug-in of this build, loaded once; nullptr with why.
const lmsview_ros2_entry* loadPlugin(std::string* why) {
  // Where the program's run path leads (the build's folder, or the prefix
  // it was installed to), else the folder it was built to be installed in
  // (a distribution's package sets no run path).
  void* library = platform::loadLibrary(LMSVIEW_ROS2_PLUGIN, why);
  if (library == nullptr) {
    std::string inPlace;
    library = platform::loadLibrary(LMSVIEW_ROS2_PLUGIN_DIR "/" LMSVIEW_ROS2_PLUGIN, &inPlace);
  }
  if (library == nullptr) return nullptr;
  const auto entry =
      reinterpret_cast<const lmsview_ros2_entry* (*)()>(platform::librarySymbol(library, LMSVIEW_ROS2_ENTRY));
  const lmsview_ros2_entry* plugin = entry ? entry() : nullptr;
  if (plugin == nullptr || std::string_view(plugin->version) != LMSVIEW_VERSION) {
    *why = std::string(LMSVIEW_ROS2_PLUGIN) + " is not this lmsview's (" + LMSVIEW_VERSION + ")";
    return nullptr;
  }
  return plugin;
}

}  // namespace

bool ros2Supported() {
  return true;
}

bool openRos2Sink(const RunOptions& options, const RobotLayout* robot, std::FILE* messages, Sink* sink,
                  std::string* error) {
  std::string why;
  const lmsview_ros2_entry* plugin = loadPlugin(&why);
  if (plugin == nullptr) {
    // A missing plug-in, or DDS under it: one line, with what to install.
    *error = "--ros2 needs the liblmsview-ros2-2 package (the ROS 2 plug-in and Cyclone DDS): " + why;
    return false;
  }
  auto impl = std::make_shared<Ros2Sink>(plugin, messages);
  if (robot == nullptr) {
    if (!impl->add(options.ros2Topic, options.frameId, options.ros2Domain, error)) return false;
  } else {
    for (const RobotLayout::Scanner& s : robot->scanners)
      if (!impl->add("/" + s.name + "/scan", s.frameId, options.ros2Domain, error)) return false;
    if (!impl->addRobot(*robot, options.ros2Domain, error)) return false;
  }
  *sink = sinkOf(impl);
  return true;
}

}  // namespace app
