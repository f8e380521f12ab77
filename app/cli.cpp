// SPDX-License-Identifier: Apache-2.0
#include "app/cli.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/outputs/format_table.h"
#include "app/outputs/sink.h"
#include "cmdline/option_table.h"
#include "lms/engine/link_name.h"
#include "lms/engine/option_rules.h"
#include "lms/formats/compression.h"
#include "lms/formats/laser_scan.h"
#include "lms/protocol/reply.h"
#include "lms/protocol/scanner_constants.h"
#include "platform/signals.h"
#include "platform/terminal.h"
#include "platform/text.h"
#include "transport/serial_port.h"

namespace app {

using platform::printable;

namespace {

// A word that starts with '-' is an option ("-c 1" is a mistake, not a
// port); "-h" and "-?" ask for help, and on Windows "/?" too.
bool isHelpWord(std::string_view arg) {
  return arg == "-h" || arg == "-?" || platform::isHelpAlias(arg);
}

bool looksLikeOption(std::string_view arg) {
  return (!arg.empty() && arg.front() == '-') || isHelpWord(arg);
}

// Whether two file names written differently name the same place
// ("./a.svg" and "a.svg", "d//a" and "d/a"), without touching the disk.
bool samePath(std::string_view a, std::string_view b) {
  auto normal = [](std::string_view p) {
    std::string out;
    std::size_t at = 0;
    while (at < p.size()) {
      std::size_t end = p.find_first_of("/\\", at);
      if (end == std::string_view::npos) end = p.size();
      const std::string_view part = p.substr(at, end - at);
      if (!(part.empty() && at > 0) && part != ".") {
        if (!out.empty() || (part.empty() && at == 0)) out.push_back('/');
        out += part;
      }
      at = end + 1;
    }
    return out;
  };
  return !a.empty() && !b.empty() && normal(a) == normal(b);
}

bool endsWithMcap(std::string_view path) {
  if (path.size() < 5) return false;
  std::string end(path.substr(path.size() - 5));
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return end == ".mcap";
}

bool wholeNumber(std::string_view text, long long lo, long long hi, long long* out) {
  long long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool seconds(std::string_view text, double* out) {
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v) || v <= 0 || v > 1e7)
    return false;
  *out = v;
  return true;
}

// --baud's values: the scanner's rates, or auto.
bool applyBaud(Invocation& inv, std::string_view value, std::string* error) {
  if (value == "auto") {
    inv.options.findRate = true;
    return true;
  }
  std::string list;
  for (const int rate : lms::kScannerRates) {
    if (value == std::to_string(rate)) {
      inv.options.baud = rate;
      return true;
    }
    list += std::to_string(rate) + ", ";
  }
  *error = "--baud takes " + list + "or auto, not '" + printable(value) + "'";
  return false;
}

// A value with a name (a file, a frame id): not empty.
bool named(std::string_view option, std::string_view what, std::string_view value, std::string* error) {
  if (!value.empty()) return true;
  *error = std::string(option) + " needs " + std::string(what);
  return false;
}

bool outOfRange(std::string_view option, std::string_view range, std::string_view value, std::string* error) {
  *error = std::string(option) + " takes " + std::string(range) + ", not '" + printable(value) + "'";
  return false;
}

using Option = platform::Option<Invocation>;

// Help texts that name the scanner's rates and variants, made from their tables.
const std::string kBaudHelp = "serial line rate: " + lms::scannerRateNames() +
                              " (9600 the\n"
                              "default), or auto to try each until the scanner answers";
const std::string kScannerBaudHelp = "serial: move the scanner to " + lms::scannerRateNames() +
                                     "\n"
                                     "baud for the run, and back to its rate at the end; a scanner\n"
                                     "a killed run left at RATE is looked for there first";
const std::string kVariantHelp =
    "set the scanner to a field and resolution once the link is\nopen: " + lms::variantNames() +
    " (without\n"
    "it nothing is sent and each reply says which it is)";

// Every option of lmsview, once.
const Option kOptions[] = {
    {"--config", "", "FILE",
     "a robot's scanners from a TOML file, in the place of the\n"
     "three link words: each scanner's link, options, pose, crop\n"
     "and masks (see examples/robot.toml); the outputs stay here",
     [](Invocation& inv, std::string_view v, std::string* error) {
       inv.options.configPath = v;
       return named("--config", "a file name", v, error);
     }},
    {"--format", "", "F",
     "table (default), csv, jsonl, or plot (a top-down picture that\n"
     "redraws in place on a terminal); all but table put every\n"
     "message on standard error",
     [](Invocation& inv, std::string_view v, std::string* error) {
       const int index = formatIndex(v);
       if (index < 0) {
         std::string names;
         for (const FormatInfo& f : kFormats) names += (names.empty() ? "" : ", ") + std::string(f.name);
         return outOfRange("--format", names, v, error);
       }
       inv.options.format = static_cast<OutputFormat>(index);
       return true;
     }},
    {"--max-range", "", "M", "plot and --svg: a fixed range of M metres for the picture",
     [](Invocation& inv, std::string_view v, std::string* error) {
       double m = 0;
       const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), m);
       if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(m) || m < 0.1 || m > 100)
         return outOfRange("--max-range", "metres from 0.1 to 100", v, error);
       inv.options.maxRangeM = m;
       return true;
     }},
    {"--svg", "", "FILE", "after each scan, replace FILE with an SVG picture of it",
     [](Invocation& inv, std::string_view v, std::string* error) {
       inv.options.svgPath = v;
       return named("--svg", "a file name", v, error);
     }},
    {"--frame-id", "", "ID", "frame_id of the jsonl, MCAP and ROS 2 scans (default laser;\nUTF-8)",
     [](Invocation& inv, std::string_view v, std::string* error) {
       if (!named("--frame-id", "a name", v, error)) return false;
       if (!platform::validUtf8(v)) {
         *error = "--frame-id must be UTF-8 text, not '" + printable(v) + "'";
         return false;
       }
       inv.options.frameId = v;
       return true;
     }},
    {"--count", "", "N", "stop after N scans shown",
     [](Invocation& inv, std::string_view v, std::string* error) {
       long long n = 0;
       if (!wholeNumber(v, 1, 1'000'000'000, &n))
         return outOfRange("--count", "a whole number from 1 to 1000000000", v, error);
       inv.options.count = static_cast<int>(n);
       return true;
     }},
    {"--seconds", "", "S", "stop after S seconds",
     [](Invocation& inv, std::string_view v, std::string* error) {
       if (!seconds(v, &inv.options.seconds))
         return outOfRange("--seconds", "a number of seconds above 0 and up to 10000000", v, error);
       return true;
     }},
    {"--interval", "", "MS",
     "time from one request to the next (default 1000; 0: as fast\n"
     "as the link carries the replies)",
     [](Invocation& inv, std::string_view v, std::string* error) {
       long long n = 0;
       if (!wholeNumber(v, 0, lms::kMaxIntervalMs, &n))
         return outOfRange("--interval", "milliseconds from 0 to " + std::to_string(lms::kMaxIntervalMs), v,
                           error);
       inv.options.intervalMs = static_cast<int>(n);
       return true;
     }},
    {"--record", "", "FILE",
     "also write every valid scan to FILE as JSON Lines with its\n"
     "raw range words (lmssim --replay FILE sends them again)",
     [](Invocation& inv, std::string_view v, std::string* error) {
       inv.options.recordPath = v;
       return named("--record", "a file name", v, error);
     }},
    {"--record-format", "", "F", "jsonl or mcap (default: mcap for a FILE ending in .mcap)",
     [](Invocation& inv, std::string_view v, std::string* error) {
       if (v != "jsonl" && v != "mcap") return outOfRange("--record-format", "jsonl or mcap", v, error);
       inv.options.recordFormat = v == "mcap" ? RecordFormat::Mcap : RecordFormat::Jsonl;
       inv.options.recordFormatGiven = true;
       return true;
     }},
    {"--record-compression", "", "C",
     "an MCAP recording's chunks: none (default) or zstd (where\n"
     "this build has it: Linux)",
     [](Invocation& inv, std::string_view v, std::string* error) {
       if (v == "none") return true;
       if (v != "zstd") return outOfRange("--record-compression", "none or zstd", v, error);
       if (!lms::zstdAvailable()) {
         *error = "--record-compression zstd: this build has no zstd (it writes MCAP chunks uncompressed)";
         return false;
       }
       inv.options.recordCompression = "zstd";
       return true;
     }},
    {"--record-points", "", "P",
     "an MCAP recording's point clouds on TOPIC/points (for viewers\n"
     "that draw points only): on (default) or off",
     [](Invocation& inv, std::string_view v, std::string* error) {
       if (v != "on" && v != "off") return outOfRange("--record-points", "on or off", v, error);
       inv.options.recordPoints = v == "on";
       return true;
     }},
    {"--topic", "", "NAME", "the laser-scan topic of an MCAP recording (default /scan)",
     [](Invocation& inv, std::string_view v, std::string* error) {
       if (!lms::validRos2Topic(v))
         return outOfRange("--topic", "a topic name such as /scan or /front/scan", v, error);
       inv.options.topic = v;
       return true;
     }},
    {"--ros2", "", "[TOPIC]",
     "also publish every valid scan on DDS as a ROS 2 LaserScan on\n"
     "TOPIC (default /scan), for ROS 2 machines on the network",
     [](Invocation& inv, std::string_view v, std::string* error) {
       if (!ros2Supported()) {
         *error = "--ros2: this build has no DDS support (it comes with Cyclone DDS, on Linux)";
         return false;
       }
       if (!v.empty() && !lms::validRos2Topic(v))
         return outOfRange("--ros2", "a topic name such as /scan or /front/scan", v, error);
       inv.options.ros2 = true;
       if (!v.empty()) inv.options.ros2Topic = v;
       return true;
     }},
    {"--ros2-domain", "", "N", "the DDS domain for --ros2 (default ROS_DOMAIN_ID, else 0)",
     [](Invocation& inv, std::string_view v, std::string* error) {
       inv.options.ros2Domain = lms::rosDomain(v);
       if (inv.options.ros2Domain < 0)
         return outOfRange("--ros2-domain", "a whole number from 0 to 232", v, error);
       return true;
     }},
    {"--serve", "", "[ADDR:]PORT",
     "serve a live page of the scans and the foxglove.websocket.v1\n"
     "stream on PORT (address 127.0.0.1 unless given; 0.0.0.0: all)",
     [](Invocation& inv, std::string_view v, std::string* error) {
       const std::size_t colon = v.rfind(':');
       const std::string_view address = colon == std::string_view::npos ? "127.0.0.1" : v.substr(0, colon);
       const std::string_view port = colon == std::string_view::npos ? v : v.substr(colon + 1);
       long long n = 0;
       if (!lms::isDottedIPv4(address) || !wholeNumber(port, 0, 65535, &n))
         return outOfRange("--serve", "[ADDR:]PORT with an IPv4 address and a port up to 65535", v, error);
       inv.options.serveAddress = address;
       inv.options.servePort = static_cast<int>(n);
       return true;
     }},
    {"--force", "", "", "let --record replace an existing FILE",
     [](Invocation& inv, std::string_view, std::string*) {
       inv.options.force = true;
       return true;
     }},
    {"--reconnect", "", "",
     "when the link cannot be opened or is lost, keep trying\n"
     "(0.5 s apart at first, up to 10 s) instead of ending",
     [](Invocation& inv, std::string_view, std::string*) {
       inv.options.reconnect = true;
       return true;
     }},
    {"--baud", "", "RATE", kBaudHelp,
     [](Invocation& inv, std::string_view v, std::string* error) { return applyBaud(inv, v, error); }},
    {"--scanner-baud", "", "RATE", kScannerBaudHelp,
     [](Invocation& inv, std::string_view v, std::string* error) {
       for (const int rate : lms::kScannerRates) {
         if (v == std::to_string(rate)) {
           inv.options.scannerBaud = rate;
           return true;
         }
       }
       return outOfRange("--scanner-baud", lms::scannerRateNames(), v, error);
     }},
    {"--variant", "", "V", kVariantHelp,
     [](Invocation& inv, std::string_view v, std::string* error) {
       if (lms::variantNamed(v) == nullptr) return outOfRange("--variant", lms::variantNames(), v, error);
       inv.options.variant = v;
       return true;
     }},
    {"--units", "", "U",
     "the range unit the scanner is expected to report in: mm\n"
     "(default), cm or dm; each reply states its own unit, which\n"
     "wins (a difference is said once)",
     [](Invocation& inv, std::string_view v, std::string* error) {
       if (!lms::checkUnits(v).empty()) return outOfRange("--units", "mm, cm or dm", v, error);
       inv.options.units = v;
       return true;
     }},
    {"--stream", "", "",
     "continuous output: the scanner sends every scan as it\n"
     "measures it (up to 75 a second at 500000 baud) instead of one\n"
     "per request; the end of the run stops it. Every scan reaches\n"
     "--record, --serve and --ros2; csv and jsonl carry every scan\n"
     "their reader keeps up with (a seq gap says what it missed);\n"
     "the table and the plot redraw at most 10 times a second",
     [](Invocation& inv, std::string_view, std::string*) {
       inv.options.stream = true;
       return true;
     }},
    {"--keep-scanner-baud", "", "", "with --scanner-baud: leave the scanner at that rate at the end",
     [](Invocation& inv, std::string_view, std::string*) {
       inv.options.keepScannerBaud = true;
       return true;
     }},
    {"--find", "", "",
     "look for scanners and print how to read each (changing\n"
     "nothing on them): on every serial device here at each rate, or\n"
     "at one place: --find COM <port> or --find IP <address>",
     [](Invocation& inv, std::string_view, std::string*) {
       inv.action = Invocation::Action::Find;
       return true;
     }},
    {"--list-ports", "", "", "list the serial devices here and whether you may open them",
     [](Invocation& inv, std::string_view, std::string*) {
       inv.action = Invocation::Action::ListPorts;
       return true;
     }},
    {"--help", "-h", "", "show this text (also -?)",
     [](Invocation& inv, std::string_view, std::string*) {
       inv.action = Invocation::Action::Help;
       return true;
     }},
    {"--version", "", "", "show the version",
     [](Invocation& inv, std::string_view, std::string*) {
       inv.action = Invocation::Action::Version;
       return true;
     }},
};

Invocation badOption(std::string text) {
  Invocation inv;
  inv.action = Invocation::Action::BadOption;
  inv.error = "lmsview: " + std::move(text) + " (see --help)";
  return inv;
}

}  // namespace

