// SPDX-License-Identifier: Apache-2.0
// lmssim: a laser scanner emulator speaking the scanner's side of the
// telegram protocol over TCP or a serial line.

#include <cstdio>
#include <memory>
#include <string>

#include "platform/signals.h"
#include "platform/text.h"
#include "sim/options.h"
#include "sim/server.h"

namespace {

sim::SimServer* gServer = nullptr;

extern "C" void onSignal(int) {
  if (gServer) gServer->stop();
}

// A log file the command line asked for, closed at the end; nullptr when
// none was asked for. False when it cannot be written.
struct LogFile {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, &std::fclose};
  bool open(const std::string& path) {
    if (path.empty()) return true;
    file.reset(std::fopen(path.c_str(), "w"));
    if (!file) std::fprintf(stderr, "lmssim: cannot write %s\n", platform::printable(path).c_str());
    return file != nullptr;
  }
};

sim::SimOptions optionsOf(const sim::SimCommandLine& cl, const sim::ReplayScans* replay, std::FILE* scanLog,
                          std::FILE* timingLog) {
  sim::SimOptions o;
  o.seed = cl.seed;
  o.replay = cl.replayFile.empty() ? nullptr : replay;
  o.replayOnce = cl.replayOnce;
  o.pace = !cl.noPace;
  o.baud = cl.baud;
  o.verbose = cl.verbose;
  o.maxSeconds = cl.maxSeconds;
  o.stopOnEof = cl.stopOnEof;
  o.scanLog = scanLog;
  o.timingLog = timingLog;
  o.setup = cl.setup;
  return o;
}

// Opens the link the command line names. One line, flushed, says where the
// emulator is once it is ready: a script or test that starts it waits for
// that line (and learns the port when it asked for 0, or the pty's path).
bool openLink(sim::SimServer& server, const sim::SimCommandLine& cl, std::string* error) {
  using Mode = sim::SimCommandLine::Mode;
  bool ok = false;
  switch (cl.mode) {
    case Mode::Tcp:
      ok = server.listenTcp(cl.address, static_cast<std::uint16_t>(cl.port), cl.anyAddress, error);
      if (ok) std::printf("lmssim: listening on %s:%u\n", cl.address.c_str(), server.boundPort());
      break;
    case Mode::Pty:
      ok = server.createPty(error);
      if (ok) std::printf("lmssim: serial device %s\n", server.devicePath().c_str());
      break;
    case Mode::Device:
      ok = server.openDevice(cl.device, error);
      if (ok) std::printf("lmssim: serial device %s\n", platform::printable(server.devicePath()).c_str());
      break;
  }
  std::fflush(stdout);
  return ok;
}

void printCounts(const sim::SimCounters& c) {
  std::printf(
      "lmssim: requests %lld, scans %lld, acks %lld, naks %lld, ignored %lld, bad checksum %lld, faults "
      "%lld\n",
      static_cast<long long>(c.requests), static_cast<long long>(c.scans), static_cast<long long>(c.acks),
      static_cast<long long>(c.naks), static_cast<long long>(c.ignored),
      static_cast<long long>(c.badChecksum), static_cast<long long>(c.faults));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sim;
  SimCommandLine cl;
  std::string error;
  if (!parseSimCommandLine(argc, argv, &cl, &error)) {
    std::fprintf(stderr, "lmssim: %s\n", error.c_str());
    return 2;
  }
  if (cl.help || cl.version) {
    if (cl.help)
      std::fputs(simUsage(), stdout);
    else
      std::printf("lmssim %s\n", LMSVIEW_VERSION);
    return 0;
  }
  ReplayScans replay;
  std::string notice;
  if (!cl.replayFile.empty() && !replay.load(cl.replayFile, &error, &notice)) {
    std::fprintf(stderr, "lmssim: %s\n", error.c_str());
    return 2;
  }
  if (!notice.empty()) std::fprintf(stderr, "lmssim: %s\n", notice.c_str());
  LogFile scanLog, timingLog;
  if (!scanLog.open(cl.scanLogFile) || !timingLog.open(cl.timingLogFile)) return 2;
  SimFaults faults = cl.faults;
  faults.chaosSeed = cl.seed;
  SimServer server(faults, optionsOf(cl, &replay, scanLog.file.get(), timingLog.file.get()));
  if (!openLink(server, cl, &error)) {
    std::fprintf(stderr, "lmssim: %s\n", error.c_str());
    return 1;
  }
  gServer = &server;
  platform::installStopSignals(onSignal);
  server.serve();
  gServer = nullptr;
  if (cl.counts) printCounts(server.counters());
  return 0;
}
