// SPDX-License-Identifier: Apache-2.0
// Both command lines on arbitrary arguments: zero bytes separate them.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli.h"
#include "sim/options.h"

using namespace app;
using namespace sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"prog"};
  std::string cur;
  for (std::size_t i = 0; i < size && args.size() < 12; ++i) {
    if (data[i] == 0) {
      args.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(cur);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());

  const Invocation inv = parseCommandLine(argc, argv.data());
  switch (inv.action) {
    case Invocation::Action::Run:
      if (inv.banner.empty() || (inv.serial && inv.portName.empty())) std::abort();
      // Options keep their ranges.
      if (inv.options.count < 0 || inv.options.intervalMs < 0 || !(inv.options.seconds >= 0)) std::abort();
      break;
    case Invocation::Action::BadKeyword:
    case Invocation::Action::BadPort:
    case Invocation::Action::BadOption:
      if (inv.error.empty() || inv.error.find('\n') != std::string::npos || !inv.banner.empty()) std::abort();
      break;
    default:
      break;
  }
  SimCommandLine cl;
  std::string error;
  if (!parseSimCommandLine(argc, argv.data(), &cl, &error) &&
      (error.empty() || error.find('\n') != std::string::npos)) {
    std::abort();
  }
  return 0;
}
