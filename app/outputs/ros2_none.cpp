// SPDX-License-Identifier: Apache-2.0
// --ros2 in a build without DDS (Windows, or Linux without Cyclone DDS): the
// command line refuses it, so nothing here is ever opened.

#include "app/outputs/sink.h"

namespace app {

bool ros2Supported() {
  return false;
}

bool openRos2Sink(const RunOptions&, const RobotLayout*, std::FILE*, Sink*, std::string* error) {
  *error = "--ros2: this build has no DDS support";
  return false;
}

}  // namespace app
