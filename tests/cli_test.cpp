// SPDX-License-Identifier: Apache-2.0
#include "app/cli.h"
#include "app/outputs/sink.h"

#include <gtest/gtest.h>

#include <vector>

#include "lms/protocol/scanner_constants.h"
#include "platform/text.h"
#include "transport/serial_port.h"

using namespace app;
using namespace lms;

namespace {

// A device path as this OS names one (/dev/ttyUSB0, \\.\COM12).
const std::string kDevice(transport::devicePathExample());

Invocation parse(std::vector<const char*> args) {
  args.insert(args.begin(), "lmsview");
  return parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, AnyOtherArgumentCountIsTheDefaultNetworkMode) {
  for (const auto& args : {std::vector<const char*>{}, {"COM", "3"}, {"a", "b", "c", "d"}, {"IP"}}) {
    const Invocation inv = parse(args);
    EXPECT_EQ(inv.action, Invocation::Action::Run);
    EXPECT_TRUE(inv.defaultMode);
    EXPECT_FALSE(inv.serial);
    EXPECT_EQ(inv.address, kDefaultScannerAddress);
    EXPECT_EQ(inv.laserType, "LMS");
    EXPECT_EQ(inv.banner, std::string("Modo Default\nComunicacion IP: ") + kDefaultScannerAddress +
                              " Tipo de laser LMS\n\n");
  }
}

TEST(CommandLine, ComNamesThePortAndKeepsTheLaserTypeAsTyped) {
  Invocation inv = parse({"COM", "3", "LMS"});
  EXPECT_EQ(inv.action, Invocation::Action::Run);
  EXPECT_TRUE(inv.serial);
  EXPECT_EQ(inv.portName, "COM3");
  EXPECT_EQ(inv.banner, "Comunicacion serial: COM3 Tipo de laser LMS\n\n");
  inv = parse({"COM", "10", "PLS"});
  EXPECT_EQ(inv.portName, "COM10");
  EXPECT_EQ(inv.laserType, "PLS");
  inv = parse({"COM", kDevice.c_str(), "PLS"});
  EXPECT_TRUE(inv.serial);
  EXPECT_EQ(inv.portName, kDevice);
  EXPECT_EQ(inv.banner, "Comunicacion serial: " + kDevice + " Tipo de laser PLS\n\n");
}

TEST(CommandLine, OtherPortTextIsRejectedWithOneLine) {
  for (const char* port : {"0", "11", "03", "1x", "", "100000", "COM3", "1-"}) {
    const Invocation inv = parse({"COM", port, "LMS"});
    EXPECT_EQ(inv.action, Invocation::Action::BadPort) << port;
    EXPECT_EQ(inv.error.find('\n'), std::string::npos);
    EXPECT_NE(inv.error.find("invalid port"), std::string::npos);
    EXPECT_TRUE(inv.banner.empty());
  }
}

TEST(CommandLine, IpPassesTheAddressAndTypeAsTyped) {
  const Invocation inv = parse({"IP", "127.0.0.5", "XYZ"});
  EXPECT_EQ(inv.action, Invocation::Action::Run);
  EXPECT_FALSE(inv.serial);
  EXPECT_FALSE(inv.defaultMode);
  EXPECT_EQ(inv.address, "127.0.0.5");
  EXPECT_EQ(inv.laserType, "XYZ");
  EXPECT_EQ(inv.banner, "Comunicacion IP: 127.0.0.5 Tipo de laser XYZ\n\n");
}

TEST(CommandLine, UnknownKeywordIsAUsageErrorWithNothingForStandardOutput) {
  for (const char* kw : {"com", "Ip", "COM3", "TCP", ""}) {
    const Invocation inv = parse({kw, "3", "LMS"});
    EXPECT_EQ(inv.action, Invocation::Action::BadKeyword) << kw;
    EXPECT_TRUE(inv.banner.empty());
    EXPECT_FALSE(inv.error.empty());
    EXPECT_EQ(inv.error.find('\n'), std::string::npos);
  }
}

TEST(CommandLine, HelpAndVersionAsTheOnlyArgumentNeverRunTheDefault) {
  EXPECT_EQ(parse({"--help"}).action, Invocation::Action::Help);
  EXPECT_EQ(parse({"-h"}).action, Invocation::Action::Help);
  EXPECT_EQ(parse({"--version"}).action, Invocation::Action::Version);
  const std::string usage = usageText();
  EXPECT_NE(usage.find("COM"), std::string::npos);
  EXPECT_NE(usage.find("IP"), std::string::npos);
}

}  // namespace

