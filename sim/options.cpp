#include "sim/options.h"

#include "platform/posix/serial_line.h"
#include "platform/text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sim {

using platform::printable;

namespace {

constexpr double kMaxSeconds = 1e7;
constexpr const char* kBaudList =
    "1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 500000";

bool toInt(const char* text, long lo, long hi, int* out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

struct IntOption {
  const char* name;
  int SimCommandLine::*field;
  int SimFaults::*fault;
  long lo, hi;
};

const IntOption kIntOptions[] = {
    {"--port", &SimCommandLine::port, nullptr, 1, 65535},
    {"--baud", &SimCommandLine::baud, nullptr, 1200, 500000},
    {"--nak-every", nullptr, &SimFaults::nakEvery, 0, 1000000},
    {"--silent-after", nullptr, &SimFaults::silentAfter, -1, 1000000},
    {"--silent-for", nullptr, &SimFaults::silentForMs, 0, 86400000},
    {"--corrupt-crc-every", nullptr, &SimFaults::corruptCrcEvery, 0, 1000000},
    {"--flip-byte-every", nullptr, &SimFaults::flipByteEvery, 0, 1000000},
    {"--short-every", nullptr, &SimFaults::shortEvery, 0, 1000000},
    {"--short-length", nullptr, &SimFaults::shortLength, 0, 731},
    {"--chunk", nullptr, &SimFaults::chunkSize, 0, 100000},
    {"--chunk-gap", nullptr, &SimFaults::chunkGapMs, 0, 60000},
    {"--ack-gap", nullptr, &SimFaults::ackGapMs, 0, 60000},
    {"--garbage", nullptr, &SimFaults::garbageBytes, 0, 1000},
    {"--garbage-every", nullptr, &SimFaults::garbageEvery, 1, 1000000},
    {"--close-after", nullptr, &SimFaults::closeAfter, 0, 1000000},
    {"--oversize-every", nullptr, &SimFaults::oversizeEvery, 0, 1000000},
    {"--chaos", nullptr, &SimFaults::chaosPercent, 0, 100},
};

}  // namespace

const char* simUsage() {
  return "usage: lmssim [options]\n"
         "Emulates a laser scanner of the LMS family for tests and demos.\n"
         "\n"
         "Link (TCP on 127.0.0.1:10002 unless told otherwise):\n"
         "  --address A          listen on IPv4 address A (default 127.0.0.1)\n"
         "  --port P             listen on TCP port P (default 10002)\n"
         "  --any-address        allow an address outside 127.0.0.0/8\n"
         "  --serial             create a pseudo-terminal and print its device path\n"
         "  --device PATH        serve on an existing serial device\n"
         "  --baud N             line speed for --serial/--device (default 9600; 1200 to 500000)\n"
         "  --no-pace            on a serial line, send at once instead of at the baud rate\n"
         "\n"
         "Scans:\n"
         "  --seed N             scene seed (default 1): room walls and a moving object\n"
         "  --replay FILE        send range words from FILE, one scan per line, instead\n"
         "                       (plain numbers, or a file lmsview --record wrote); it loops\n"
         "  --once               with --replay: end after the file's last scan\n"
         "  --scan-log FILE      write one line per measurement reply: number, fate, words\n"
         "  --timing-log FILE    write one line per measurement reply: number, monotonic ns of its last "
         "byte\n"
         "\n"
         "Faults (N counts requests or replies from 1; 0 turns a fault off):\n"
         "  --nak-every N        refuse every Nth request with NAK\n"
         "  --silent-after N     answer nothing after N requests ...\n"
         "  --silent-for MS      ... for MS milliseconds, then recover (default: for ever)\n"
         "  --corrupt-crc-every N  spoil the checksum of every Nth measurement reply\n"
         "  --flip-byte-every N  change a range byte of every Nth reply, checksum valid\n"
         "  --short-every N      cut every Nth reply short ...\n"
         "  --short-length L     ... to L bytes (default 400)\n"
         "  --chunk K            send replies in chunks of K bytes ...\n"
         "  --chunk-gap G        ... with G ms between chunks\n"
         "  --ack-gap G          pause G ms between ACK and reply (0: one burst)\n"
         "  --garbage N          send N garbage bytes before the ACK ...\n"
         "  --garbage-every M    ... of every Mth answer (default 1)\n"
         "  --close-after N      close the connection after N measurement replies\n"
         "  --oversize-every N   make every Nth measurement answer a burst over 1000 bytes\n"
         "  --chaos P            give P% of requests one fault drawn at random (seeded by --seed)\n"
         "\n"
         "Running:\n"
         "  -v, --verbose        print one line per exchange\n"
         "  --counts             print what was served when ending\n"
         "  --max-seconds S      end after S seconds\n"
         "  --stop-on-eof        end when standard input reaches end of input\n"
         "  -h, --help           show this text\n"
         "  --version            show the version\n"
         "Ends on SIGINT or SIGTERM.\n";
}

bool parseSimCommandLine(int argc, char** argv, SimCommandLine* out, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    // Echoed in messages, so shown printable.
    const std::string arg = printable(argv[i]);
    auto value = [&](const char** v) {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      *v = argv[++i];
      return true;
    };
    const char* v = nullptr;
    if (arg == "-h" || arg == "--help") {
      out->help = true;
    } else if (arg == "--version") {
      out->version = true;
    } else if (arg == "-v" || arg == "--verbose") {
      out->verbose = true;
    } else if (arg == "--any-address") {
      out->anyAddress = true;
    } else if (arg == "--serial") {
      out->mode = SimCommandLine::Mode::Pty;
    } else if (arg == "--once") {
      out->replayOnce = true;
    } else if (arg == "--no-pace") {
      out->noPace = true;
    } else if (arg == "--counts") {
      out->counts = true;
    } else if (arg == "--stop-on-eof") {
      out->stopOnEof = true;
    } else if (arg == "--address") {
      if (!value(&v)) return false;
      out->address = v;
    } else if (arg == "--device") {
      if (!value(&v)) return false;
      out->mode = SimCommandLine::Mode::Device;
      out->device = v;
    } else if (arg == "--replay") {
      if (!value(&v)) return false;
      out->replayFile = v;
    } else if (arg == "--scan-log") {
      if (!value(&v)) return false;
      out->scanLogFile = v;
    } else if (arg == "--timing-log") {
      if (!value(&v)) return false;
      out->timingLogFile = v;
    } else if (arg == "--seed") {
      int s = 0;
      if (!value(&v)) return false;
      if (!toInt(v, 0, 2147483647, &s)) {
        *error = "--seed takes a whole number from 0 to 2147483647";
        return false;
      }
      out->seed = static_cast<unsigned>(s);
    } else if (arg == "--max-seconds") {
      if (!value(&v)) return false;
      char* end = nullptr;
      const double s = std::strtod(v, &end);
      // Finite and in range before it is ever converted to milliseconds.
      if (end == v || *end != '\0' || !std::isfinite(s) || s < 0 || s > kMaxSeconds) {
        *error = "--max-seconds takes a number of seconds from 0 to " +
                 std::to_string(static_cast<long>(kMaxSeconds));
        return false;
      }
      out->maxSeconds = s;
    } else {
      const IntOption* found = nullptr;
      for (const auto& o : kIntOptions) {
        if (arg == o.name) found = &o;
      }
      if (!found) {
        *error = "unknown option " + arg + " (see --help)";
        return false;
      }
      int n = 0;
      if (!value(&v)) return false;
      if (!toInt(v, found->lo, found->hi, &n)) {
        *error = arg + " takes a whole number from " + std::to_string(found->lo) + " to " +
                 std::to_string(found->hi);
        return false;
      }
      if (found->field)
        out->*(found->field) = n;
      else
        out->faults.*(found->fault) = n;
    }
  }
  // The line is set up at exactly this rate, so only a rate it knows will do.
  if (!platform::serialBaudSupported(out->baud)) {
    *error =
        "--baud " + std::to_string(out->baud) + " is not a rate the serial line knows (" + kBaudList + ")";
    return false;
  }
  return true;
}

}  // namespace sim