std::string defaultModeNotice() {
  return std::string("lmsview: no link named: connecting to the built-in address ") +
         lms::kDefaultScannerAddress + " port " + std::to_string(lms::kScannerPort) + " (see lmsview --help)";
}

namespace {

// Takes the options out of the line, applying each; the words left are the
// link's. False with `inv` set to the usage error.
bool takeOptions(int argc, const char* const* argv, Invocation& inv, std::vector<const char*>& positional,
                 bool* anyOption) {
  std::vector<std::string_view> seen;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || !looksLikeOption(arg)) {
      positional.push_back(argv[i]);
      continue;
    }
    *anyOption = true;
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" or "--name value".
    const std::string_view word = isHelpWord(arg) ? std::string_view("--help") : arg;
    const std::size_t eq = word.substr(0, 2) == "--" ? word.find('=') : std::string_view::npos;
    const std::string_view name = word.substr(0, eq);
    const Option* known = platform::findOption<Invocation>(kOptions, name);
    std::string_view value;
    std::string error;
    if (known == nullptr || known->name != name) {
      error = "unknown option '" + printable(name) + "'";
    } else if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
      error = std::string(name) + " is given twice";
    } else if (known->hint.empty()) {
      if (eq != std::string_view::npos) error = std::string(name) + " takes no value";
    } else if (eq != std::string_view::npos) {
      value = word.substr(eq + 1);
    } else if (known->hint.front() == '[' && known->hint.back() == ']') {
      // An optional value ("--ros2 [TOPIC]") is taken only when the next
      // word can be one: a topic name starts with '/'.
      if (i + 1 < argc && argv[i + 1][0] == '/' && !isHelpWord(argv[i + 1])) value = argv[++i];
    } else if (i + 1 >= argc) {
      error = std::string(name) + " needs a value";
    } else {
      value = argv[++i];
      // "--svg --count 1 ...": the file name was forgotten.
      if (value.substr(0, 2) == "--" || isHelpWord(value))
        error = std::string(name) + " needs a value, not the option '" + printable(value) + "'";
    }
    const Invocation::Action before = inv.action;
    if (error.empty()) known->apply(inv, value, &error);
    if (!error.empty()) {
      inv = badOption(error);
      return false;
    }
    seen.push_back(known->name);
    if (before != Invocation::Action::Run)
      inv.action = before;  // the first of --help, --version, --list-ports wins
  }
  return true;
}

