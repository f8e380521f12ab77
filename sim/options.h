// SPDX-License-Identifier: Apache-2.0
#pragma once

// lmssim's command line, parsed without side effects so tests can check it.

#include <string>
#include <string_view>
#include <vector>

#include "sim/emulated_scanner.h"

namespace sim {

struct SimCommandLine {
  enum class Mode { Tcp, Pty, Device } mode = Mode::Tcp;
  std::string address = "127.0.0.1";
  int port = 10002;
  bool anyAddress = false;
  std::string device;
  std::string replayFile;
  bool replayOnce = false;
  std::string scanLogFile;
  std::string timingLogFile;
  bool noPace = false;
  bool counts = false;
  bool help = false;
  bool version = false;
  SimFaults faults;
  int baud = 9600;
  unsigned seed = 1;
  bool verbose = false;
  double maxSeconds = 0;
  bool stopOnEof = false;
  SimSetup setup;
};

// False with a one-line message in *error for a bad command line.
bool parseSimCommandLine(int argc, char** argv, SimCommandLine* out, std::string* error);
const char* simUsage();
// Every option's name, in the order of the option table.
std::vector<std::string_view> simOptionNames();

}  // namespace sim
