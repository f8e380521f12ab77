// lmsview: shows the scans of a laser range scanner as tables of angle and range.

#include <cstdio>
#include <string>

#include "app/cli.h"
#include "app/hints.h"
#include "app/recorder.h"
#include "app/run_control.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  platform::ensureStandardStreams();
  const app::Invocation inv = app::parseCommandLine(argc, argv);
  switch (inv.action) {
    case app::Invocation::Action::Help:
      std::fputs(app::usageText(), stdout);
      return app::kExitStopped;
    case app::Invocation::Action::Version:
      std::printf("lmsview %s\n", app::kVersion);
      return app::kExitStopped;
    case app::Invocation::Action::ListPorts:
      std::fputs(app::portListing(transport::listSerialDevices()).c_str(), stdout);
      return app::kExitStopped;
    case app::Invocation::Action::BadKeyword:
    case app::Invocation::Action::BadPort:
    case app::Invocation::Action::BadOption:
      std::fprintf(stderr, "%s\n", inv.error.c_str());
      return app::kExitUsage;
    case app::Invocation::Action::Run:
      break;
  }
  // The record file is made before any link is opened, so a refusal costs nothing.
  app::Recorder recorder;
  if (!inv.options.recordPath.empty()) {
    std::string error;
    if (!recorder.open(inv.options.recordPath, inv.options.force, &error)) {
      std::fprintf(stderr, "lmsview: %s\n", error.c_str());
      return app::kExitUsage;
    }
  }
  app::installSignalHandlers();
  std::FILE* messages = app::messageStream(inv.options);
  std::fputs(inv.banner.c_str(), messages);
  std::fflush(messages);
  if (inv.defaultMode) {
    std::fprintf(stderr, "%s\n", app::defaultModeNotice().c_str());
    std::fflush(stderr);
  }
  return app::runLaser(inv.serial, inv.serial ? inv.portName.c_str() : nullptr,
                       inv.serial ? nullptr : inv.address.c_str(), inv.laserType.c_str(), inv.options,
                       &recorder);
}
