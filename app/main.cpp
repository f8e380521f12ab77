// SPDX-License-Identifier: Apache-2.0
// lmsview: shows the scans of a laser range scanner as tables of angle and range.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/find.h"
#include "app/outputs/file_output.h"
#include "app/port_listing.h"
#include "app/run_control.h"
#include "lms/protocol/links.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/output.h"
#include "platform/signals.h"
#include "platform/terminal.h"
#include "platform/text.h"

namespace {

// --help, --version and --list-ports to an output that takes nothing (a
// full disk, a closed pipe) say so, as the run's data does.
int printText(const std::string& text) {
  const std::error_code ec = platform::writeStdout(text);
  if (!ec) return app::kExitStopped;
  if (ec == std::errc::broken_pipe) return app::kExitBrokenPipe;
  std::fprintf(stderr, "lmsview: cannot write to standard output: %s\n", platform::errorText(ec).c_str());
  return app::kExitLinkFailed;
}

// Why --svg cannot have its picture at `path`, or "".
std::string svgTargetProblem(const std::string& path) {
  std::error_code ec;
  switch (platform::checkFileTarget(path, &ec)) {
    case platform::FileTarget::Usable:
      return "";
    case platform::FileTarget::Folder:
      return "it is a folder";
    case platform::FileTarget::NotRegular:
      return std::string(app::kNotRegular);
    case platform::FileTarget::NoFolder:
      return "its folder does not exist";
    case platform::FileTarget::FolderNotWritable:
      return "its folder takes no new file: " + platform::errorText(ec);
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  platform::ensureStandardStreams();
  platform::ignoreBrokenPipe();
  // Messages name files and devices in UTF-8: a console shows them as text
  // (its code page is put back at the end).
  platform::useUtf8Output(true);
  // An end the program did not plan (out of memory, say) still gives the
  // terminal back.
  std::set_terminate([] {
    platform::restoreTerminal();
    std::abort();
  });
  const std::vector<std::string> words = platform::commandLineWords(argc, argv);
  std::vector<const char*> args;
  args.reserve(words.size());
  for (const std::string& w : words) args.push_back(w.c_str());
  const app::Invocation inv = app::parseCommandLine(static_cast<int>(args.size()), args.data());
  switch (inv.action) {
    case app::Invocation::Action::Help:
      return printText(app::usageText());
    case app::Invocation::Action::Version:
      return printText(std::string("lmsview ") + app::kVersion + "\n");
    case app::Invocation::Action::ListPorts:
      return printText(app::portListing(transport::listSerialDevices()));
    case app::Invocation::Action::Find:
      if (inv.place.empty()) return app::runFind(app::listedPlaces(transport::listSerialDevices()));
      return app::runFind({{.serial = inv.serial,
                            .shown = inv.place,
                            .device = inv.serial ? lms::serialDevicePath(inv.portName) : inv.address}});
    case app::Invocation::Action::BadKeyword:
    case app::Invocation::Action::BadPort:
    case app::Invocation::Action::BadOption:
      std::fprintf(stderr, "%s\n", inv.error.c_str());
      return app::kExitUsage;
    case app::Invocation::Action::Run:
      break;
  }
  // A robot's config is read and checked before anything opens.
  app::RobotConfig robot;
  if (!inv.options.configPath.empty()) {
    std::string error;
    if (!app::loadRobotConfig(inv.options.configPath, &robot, &error)) {
      std::fprintf(stderr, "lmsview: %s\n", error.c_str());
      return app::kExitUsage;
    }
  }
  // Files are checked and made before any link is opened, so a refusal costs nothing.
  if (!inv.options.svgPath.empty()) {
    if (const std::string why = svgTargetProblem(inv.options.svgPath); !why.empty()) {
      std::fprintf(stderr, "lmsview: --svg %s: %s\n", platform::printable(inv.options.svgPath).c_str(),
                   why.c_str());
      return app::kExitUsage;
    }
  }
  app::FileOutput recorder("--record");
  if (!inv.options.recordPath.empty()) {
    std::string error;
    if (!recorder.open(inv.options.recordPath, inv.options.force, &error)) {
      std::fprintf(stderr, "lmsview: %s\n", error.c_str());
      return app::kExitUsage;
    }
  }
  app::OpenedOutputs opened{.record = &recorder, .received = {}};
  std::FILE* messages = app::messageStream(inv.options);
  // The outputs that hold a connection of their own (--ros2, --serve).
  const app::RobotLayout layout = app::robotLayout(robot);
  const app::RobotLayout* robotOf = inv.options.configPath.empty() ? nullptr : &layout;
  using Opener =
      bool (*)(const app::RunOptions&, const app::RobotLayout*, std::FILE*, app::Sink*, std::string*);
  for (const auto& [wanted, open] : {std::pair<bool, Opener>{inv.options.ros2, &app::openRos2Sink},
                                     {!inv.options.serveAddress.empty(), &app::openServeSink}}) {
    if (!wanted) continue;
    app::Sink sink;
    std::string error;
    if (!open(inv.options, robotOf, messages, &sink, &error)) {
      std::fprintf(stderr, "lmsview: %s\n", error.c_str());
      return app::kExitUsage;
    }
    opened.received.push_back(std::move(sink));
  }
  app::installSignalHandlers();
  std::fputs(inv.banner.c_str(), messages);
  std::fflush(messages);
  if (inv.defaultMode) {
    std::fprintf(stderr, "%s\n", app::defaultModeNotice().c_str());
    std::fflush(stderr);
  }
  if (!inv.options.configPath.empty()) return app::runRobot(robot, inv.options, opened);
  return app::runLaser(inv.serial, inv.serial ? inv.portName.c_str() : nullptr,
                       inv.serial ? nullptr : inv.address.c_str(), inv.laserType.c_str(), inv.options,
                       opened);
}
