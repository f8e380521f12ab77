// lmsview: shows the scans of a laser range scanner as tables of angle and range.

#include <cstdio>

#include "app/cli.h"
#include "app/run_control.h"

int main(int argc, char** argv) {
  const Invocation inv = parseCommandLine(argc, argv);
  switch (inv.action) {
    case Invocation::Action::Help:
      std::fputs(usageText(), stdout);
      return kExitStopped;
    case Invocation::Action::Version:
      std::printf("lmsview %s\n", kVersion);
      return kExitStopped;
    case Invocation::Action::BadKeyword:
    case Invocation::Action::BadPort:
      std::fprintf(stderr, "%s\n", inv.error.c_str());
      return kExitUsage;
    case Invocation::Action::Run:
      break;
  }
  installSignalHandlers();
  std::fputs(inv.banner.c_str(), stdout);
  std::fflush(stdout);
  return runLaser(inv.serial, inv.serial ? inv.portName.c_str() : nullptr,
                  inv.serial ? nullptr : inv.address.c_str(), inv.laserType.c_str());
}
