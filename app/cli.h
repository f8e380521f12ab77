#pragma once

// The command line: options (words that begin with "--", anywhere), then the
// positional arguments: link keyword, port or address, laser type. Options
// are taken out before the positional arguments are counted, so a line
// without options behaves as it always did (any count other than three is
// the default mode). A bad option is a usage error: it never falls into the
// default mode. Parsing has no side effects, so every case can be tested
// without opening a link.

#include <string>
#include <string_view>
#include <vector>

namespace app {

inline constexpr const char* kVersion = LMS_VERSION;

// An index into the format table (app/formats.h), in its order.
enum class OutputFormat { Table, Csv, Jsonl, Plot };

// What the options ask of a run.
enum class RecordFormat { Jsonl, Mcap };

struct RunOptions {
  OutputFormat format = OutputFormat::Table;
  std::string frameId = "laser";
  int count = 0;          // stop after this many scans shown (0: no limit)
  double seconds = 0;     // stop after this long (0: no limit)
  int intervalMs = 1000;  // from one request to the next
  std::string recordPath;
  RecordFormat recordFormat = RecordFormat::Jsonl;  // by the file's extension unless --record-format
  bool recordFormatGiven = false;
  std::string topic = "/scan";
  std::string recordCompression;  // MCAP chunks: "" or "zstd"   // --record FILE.mcap: the laser-scan topic
                                  // (raw words on TOPIC/raw)
  bool force = false;             // --record may replace an existing file
  bool reconnect = false;         // keep trying when the link cannot be opened or is lost
  int baud = 0;                   // serial: the line's rate (0: the default, 9600)
  bool findRate = false;          // serial: --baud auto
  int scannerBaud = 0;            // serial: move the scanner to this rate for the run (0: leave it)
  bool keepScannerBaud = false;   // and leave it there at the end
  double maxRangeM = 0;           // the pictures' fixed range (0: each scan's farthest)
  std::string svgPath;            // --svg: the latest scan as an SVG picture
  bool ros2 = false;              // --ros2: every scan received on DDS as a ROS 2 LaserScan
  std::string ros2Topic = "/scan";
  int ros2Domain = -1;       // -1: ROS_DOMAIN_ID from the environment, else 0
  std::string serveAddress;  // --serve: the live page and stream ("" : not served)
  int servePort = 0;
};

struct Invocation {
  enum class Action { Run, Help, Version, ListPorts, BadKeyword, BadPort, BadOption };
  Action action = Action::Run;
  bool serial = false;
  bool defaultMode = false;
  std::string portName;  // "COM1".."COM10", or a device path
  std::string address;   // dotted IPv4 text, passed on unchanged
  std::string laserType;
  RunOptions options;
  std::string banner;  // printed before the run; user text in it is printable
  std::string error;   // one line for standard error when the action is Bad*
};

Invocation parseCommandLine(int argc, const char* const* argv);

// The line on standard error after the default mode's banner: one missing
// word reaches the network, so it says where and how to name a link.
std::string defaultModeNotice();
const char* usageText();
// Every option's name, in the order of the option table.
std::vector<std::string_view> optionNames();

}  // namespace app
