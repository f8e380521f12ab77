// SPDX-License-Identifier: Apache-2.0
#include "sim/options.h"

#include <charconv>
#include <cmath>
#include <span>

#include "cmdline/option_table.h"
#include "lms/protocol/reply.h"
#include "platform/serial_rates.h"
#include "platform/text.h"

namespace sim {

using platform::printable;

namespace {

using Option = platform::Option<SimCommandLine>;

constexpr double kMaxSeconds = 1e7;

bool toInt(std::string_view text, long lo, long hi, int* out) {
  long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

// A whole number in [Lo, Hi] into a field of the command line or of its faults.
template <auto Field, long Lo, long Hi>
bool whole(SimCommandLine& cl, std::string_view v, std::string* error) {
  int n = 0;
  if (!toInt(v, Lo, Hi, &n)) {
    *error = "takes a whole number from " + std::to_string(Lo) + " to " + std::to_string(Hi);
    return false;
  }
  if constexpr (requires { cl.*Field; })
    cl.*Field = n;
  else
    cl.faults.*Field = n;
  return true;
}

// A text value into a field.
template <auto Field>
bool text(SimCommandLine& cl, std::string_view v, std::string*) {
  cl.*Field = std::string(v);
  return true;
}

// A flag.
template <auto Field>
bool flag(SimCommandLine& cl, std::string_view, std::string*) {
  cl.*Field = true;
  return true;
}

const std::string kVariantHelp = "the field and resolution the scanner is set to at the start:\n" +
                                 lms::variantNames() +
                                 " (180/0.5 the default; a\nvariant telegram changes it)";

const Option kLinkOptions[] = {
    {"--address", "", "A", "listen on IPv4 address A (default 127.0.0.1)", &text<&SimCommandLine::address>},
    {"--port", "", "P", "listen on TCP port P (default 10002; 0: one the system picks)",
     &whole<&SimCommandLine::port, 0, 65535>},
    {"--any-address", "", "", "allow an address outside 127.0.0.0/8", &flag<&SimCommandLine::anyAddress>},
    {"--serial", "", "", "create a pseudo-terminal and print its device path",
     [](SimCommandLine& cl, std::string_view, std::string*) {
       cl.mode = SimCommandLine::Mode::Pty;
       return true;
     }},
    {"--device", "", "PATH", "serve on an existing serial device",
     [](SimCommandLine& cl, std::string_view v, std::string*) {
       cl.mode = SimCommandLine::Mode::Device;
       cl.device = v;
       return true;
     }},
    {"--baud", "", "N",
     "line speed for --serial/--device at the start (default 9600;\n"
     "1200 to 500000); an operating-mode telegram changes it",
     &whole<&SimCommandLine::baud, 1200, 500000>},
    {"--no-pace", "", "", "on a serial line, send at once instead of at the baud rate",
     &flag<&SimCommandLine::noPace>},
};

const Option kScanOptions[] = {
    {"--variant", "", "V", kVariantHelp,
     [](SimCommandLine& cl, std::string_view v, std::string* error) {
       const lms::Variant* variant = lms::variantNamed(v);
       if (variant == nullptr) {
         *error = "takes " + lms::variantNames();
         return false;
       }
       cl.setup.points = variant->points;
       return true;
     }},
    {"--units", "", "U",
     "the range unit the scanner reports in, as each reply states it:\n"
     "mm (default), cm or dm",
     [](SimCommandLine& cl, std::string_view v, std::string* error) {
       for (const lms::Units u : {lms::Units::Millimetres, lms::Units::Centimetres, lms::Units::Decimetres}) {
         if (v == lms::unitsName(u)) {
           cl.setup.units = u;
           return true;
         }
       }
       *error = "takes mm, cm or dm";
       return false;
     }},
    {"--streaming", "", "",
     "start in continuous output: every scan sent as the mirror\n"
     "finishes it (75 turns a second; a scan takes 1, 2 or 4 turns at\n"
     "1, 0.5 and 0.25 degrees), the newest when the line is slower;\n"
     "operating mode 0x24 starts it, 0x25 ends it",
     [](SimCommandLine& cl, std::string_view, std::string*) {
       cl.setup.streaming = true;
       return true;
     }},
    {"--seed", "", "N", "scene seed (default 1): room walls and a moving object",
     [](SimCommandLine& cl, std::string_view v, std::string* error) {
       int s = 0;
       if (!toInt(v, 0, 2147483647, &s)) {
         *error = "takes a whole number from 0 to 2147483647";
         return false;
       }
       cl.seed = static_cast<unsigned>(s);
       return true;
     }},
    {"--pose", "", "X,Y,YAW_DEG",
     "where the scanner stands in the scene's room (default 0,0,0):\n"
     "metres towards the far wall and to the left, and its heading in\n"
     "degrees (counter-clockwise); two emulators of one --seed at two\n"
     "poses see one room from two places",
     [](SimCommandLine& cl, std::string_view v, std::string* error) {
       double values[3] = {};
       std::string_view rest = v;
       for (int k = 0; k < 3; ++k) {
         const std::size_t comma = k < 2 ? rest.find(',') : std::string_view::npos;
         if (k < 2 && comma == std::string_view::npos) break;
         const std::string_view field = rest.substr(0, comma);
         const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), values[k]);
         if (ec != std::errc() || end != field.data() + field.size() || !std::isfinite(values[k])) break;
         if (k == 2) {
           cl.setup.poseX = values[0];
           cl.setup.poseY = values[1];
           cl.setup.poseYawDeg = values[2];
           return true;
         }
         rest = rest.substr(comma + 1);
       }
       *error = "takes X,Y,YAW_DEG: three numbers (metres, metres, degrees)";
       return false;
     }},
    {"--replay", "", "FILE",
     "send range words from FILE, one scan per line, instead\n"
     "(plain numbers, or a file lmsview --record wrote); it loops",
     &text<&SimCommandLine::replayFile>},
    {"--once", "", "", "with --replay: end after the file's last scan", &flag<&SimCommandLine::replayOnce>},
    {"--scan-log", "", "FILE", "write one line per measurement reply: number, fate, words",
     &text<&SimCommandLine::scanLogFile>},
    {"--timing-log", "", "FILE",
     "write one line per measurement reply: number, monotonic ns of its\n"
     "last byte, wall-clock ns (UTC) of its first and of its last byte",
     &text<&SimCommandLine::timingLogFile>},
};

const Option kFaultOptions[] = {
    {"--nak-every", "", "N", "refuse every Nth request with NAK", &whole<&SimFaults::nakEvery, 0, 1000000>},
    {"--silent-after", "", "N", "answer nothing after N requests ...",
     &whole<&SimFaults::silentAfter, -1, 1000000>},
    {"--silent-for", "", "MS", "... for MS milliseconds, then recover (default: for ever)",
     &whole<&SimFaults::silentForMs, 0, 86400000>},
    {"--corrupt-crc-every", "", "N", "spoil the checksum of every Nth measurement reply",
     &whole<&SimFaults::corruptCrcEvery, 0, 1000000>},
    {"--flip-byte-every", "", "N", "change a range byte of every Nth reply, checksum valid",
     &whole<&SimFaults::flipByteEvery, 0, 1000000>},
    {"--short-every", "", "N", "cut every Nth reply short ...", &whole<&SimFaults::shortEvery, 0, 1000000>},
    {"--short-length", "", "L", "... to L bytes (default 400; a reply is at most 812)",
     &whole<&SimFaults::shortLength, 0, 811>},
    {"--chunk", "", "K", "send replies in chunks of K bytes ...", &whole<&SimFaults::chunkSize, 0, 100000>},
    {"--chunk-gap", "", "G", "... with G ms between chunks", &whole<&SimFaults::chunkGapMs, 0, 60000>},
    {"--ack-gap", "", "G", "pause G ms between ACK and reply (0: one burst)",
     &whole<&SimFaults::ackGapMs, 0, 60000>},
    {"--garbage", "", "N", "send N garbage bytes before the ACK ...",
     &whole<&SimFaults::garbageBytes, 0, 1000>},
    {"--garbage-every", "", "M", "... of every Mth answer (default 1)",
     &whole<&SimFaults::garbageEvery, 1, 1000000>},
    {"--close-after", "", "N", "close the connection after N measurement replies",
     &whole<&SimFaults::closeAfter, 0, 1000000>},
    {"--oversize-every", "", "N", "make every Nth measurement answer a burst over 1000 bytes",
     &whole<&SimFaults::oversizeEvery, 0, 1000000>},
    {"--refuse-rate", "", "", "refuse (NAK) the operating-mode telegrams that change the line's rate",
     [](SimCommandLine& cl, std::string_view, std::string*) {
       cl.faults.refuseRate = 1;
       return true;
     }},
    {"--refuse-variant", "", "", "answer variant telegrams with \"not switched\"",
     [](SimCommandLine& cl, std::string_view, std::string*) {
       cl.faults.refuseVariant = 1;
       return true;
     }},
    {"--chaos", "", "P", "give P% of requests one fault drawn at random (seeded by --seed)",
     &whole<&SimFaults::chaosPercent, 0, 100>},
    {"--stream-garbage-every", "", "N", "streaming: garbage before every Nth telegram",
     &whole<&SimFaults::streamGarbageEvery, 0, 1000000>},
    {"--stream-cut-every", "", "N", "streaming: cut every Nth telegram short",
     &whole<&SimFaults::streamCutEvery, 0, 1000000>},
    {"--late-stop-ack", "", "", "streaming: acknowledge the stop only after one more telegram",
     [](SimCommandLine& cl, std::string_view, std::string*) {
       cl.faults.lateStopAck = true;
       return true;
     }},
};

const Option kRunOptions[] = {
    {"--verbose", "-v", "", "print one line per exchange", &flag<&SimCommandLine::verbose>},
    {"--counts", "", "", "print what was served when ending", &flag<&SimCommandLine::counts>},
    {"--max-seconds", "", "S", "end after S seconds",
     [](SimCommandLine& cl, std::string_view v, std::string* error) {
       double s = 0;
       const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), s);
       // Finite and in range before it is ever converted to milliseconds.
       if (v.empty() || ec != std::errc() || end != v.data() + v.size() || !std::isfinite(s) || s < 0 ||
           s > kMaxSeconds) {
         *error = "takes a number of seconds from 0 to " + std::to_string(static_cast<long>(kMaxSeconds));
         return false;
       }
       cl.maxSeconds = s;
       return true;
     }},
    {"--stop-on-eof", "", "", "end when standard input reaches end of input",
     &flag<&SimCommandLine::stopOnEof>},
    {"--help", "-h", "", "show this text", &flag<&SimCommandLine::help>},
    {"--version", "", "", "show the version", &flag<&SimCommandLine::version>},
};

