// SPDX-License-Identifier: Apache-2.0
#pragma once

// One output of the scans: `begin` before the first scan, `write` for each,
// `end` after the last, each sink holding only its own state. A run holds a
// list of them, built from the options by makeSinks(); it knows none by name.
//
// Sinks of scans shown run on the display thread (the newest scan when the
// display looks); sinks of scans received run on the acquisition thread
// (every valid scan, and they must never block it for long).

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/run_options.h"
#include "lms/formats/laser_scan.h"
#include "lmsview/scanner.h"

namespace app {

// A robot's scanners (lmsview --config): where each sits in the base frame.
struct RobotLayout {
  std::string baseFrame;
  struct Scanner {
    std::string name;     // topics /NAME/scan
    std::string frameId;  // NAME_laser
    std::string link;
    lmsview::Pose pose;
  };
  std::vector<Scanner> scanners;
};

// What a sink is given when it is made.
struct SinkSetup {
  const RunOptions& options;
  std::FILE* messages;  // where a sink reports (once) a file it cannot write
  bool terminal;        // standard output is a terminal
  // Standard output: one call a table or line, so a pipe's reader never gets
  // half of one; an error ends the run.
  std::function<std::error_code(std::string_view)> out;
  const RobotLayout* robot = nullptr;  // several scanners; nullptr for the three link words
};

// Which scanner a scan comes from: its place in the robot's layout (0 for
// the three link words), its frame, and the scan as it came, before any
// crop or mask (a recording keeps its raw words).
struct ScanSource {
  std::size_t index = 0;
  std::string_view frameId;
  const lmsview::Scan* raw = nullptr;
};

// A robot's health: one status a scanner, once a second.
struct Health {
  std::int64_t stampNs = 0;
  std::vector<lms::DiagnosticStatus> statuses;
};

struct Sink {
  std::function<void()> begin = [] {};
  // An error only for standard output failing: the run then ends.
  std::function<std::error_code(const lmsview::Scan&, const ScanSource&)> write;
  // A robot's scanners merged (scans received; paced by the first scanner).
  std::function<void(const lmsview::Merged&)> merged = [](const lmsview::Merged&) {};
  std::function<void(const Health&)> health = [](const Health&) {};
  std::function<void()> end = [] {};
  // What happened on the link (opened, lost, an open that failed), for
  // sinks that tell others (--serve).
  std::function<void(const lmsview::Event&)> link = [](const lmsview::Event&) {};
  // After end(): a line naming the output and what it holds when it stopped
  // before the run ended (a recording whose disk filled), else "".
  std::function<std::string()> shortfall = [] { return std::string(); };
};

// Wraps a sink object of any type that has write(scan) or write(scan,
// source) and, if it likes, begin(), end(), merged() and health().
template <class T>
Sink sinkOf(std::shared_ptr<T> impl) {
  Sink s;
  if constexpr (requires { impl->begin(); }) s.begin = [impl] { impl->begin(); };
  if constexpr (requires { impl->write(lmsview::Scan(), ScanSource()); })
    s.write = [impl](const lmsview::Scan& scan, const ScanSource& from) { return impl->write(scan, from); };
  else
    s.write = [impl](const lmsview::Scan& scan, const ScanSource&) { return impl->write(scan); };
  if constexpr (requires { impl->merged(lmsview::Merged()); })
    s.merged = [impl](const lmsview::Merged& m) { impl->merged(m); };
  if constexpr (requires { impl->health(Health()); }) s.health = [impl](const Health& h) { impl->health(h); };
  if constexpr (requires { impl->end(); }) s.end = [impl] { impl->end(); };
  if constexpr (requires { impl->link(lmsview::Event()); })
    s.link = [impl](const lmsview::Event& e) { impl->link(e); };
  if constexpr (requires { impl->shortfall(); }) s.shortfall = [impl] { return impl->shortfall(); };
  return s;
}

// One file per output, under app/outputs/.
Sink makeTableSink(const SinkSetup& setup);
Sink makeCsvSink(const SinkSetup& setup);
Sink makeJsonlSink(const SinkSetup& setup);
Sink makePlotSink(const SinkSetup& setup);
Sink makeSvgSink(const SinkSetup& setup);
Sink makeRecordSink(const SinkSetup& setup, class FileOutput* file);
Sink makeMcapSink(const SinkSetup& setup, FileOutput* file);

// Outputs opened before the run, so that a failure is a usage error before
// any link opens: the --record file, and sinks of scans received that hold
// a connection of their own (--ros2).
struct OpenedOutputs {
  FileOutput* record = nullptr;
  std::vector<Sink> received;
};

// --ros2: whether this build has DDS, and the sink that publishes every scan
// received (false with a one-line reason when DDS cannot start).
bool ros2Supported();
// A robot's (`robot` not nullptr): one topic a scanner, /NAME/scan in NAME_laser.
bool openRos2Sink(const RunOptions& options, const RobotLayout* robot, std::FILE* messages, Sink* sink,
                  std::string* error);
// --serve: the live server bound (false with a one-line reason) and started;
// says on `messages` where it serves.
// A robot's page shows its first scanner.
bool openServeSink(const RunOptions& options, const RobotLayout* robot, std::FILE* messages, Sink* sink,
                   std::string* error);

// The sinks of a run: the format's on standard output and --svg (scans
// shown), and --record and the opened ones (scans received).
struct Sinks {
  std::vector<Sink> shown;
  std::vector<Sink> received;
};
Sinks makeSinks(const SinkSetup& setup, const OpenedOutputs& opened);

}  // namespace app