namespace {

TEST(CommandLine, EchoedArgumentsCannotBreakTheMessageLine) {
  const Invocation inv = parse({"CO\nM", "3", "LMS"});
  EXPECT_EQ(inv.error.find('\n'), std::string::npos);
  EXPECT_NE(inv.error.find("CO\\x0AM"), std::string::npos);
  EXPECT_EQ(parse({"COM", "\x1b[2J", "LMS"}).error.find('\x1b'), std::string::npos);
  // Text in any script reads as itself; what is no UTF-8, a C1 control or a
  // character that reorders the line is escaped.
  const struct {
    const char* in;
    const char* shown;
  } cases[] = {
      {"J\xC3\xB6s\xC3\xA9 \xE6\x97\xA5", "J\xC3\xB6s\xC3\xA9 \xE6\x97\xA5"},
      {"a\xFF"
       "b",
       "a\\xFFb"},
      {"\xC3", "\\xC3"},
      {"x\xC2\x9By", "x\\xC2\\x9By"},  // C1 CSI
      {"\xE2\x80\xAE"
       "evil",
       "\\xE2\\x80\\xAE"
       "evil"},  // right-to-left override
  };
  for (const auto& c : cases) EXPECT_EQ(platform::printable(c.in), c.shown) << c.in;
}

TEST(CommandLine, TheBannerShowsUserTextPrintableToo) {
  const Invocation ip = parse({"IP", "127.0.0.1\x1b[2J", "LM\nS"});
  EXPECT_EQ(ip.banner, "Comunicacion IP: 127.0.0.1\\x1B[2J Tipo de laser LM\\x0AS\n\n");
  const std::string odd = kDevice + "\x07";
  const Invocation com = parse({"COM", odd.c_str(), "P\rLS"});
  EXPECT_EQ(com.banner, "Comunicacion serial: " + kDevice + "\\x07 Tipo de laser P\\x0DLS\n\n");
  EXPECT_EQ(com.portName, odd);  // the device itself is opened by its real name
}

}  // namespace