// The link from its three words: COM <port> <type> or IP <address> <type>.
Invocation linkFromWords(Invocation inv, const char* keyword, const char* where, const char* type) {
  inv.laserType = type;
  if (std::strcmp(keyword, "COM") == 0) {
    lms::LinkName link;
    if (!lms::parseLinkName(std::string("COM ") + where, &link)) {
      inv.action = Invocation::Action::BadPort;
      inv.error = std::string("lmsview: invalid port '") + printable(where) +
                  "': give 1 to 10 (COM1 to COM10) or a device path such as " +
                  std::string(transport::devicePathExample());
      return inv;
    }
    inv.portName = link.device;
    inv.serial = true;
    inv.banner = "Comunicacion serial: " + printable(inv.portName) + " Tipo de laser " +
                 printable(inv.laserType) + "\n\n";
    return inv;
  }
  if (std::strcmp(keyword, "IP") == 0) {
    inv.address = where;
    inv.banner =
        "Comunicacion IP: " + printable(inv.address) + " Tipo de laser " + printable(inv.laserType) + "\n\n";
    return inv;
  }
  inv.action = Invocation::Action::BadKeyword;
  inv.error = std::string("lmsview: unknown link '") + printable(keyword) +
              "': use COM <port> <LMS|PLS> or IP <address> <LMS|PLS> (see --help)";
  return inv;
}

