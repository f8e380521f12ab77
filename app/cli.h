// SPDX-License-Identifier: Apache-2.0
#pragma once

// The command line: options (words that begin with "--", anywhere), then the
// positional arguments: link keyword, port or address, laser type. Options
// are taken out before the positional arguments are counted, so a line
// without options is read by its count alone (any count other than three is
// the default mode). A bad option is a usage error: it never falls into the
// default mode. Parsing has no side effects, so every case can be tested
// without opening a link.

#include <string>
#include <string_view>
#include <vector>

#include "app/run_options.h"

namespace app {

inline constexpr const char* kVersion = LMSVIEW_VERSION;

struct Invocation {
  enum class Action { Run, Help, Version, ListPorts, Find, BadKeyword, BadPort, BadOption };
  Action action = Action::Run;
  bool serial = false;
  bool defaultMode = false;
  std::string portName;  // "COM1".."COM10", or a device path
  std::string address;   // dotted IPv4 text, passed on unchanged
  std::string
      place;  // --find: the place as typed ("3", "/dev/ttyUSB0", "192.0.2.40"); "": every serial device
  std::string laserType;
  RunOptions options;
  std::string banner;  // printed before the run; user text in it is printable
  std::string error;   // one line for standard error when the action is Bad*
};

Invocation parseCommandLine(int argc, const char* const* argv);

// The line on standard error after the default mode's banner: one missing
// word reaches the network, so it says where and how to name a link.
std::string defaultModeNotice();
const char* usageText();
// Every option's name, in the order of the option table.
std::vector<std::string_view> optionNames();

}  // namespace app
