// lmssim: a laser scanner emulator speaking the scanner's side of the
// telegram protocol over TCP or a serial line.

#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
  using namespace sim;
  SimCommandLine cl;
  std::string error;
  if (!parseSimCommandLine(argc, argv, &cl, &error)) {
    std::fprintf(stderr, "lmssim: %s\n", error.c_str());
    return 2;
  }
  if (cl.help) {
    std::fputs(simUsage(), stdout);
    return 0;
  }
  if (cl.version) {
    std::printf("lmssim %s\n", LMS_VERSION);
    return 0;
  }
  ReplayScans replay;
  std::string notice;
  if (!cl.replayFile.empty() && !replay.load(cl.replayFile, &error, &notice)) {
    std::fprintf(stderr, "lmssim: %s\n", error.c_str());
    return 2;
  }
  if (!notice.empty()) std::fprintf(stderr, "lmssim: %s\n", notice.c_str());
  std::FILE* scanLog = nullptr;
  if (!cl.scanLogFile.empty()) {
    scanLog = std::fopen(cl.scanLogFile.c_str(), "w");
    if (!scanLog) {
      std::fprintf(stderr, "lmssim: cannot write %s\n", platform::printable(cl.scanLogFile).c_str());
      return 2;
    }
  }
  std::FILE* timingLog = nullptr;
  if (!cl.timingLogFile.empty()) {
    timingLog = std::fopen(cl.timingLogFile.c_str(), "w");
    if (!timingLog) {
      std::fprintf(stderr, "lmssim: cannot write %s\n", platform::printable(cl.timingLogFile).c_str());
      return 2;
    }
  }
  SimOptions options;
  options.seed = cl.seed;
  options.replay = cl.replayFile.empty() ? nullptr : &replay;
  options.replayOnce = cl.replayOnce;
  options.pace = !cl.noPace;
  options.baud = cl.baud;
  options.verbose = cl.verbose;
  options.maxSeconds = cl.maxSeconds;
  options.stopOnEof = cl.stopOnEof;
  options.scanLog = scanLog;
  options.timingLog = timingLog;
  SimFaults faults = cl.faults;
  faults.chaosSeed = cl.seed;
  SimServer server(faults, options);

  bool ok = false;
  switch (cl.mode) {
    case SimCommandLine::Mode::Tcp:
      ok = server.listenTcp(cl.address, static_cast<std::uint16_t>(cl.port), cl.anyAddress, &error);
      // One line, flushed when the listener is up: a script or test that
      // starts the emulator waits for it (and learns the port when it was 0).
      if (ok) std::printf("lmssim: listening on %s:%u\n", cl.address.c_str(), server.boundPort());
      break;
    case SimCommandLine::Mode::Pty:
      ok = server.createPty(&error);
      // The path is what the user needs to start the reader: always printed.
      if (ok) std::printf("lmssim: serial device %s\n", server.devicePath().c_str());
      break;
    case SimCommandLine::Mode::Device:
      ok = server.openDevice(cl.device, &error);
      if (ok) std::printf("lmssim: serial device %s\n", platform::printable(server.devicePath()).c_str());
      break;
  }
  if (!ok) {
    std::fprintf(stderr, "lmssim: %s\n", error.c_str());
    return 1;
  }
  std::fflush(stdout);

  gServer = &server;
  platform::installStopSignals(onSignal);

  server.serve();
  gServer = nullptr;

  if (cl.counts) {
    const SimCounters c = server.counters();
    std::printf(
        "lmssim: requests %lld, scans %lld, acks %lld, naks %lld, ignored %lld, bad checksum %lld, faults "
        "%lld\n",
        static_cast<long long>(c.requests), static_cast<long long>(c.scans), static_cast<long long>(c.acks),
        static_cast<long long>(c.naks), static_cast<long long>(c.ignored),
        static_cast<long long>(c.badChecksum), static_cast<long long>(c.faults));
  }
  if (scanLog) std::fclose(scanLog);
  if (timingLog) std::fclose(timingLog);
  return 0;
}
