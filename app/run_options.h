// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the options ask of a run: read by the run, its outputs and the
// command line that fills it.

#include <string>

namespace app {

// An index into the format table (app/outputs/format_table.h), in its order.
enum class OutputFormat { Table, Csv, Jsonl, Plot };

enum class RecordFormat { Jsonl, Mcap };

struct RunOptions {
  std::string configPath;  // --config: a robot's scanners instead of the three link words
  OutputFormat format = OutputFormat::Table;
  std::string frameId = "laser";
  int count = 0;          // stop after this many scans shown (0: no limit)
  double seconds = 0;     // stop after this long (0: no limit)
  int intervalMs = 1000;  // from one request to the next
  std::string recordPath;
  RecordFormat recordFormat = RecordFormat::Jsonl;  // by the file's extension unless --record-format
  bool recordFormatGiven = false;
  std::string topic = "/scan";    // --record FILE.mcap: the laser-scan topic (raw words on TOPIC/raw)
  std::string recordCompression;  // MCAP chunks: "" or "zstd"
  bool recordPoints = true;       // MCAP: each scan as a point cloud on TOPIC/points too
  bool force = false;             // --record may replace an existing file
  bool reconnect = false;         // keep trying when the link cannot be opened or is lost
  int baud = 0;                   // serial: the line's rate (0: the default, 9600)
  bool findRate = false;          // serial: --baud auto
  int scannerBaud = 0;            // serial: move the scanner to this rate for the run (0: leave it)
  bool keepScannerBaud = false;   // and leave it there at the end
  std::string variant;       // --variant: "180/0.5" ... set at each open ("": leave the scanner as it is)
  std::string units = "mm";  // --units: the unit the scanner is expected to report in (its replies win)
  bool stream = false;       // --stream: continuous output
  double maxRangeM = 0;      // the pictures' fixed range (0: each scan's farthest)
  std::string svgPath;       // --svg: the latest scan as an SVG picture
  bool ros2 = false;         // --ros2: every scan received on DDS as a ROS 2 LaserScan
  std::string ros2Topic = "/scan";
  int ros2Domain = -1;       // -1: ROS_DOMAIN_ID from the environment, else 0
  std::string serveAddress;  // --serve: the live page and stream ("" : not served)
  int servePort = 0;
};

}  // namespace app