struct Section {
  const char* heading;
  std::span<const Option> options;
};
const Section kSections[] = {
    {"Link (TCP on 127.0.0.1:10002 unless told otherwise):", kLinkOptions},
    {"Scans:", kScanOptions},
    {"Faults (N counts requests or replies from 1; 0 turns a fault off):", kFaultOptions},
    {"Running:", kRunOptions},
};

const Option* find(std::string_view word) {
  for (const Section& s : kSections)
    if (const Option* o = platform::findOption<SimCommandLine>(s.options, word)) return o;
  return nullptr;
}

}  // namespace

const char* simUsage() {
  static const std::string text = [] {
    std::string t =
        "usage: lmssim [options]\n"
        "Emulates a laser scanner of the LMS family for tests and demos. It prints the\n"
        "address it listens on (\"lmssim: listening on 127.0.0.1:10002\") or its serial\n"
        "device (\"lmssim: serial device /dev/pts/N\") as one line when it is ready.\n";
    for (const Section& s : kSections) {
      t += "\n";
      t += s.heading;
      t += "\n";
      t += platform::optionHelp<SimCommandLine>(s.options, 23);
    }
    t += "Ends on SIGINT or SIGTERM.\n";
    return t;
  }();
  return text.c_str();
}

std::vector<std::string_view> simOptionNames() {
  std::vector<std::string_view> names;
  for (const Section& s : kSections)
    for (const Option& o : s.options) names.push_back(o.name);
  return names;
}

bool parseSimCommandLine(int argc, char** argv, SimCommandLine* out, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    // Echoed in messages, so shown printable.
    const std::string arg = printable(argv[i]);
    const Option* o = find(argv[i]);
    if (o == nullptr) {
      *error = "unknown option " + arg + " (see --help)";
      return false;
    }
    std::string_view value;
    if (!o->hint.empty()) {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    std::string why;
    if (!o->apply(*out, value, &why)) {
      *error = arg;
      *error += ' ';
      *error += why;
      return false;
    }
  }
  // The line is set up at exactly this rate, so only a rate it knows will do.
  if (!platform::isLineRate(out->baud)) {
    *error = "--baud " + std::to_string(out->baud) + " is not a rate the serial line knows (" +
             platform::lineRateList() + ")";
    return false;
  }
  return true;
}

}  // namespace sim
