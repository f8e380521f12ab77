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
#include "platform/library.h"
#include "ros2/plugin.h"

namespace app {

namespace {

class Ros2Sink {
 public:
  Ros2Sink(const lmsview_ros2_entry* plugin, void* publisher, std::FILE* messages)
      : plugin_(plugin), publisher_(publisher), messages_(messages) {}
  ~Ros2Sink() { plugin_->destroy(publisher_); }
  Ros2Sink(const Ros2Sink&) = delete;
  Ros2Sink& operator=(const Ros2Sink&) = delete;

  std::error_code write(const lmsview::Scan& scan) {
    plugin_->publish(publisher_, &scan);
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
    plugin_->close(publisher_);
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
    plugin_->stats(publisher_, &published, &dropped);
    return {published, dropped};
  }

  const lmsview_ros2_entry* plugin_;
  void* publisher_;
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

bool openRos2Sink(const RunOptions& options, std::FILE* messages, Sink* sink, std::string* error) {
  std::string why;
  const lmsview_ros2_entry* plugin = loadPlugin(&why);
  if (plugin == nullptr) {
    // A missing plug-in, or DDS under it: one line, with what to install.
    *error = "--ros2 needs the liblmsview-ros2-2 package (the ROS 2 plug-in and Cyclone DDS): " + why;
    return false;
  }
  void* publisher = plugin->create(options.ros2Topic.c_str(), options.frameId.c_str(), options.ros2Domain);
  if (publisher == nullptr) {
    *error = "--ros2: out of memory";
    return false;
  }
  auto impl = std::make_shared<Ros2Sink>(plugin, publisher, messages);
  if (const int code = plugin->open(publisher); code != 0) {
    const std::string detail = plugin->detail(publisher);
    *error =
        "--ros2: " + (detail.empty() ? std::error_code(static_cast<lmsview::errc>(code)).message() : detail);
    return false;
  }
  *sink = sinkOf(impl);
  return true;
}

}  // namespace app
