// SPDX-License-Identifier: Apache-2.0
#pragma once

// The output formats, one row each: the command line, the help text and the
// sink list all read this table.

#include <string_view>

#include "app/outputs/sink.h"

namespace app {

struct FormatInfo {
  const char* name;
  const char* help;       // for --help, after the name
  bool messagesToStderr;  // standard output carries data only
  bool drawsOnTerminal;   // redraws in place on a terminal
  bool forPeople;         // a streaming scanner's 75 scans a second are too many to read: at most 10
  Sink (*make)(const SinkSetup&);
};

inline constexpr FormatInfo kFormats[] = {
    {"table", "a table of angle and range a scan (the default)", false, false, true, &makeTableSink},
    {"csv", "one line a scan: seq, time, the ranges in cm", true, false, false, &makeCsvSink},
    {"jsonl", "one JSON laser-scan object a line", true, false, false, &makeJsonlSink},
    {"plot", "a top-down picture that redraws in place on a terminal", true, true, true, &makePlotSink},
};

// How often a format for people redraws at most while a scanner streams.
inline constexpr int kPeopleRedrawMs = 100;

// The row of a format by its index (RunOptions::format).
inline const FormatInfo& formatInfo(int index) {
  return kFormats[index];
}

// The index of a format by name, or -1.
inline int formatIndex(std::string_view name) {
  for (int i = 0; i < static_cast<int>(std::size(kFormats)); ++i)
    if (name == kFormats[i].name) return i;
  return -1;
}

}  // namespace app