// --find's place: none (every serial device), or two words naming one.
Invocation findPlace(Invocation inv, const std::vector<const char*>& words) {
  if (words.empty()) return inv;
  if (words.size() == 2) {
    Invocation link = linkFromWords(inv, words[0], words[1], "LMS");
    if (link.action != Invocation::Action::Find) return link;
    inv.serial = link.serial;
    inv.portName = link.portName;
    inv.address = link.address;
    inv.place = words[1];
    if (!inv.serial && !lms::isDottedIPv4(inv.address))
      return badOption("--find IP takes a dotted IPv4 address, not '" + printable(inv.address) + "'");
    return inv;
  }
  return badOption("--find takes no link words, or two: COM <port> or IP <address> (" +
                   std::to_string(words.size()) + (words.size() == 1 ? " word" : " words") + " given)");
}

}  // namespace

// --config FILE: the file names the links and each scanner's options; the
// command line keeps the outputs.
Invocation robotRun(Invocation inv, const std::vector<const char*>& positional) {
  if (!positional.empty())
    return badOption("--config takes the place of the link words (" + std::to_string(positional.size()) +
                     (positional.size() == 1 ? " word" : " words") + " given)");
  const RunOptions& o = inv.options;
  const RunOptions defaults;
  const struct {
    bool given;
    const char* option;
  } perScanner[] = {
      {o.baud != 0 || o.findRate, "--baud"},
      {o.scannerBaud != 0, "--scanner-baud"},
      {o.keepScannerBaud, "--keep-scanner-baud"},
      {!o.variant.empty(), "--variant"},
      {o.units != defaults.units, "--units"},
      {o.stream, "--stream"},
      {o.intervalMs != defaults.intervalMs, "--interval"},
      {o.reconnect, "--reconnect"},
      {o.frameId != defaults.frameId, "--frame-id"},
      {o.topic != defaults.topic, "--topic"},
      {o.ros2Topic != defaults.ros2Topic, "a --ros2 topic"},
  };
  for (const auto& p : perScanner)
    if (p.given)
      return badOption(
          std::string(p.option) +
          " is set for each scanner in the --config file (topics /NAME/scan, frames NAME_laser)");
  if (!o.recordPath.empty() && samePath(o.recordPath, o.svgPath))
    return badOption("--record and --svg name the same file");
  if (!o.recordFormatGiven && endsWithMcap(o.recordPath)) inv.options.recordFormat = RecordFormat::Mcap;
  if (o.ros2Domain >= 0 && !o.ros2) return badOption("--ros2-domain goes with --ros2");
  inv.banner = "Configuracion: " + printable(o.configPath) + "\n\n";
  return inv;
}

