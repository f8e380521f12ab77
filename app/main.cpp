// lmsview: shows the scans of a laser range scanner as tables of angle and range.

#include <cstdio>

#include "app/cli.h"
#include "app/run_control.h"

int main(int argc, char** argv) {
  const app::Invocation inv = app::parseCommandLine(argc, argv);
  switch (inv.action) {
    case app::Invocation::Action::Help:
      std::fputs(app::usageText(), stdout);
      return app::kExitStopped;
    case app::Invocation::Action::Version:
      std::printf("lmsview %s\n", app::kVersion);
      return app::kExitStopped;
    case app::Invocation::Action::BadKeyword:
    case app::Invocation::Action::BadPort:
      std::fprintf(stderr, "%s\n", inv.error.c_str());
      return app::kExitUsage;
    case app::Invocation::Action::Run:
      break;
  }
  app::installSignalHandlers();
  std::fputs(inv.banner.c_str(), stdout);
  std::fflush(stdout);
  return app::runLaser(inv.serial, inv.serial ? inv.portName.c_str() : nullptr,
                       inv.serial ? nullptr : inv.address.c_str(), inv.laserType.c_str());
}
