// SPDX-License-Identifier: Apache-2.0
#pragma once

// lmsview --config FILE: a robot's scanners in one TOML file, in the place
// of the three link words. Each [scanner.NAME] names its link (the library's
// link names), the command line's options for a scanner with their names
// (dashes as underscores) and units, where it sits (pose) and what of its
// scans is kept (crop_deg, mask_deg, range_m):
//
//   base_frame = "base_link"
//   [scanner.front]
//   link = "tcp://192.0.2.40"
//   pose = { x = 0.30, y = 0.20, yaw_deg = 45 }
//   crop_deg = [-100, 100]
//
// Everything is checked before any link opens: a mistake is one line,
// "FILE:LINE:COLUMN: KEY: what is wrong".

#include <string>
#include <vector>

#include "lmsview/scan.h"

namespace app {

struct ScannerConfig {
  std::string name;  // the table's name: topics /NAME/scan, frame NAME_laser
  std::string link;  // "tcp://...", "serial://...", "file:..."
  bool serial = false;
  std::string family = "LMS";
  int baud = 0;  // 0: the default (9600)
  bool findRate = false;
  int scannerBaud = 0;
  bool keepScannerBaud = false;
  std::string variant;
  std::string units = "mm";
  int intervalMs = 1000;
  bool reconnect = false;
  bool stream = false;
  lmsview::Pose pose;  // yaw in radians
  lmsview::ScanFilter filter;
};

struct RobotConfig {
  std::string path;
  std::string baseFrame = "base_link";
  std::vector<ScannerConfig> scanners;  // in the file's order: the first one paces the merge
};

// Reads and checks a config file; false with one line in *error.
bool loadRobotConfig(const std::string& path, RobotConfig* out, std::string* error);
// The same from text (`path` names it in messages).
bool parseRobotConfig(std::string_view text, const std::string& path, RobotConfig* out, std::string* error);

}  // namespace app