Invocation parseCommandLine(int argc, const char* const* argv) {
  Invocation inv;
  std::vector<const char*> positional;
  // Any option at all (even "--") asks for the three link words: the
  // default mode is only for a line without options, so a forgotten value
  // can never send a run to the network.
  bool anyOption = false;
  if (!takeOptions(argc, argv, inv, positional, &anyOption)) return inv;
  if (inv.action == Invocation::Action::Find) return findPlace(std::move(inv), positional);
  if (inv.action != Invocation::Action::Run) return inv;
  if (!inv.options.configPath.empty()) return robotRun(std::move(inv), positional);
  if (anyOption && positional.size() != 3)
    return badOption(
        "with options, name the link in three words: COM <port> <LMS|PLS> or IP <address> "
        "<LMS|PLS> (" +
        std::to_string(positional.size()) + (positional.size() == 1 ? " word" : " words") + " given)");
  if (!inv.options.recordPath.empty() && samePath(inv.options.recordPath, inv.options.svgPath))
    return badOption("--record and --svg name the same file");
  if (!inv.options.recordFormatGiven && endsWithMcap(inv.options.recordPath))
    inv.options.recordFormat = RecordFormat::Mcap;
  // --baud has a meaning only for a serial line: the default mode and IP are network links.
  const bool networkLink = positional.size() != 3 || std::strcmp(positional[0], "IP") == 0;
  if (networkLink && (inv.options.baud != 0 || inv.options.findRate))
    return badOption("--baud is for serial links (COM)");
  if (networkLink && inv.options.scannerBaud != 0)
    return badOption("--scanner-baud is for serial links (COM)");
  if (inv.options.keepScannerBaud && inv.options.scannerBaud == 0)
    return badOption("--keep-scanner-baud goes with --scanner-baud");
  if (inv.options.ros2Domain >= 0 && !inv.options.ros2) return badOption("--ros2-domain goes with --ros2");
  if (inv.options.ros2 && inv.options.ros2Domain < 0) {
    const char* env = std::getenv("ROS_DOMAIN_ID");
    if (env != nullptr && *env != '\0' && lms::rosDomain(env) < 0)
      return badOption("ROS_DOMAIN_ID is '" + printable(env) + "': --ros2 takes a domain from 0 to 232");
  }
  if (positional.size() == 3)
    return linkFromWords(std::move(inv), positional[0], positional[1], positional[2]);
  inv.defaultMode = true;
  inv.address = lms::kDefaultScannerAddress;
  inv.laserType = "LMS";
  inv.banner =
      std::string("Modo Default\nComunicacion IP: ") + lms::kDefaultScannerAddress + " Tipo de laser LMS\n\n";
  return inv;
}