namespace {

TEST(CommandLineOptions, StandAnywhereAndAreTakenOutBeforeCounting) {
  Invocation inv = parse({"--format", "csv", "IP", "127.0.0.5", "LMS"});
  EXPECT_EQ(inv.action, Invocation::Action::Run);
  EXPECT_FALSE(inv.defaultMode);
  EXPECT_EQ(inv.address, "127.0.0.5");
  EXPECT_EQ(inv.options.format, OutputFormat::Csv);
  inv = parse({"COM", "--count=3", "3", "--interval", "0", "LMS", "--format=jsonl", "--frame-id", "front",
               "--seconds", "2.5", "--record", "r.jsonl", "--force"});
  EXPECT_EQ(inv.action, Invocation::Action::Run);
  EXPECT_EQ(inv.portName, "COM3");
  EXPECT_EQ(inv.options.count, 3);
  EXPECT_EQ(inv.options.intervalMs, 0);
  EXPECT_EQ(inv.options.format, OutputFormat::Jsonl);
  EXPECT_EQ(inv.options.frameId, "front");
  EXPECT_EQ(inv.options.seconds, 2.5);
  EXPECT_EQ(inv.options.recordPath, "r.jsonl");
  EXPECT_TRUE(inv.options.force);
  // Without options nothing changes, the default mode included.
  inv = parse({"IP", "127.0.0.5", "LMS"});
  EXPECT_EQ(inv.options.format, OutputFormat::Table);
  EXPECT_EQ(inv.options.intervalMs, 1000);
  EXPECT_EQ(inv.options.count, 0);
  EXPECT_EQ(parse({"--format", "csv", "IP", "127.0.0.5"}).action, Invocation::Action::BadOption);
  // After "--" everything is positional.
  const std::string dashed = kDevice + "--odd";
  inv = parse({"--", "COM", dashed.c_str(), "LMS"});
  EXPECT_EQ(inv.portName, dashed);
  EXPECT_EQ(parse({"IP", "127.0.0.5", "LMS", "--help"}).action, Invocation::Action::Help);
  EXPECT_EQ(parse({"--version", "COM", "3"}).action, Invocation::Action::Version);
}

TEST(CommandLineOptions, AMistakeIsAUsageErrorNeverTheDefaultMode) {
  const std::vector<std::vector<const char*>> bad = {
      {"--bogus"},
      {"--formt", "csv", "IP", "1.2.3.4"},
      {"--format"},
      {"--format", "xml", "IP", "127.0.0.5", "LMS"},
      {"--count", "0", "IP", "127.0.0.5", "LMS"},
      {"--count", "3x", "IP", "127.0.0.5", "LMS"},
      {"--count", "99999999999", "IP", "127.0.0.5", "LMS"},
      {"--seconds", "nan"},
      {"--seconds", "inf"},
      {"--seconds", "-1"},
      {"--seconds", "1e300"},
      {"--interval", "-1"},
      {"--interval", "3600001"},
      {"--record", ""},
      {"--frame-id="},
      {"--force=yes"},
      {"--count", "1", "--count", "2"},
      {"--help", "--help"},
      {"-x"},
  };
  for (std::size_t i = 0; i < bad.size(); ++i) {
    const Invocation inv = parse(bad[i]);
    EXPECT_EQ(inv.action, Invocation::Action::BadOption) << bad[i][0];
    EXPECT_FALSE(inv.defaultMode);
    EXPECT_TRUE(inv.banner.empty());
    EXPECT_EQ(inv.error.find('\n'), std::string::npos);
    EXPECT_EQ(inv.error.rfind("lmsview: ", 0), 0u) << inv.error;
  }
  EXPECT_NE(parse({"--count", "1", "--count", "2"}).error.find("given twice"), std::string::npos);
  EXPECT_NE(parse({"--count"}).error.find("needs a value"), std::string::npos);
  EXPECT_NE(parse({"--b\x1b[2Jx"}).error.find("\\x1B"), std::string::npos);
  // The help text names every option.
  const std::string usage = usageText();
  for (const char* o : {"--format", "--frame-id", "--count", "--seconds", "--interval", "--record", "--force",
                        "--help", "--version"})
    EXPECT_NE(usage.find(o), std::string::npos) << o;
}

// A forgotten value or a short option leaves two or four link words: that
// must never fall into the default mode, which goes to the network.
TEST(CommandLineOptions, ATypoNeverReachesTheDefaultMode) {
  const std::vector<std::vector<const char*>> typos = {
      {"--svg", "IP", "192.0.2.40", "LMS"},
      {"--frame-id", "IP", "192.0.2.40", "LMS"},
      {"--svg", "--count", "1", "IP", "192.0.2.40", "LMS"},
      {"--record", "-h", "IP", "192.0.2.40", "LMS"},
      {"-c", "1", "IP", "192.0.2.40", "LMS"},
      {"-v", "IP", "192.0.2.40", "LMS"},
      {"-", "IP", "192.0.2.40"},
      {"--", "IP", "192.0.2.40"},
      {"--count", "1"},
      {"--frame-id", "a\xff", "IP", "127.0.0.5", "LMS"},
      {"--frame-id", "\xc0\xaf", "IP", "127.0.0.5", "LMS"},
      {"--record", "./d//x.svg", "--svg", "d/x.svg", "IP", "127.0.0.5", "LMS"},
  };
  for (const auto& args : typos) {
    const Invocation inv = parse(args);
    EXPECT_EQ(inv.action, Invocation::Action::BadOption) << args[0] << " " << args[1];
    EXPECT_FALSE(inv.defaultMode);
    EXPECT_EQ(inv.error.find('\n'), std::string::npos);
  }
  EXPECT_NE(parse(typos[2]).error.find("not the option '--count'"), std::string::npos);
  EXPECT_NE(parse(typos[1]).error.find("(2 words given)"), std::string::npos);
  EXPECT_EQ(parse({"-?"}).action, Invocation::Action::Help);
  EXPECT_EQ(parse({"--frame-id", "b\xc3\xa4se", "IP", "127.0.0.5", "LMS"}).options.frameId, "b\xc3\xa4se");
}

TEST(CommandLine, TheDefaultModeSaysWhereItConnects) {
  EXPECT_EQ(defaultModeNotice(), std::string("lmsview: no link named: connecting to the built-in address ") +
                                     kDefaultScannerAddress + " port 10002 (see lmsview --help)");
}

TEST(CommandLineOptions, TheMonitorOptions) {
  Invocation inv = parse({"--reconnect", "--baud", "38400", "COM", "3", "LMS"});
  EXPECT_EQ(inv.action, Invocation::Action::Run);
  EXPECT_TRUE(inv.options.reconnect);
  EXPECT_EQ(inv.options.baud, 38400);
  EXPECT_FALSE(inv.options.findRate);
  inv = parse({"COM", kDevice.c_str(), "LMS", "--baud=auto"});
  EXPECT_TRUE(inv.options.findRate);
  EXPECT_EQ(inv.options.baud, 0);
  EXPECT_TRUE(parse({"--reconnect", "IP", "127.0.0.5", "LMS"}).options.reconnect);
  EXPECT_EQ(parse({"--list-ports"}).action, Invocation::Action::ListPorts);
  for (const auto& bad : {std::vector<const char*>{"--baud", "12345", "COM", "3", "LMS"},
                          {"--baud", "115200", "COM", "3", "LMS"},
                          {"--baud", "9600", "IP", "127.0.0.5", "LMS"},
                          {"--baud", "auto", "IP", "127.0.0.5"},
                          {"--reconnect=yes"}}) {
    const Invocation b = parse(bad);
    EXPECT_EQ(b.action, Invocation::Action::BadOption) << bad[0] << " " << bad[1];
    EXPECT_FALSE(b.defaultMode);
  }
  EXPECT_NE(parse({"--baud", "9600", "IP", "127.0.0.5", "LMS"}).error.find("for serial links"),
            std::string::npos);
}

TEST(CommandLineOptions, TheFullRateAndFind) {
  Invocation inv = parse({"--stream", "--scanner-baud", "500000", "--units", "dm", "COM", "3", "LMS"});
  EXPECT_EQ(inv.action, Invocation::Action::Run);
  EXPECT_TRUE(inv.options.stream);
  EXPECT_EQ(inv.options.scannerBaud, 500000);
  EXPECT_EQ(inv.options.units, "dm");
  EXPECT_TRUE(parse({"--stream", "IP", "127.0.0.5", "LMS"}).options.stream);
  // --find: no link words (every device), or two naming one place.
  inv = parse({"--find"});
  EXPECT_EQ(inv.action, Invocation::Action::Find);
  EXPECT_EQ(inv.place, "");
  inv = parse({"--find", "COM", kDevice.c_str()});
  EXPECT_EQ(inv.action, Invocation::Action::Find);
  EXPECT_TRUE(inv.serial);
  EXPECT_EQ(inv.portName, kDevice);
  inv = parse({"IP", "127.0.0.5", "--find"});
  EXPECT_EQ(inv.action, Invocation::Action::Find);
  EXPECT_EQ(inv.address, "127.0.0.5");
  for (const auto& bad : {std::vector<const char*>{"--find", "COM", "3", "LMS"},
                          {"--find", "COM"},
                          {"--find", "IP", "scanner.local"},
                          {"--find", "TCP", "127.0.0.5"},
                          {"--units", "in", "IP", "127.0.0.5", "LMS"},
                          {"--scanner-baud", "57600", "COM", "3", "LMS"}})
    EXPECT_NE(parse(bad).action, Invocation::Action::Find) << bad[0] << " " << bad[1];
}

// --ros2 [TOPIC]: the topic only when the next word is one; a build without
// DDS (Windows) refuses it before any link.
TEST(CommandLineOptions, Ros2TakesAnOptionalTopic) {
  const Invocation plain = parse({"--ros2", "IP", "127.0.0.5", "LMS"});
  const Invocation named = parse({"--ros2", "/front/scan", "--ros2-domain", "7", "COM", "/dev/ttyS0", "LMS"});
  if (!app::ros2Supported()) {
    EXPECT_NE(plain.error.find("no DDS support"), std::string::npos);
    return;
  }
  EXPECT_EQ(plain.action, Invocation::Action::Run);
  EXPECT_EQ(plain.options.ros2Topic, "/scan");
  EXPECT_EQ(named.options.ros2Topic, "/front/scan");
  EXPECT_EQ(named.options.ros2Domain, 7);
  EXPECT_EQ(named.portName, "/dev/ttyS0");
  EXPECT_EQ(parse({"--ros2", "/2d", "IP", "127.0.0.5", "LMS"}).action, Invocation::Action::BadOption);
}

}  // namespace
