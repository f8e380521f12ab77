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
#include "lmsview/scanner.h"

namespace app {

// What a sink is given when it is made.
struct SinkSetup {
  const RunOptions& options;
  std::FILE* messages;  // where a sink reports (once) a file it cannot write
  bool terminal;        // standard output is a terminal
  // Standard output: one call a table or line, so a pipe's reader never gets
  // half of one; an error ends the run.
  std::function<std::error_code(std::string_view)> out;
};

struct Sink {
  std::function<void()> begin = [] {};
  // An error only for standard output failing: the run then ends.
  std::function<std::error_code(const lmsview::Scan&)> write;
  std::function<void()> end = [] {};
  // What happened on the link (opened, lost, an open that failed), for
  // sinks that tell others (--serve).
  std::function<void(const lmsview::Event&)> link = [](const lmsview::Event&) {};
  // After end(): a line naming the output and what it holds when it stopped
  // before the run ended (a recording whose disk filled), else "".
  std::function<std::string()> shortfall = [] { return std::string(); };
};

// Wraps a sink object of any type that has write(scan) and, if it likes,
// begin() and end().
template <class T>
Sink sinkOf(std::shared_ptr<T> impl) {
  Sink s;
  if constexpr (requires { impl->begin(); }) s.begin = [impl] { impl->begin(); };
  s.write = [impl](const lmsview::Scan& scan) { return impl->write(scan); };
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
bool openRos2Sink(const RunOptions& options, std::FILE* messages, Sink* sink, std::string* error);
// --serve: the live server bound (false with a one-line reason) and started;
// says on `messages` where it serves.
bool openServeSink(const RunOptions& options, std::FILE* messages, Sink* sink, std::string* error);

// The sinks of a run: the format's on standard output and --svg (scans
// shown), and --record and the opened ones (scans received).
struct Sinks {
  std::vector<Sink> shown;
  std::vector<Sink> received;
};
Sinks makeSinks(const SinkSetup& setup, const OpenedOutputs& opened);

}  // namespace app