const char* usageText() {
  static const std::string text =
      "usage: lmsview [options] COM <1-10 | device path> <LMS | PLS>\n"
      "       lmsview [options] IP <scanner IPv4 address> <LMS | PLS>\n"
      "       lmsview --help | --version\n"
      "Reads a laser scanner about once a second and shows each scan as a table of\n"
      "angle and range. COM n is " +
      std::string(transport::comNumberMeaning()) + " at 9600 baud; a path such as\n" +
      std::string(transport::devicePathExample()) +
      " names the serial device itself; IP connects to TCP port 10002.\n"
      "Without options, any other number of arguments connects to the built-in\n"
      "address (Modo Default); a line with options needs the three link words.\n"
      "\n"
      "Options (anywhere on the line):\n" +
      platform::optionHelp<Invocation>(kOptions) +
      "\n"
      "A key ends the run. Standard input that is not a terminal: a byte ends the run,\n"
      "and its end does too unless --reconnect is given; with --count or --seconds it\n"
      "is not read at all. In the background the terminal is left alone.\n"
      "Exit status: 0 stopped (key, end of input, --count, --seconds), 1 the link\n"
      "could not be opened or was lost, output failed or a recording stopped early,\n"
      "2 bad arguments, 141 the output pipe closed, " +
      platform::stopStatusText() + ".\n";
  return text.c_str();
}

std::vector<std::string_view> optionNames() {
  std::vector<std::string_view> names;
  for (const Option& o : kOptions) names.push_back(o.name);
  return names;
}

}  // namespace app
