// SPDX-License-Identifier: Apache-2.0
#include "sim/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sim;

namespace {

TEST(SimCommandLine, ParsesEveryOptionAndHelpNamesThem) {
  const char* argv[] = {"lmssim",
                        "--address",
                        "127.0.0.9",
                        "--port",
                        "10003",
                        "--nak-every",
                        "3",
                        "--silent-after",
                        "2",
                        "--silent-for",
                        "500",
                        "--corrupt-crc-every",
                        "4",
                        "--flip-byte-every",
                        "5",
                        "--short-every",
                        "6",
                        "--short-length",
                        "100",
                        "--chunk",
                        "50",
                        "--chunk-gap",
                        "60",
                        "--ack-gap",
                        "20",
                        "--garbage",
                        "3",
                        "--garbage-every",
                        "2",
                        "--close-after",
                        "9",
                        "--oversize-every",
                        "7",
                        "-v",
                        "--seed",
                        "42",
                        "--max-seconds",
                        "1.5",
                        "--stop-on-eof",
                        "--counts",
                        "--no-pace"};
  SimCommandLine cl;
  std::string error;
  ASSERT_TRUE(parseSimCommandLine(static_cast<int>(std::size(argv)), const_cast<char**>(argv), &cl, &error))
      << error;
  EXPECT_EQ(cl.address, "127.0.0.9");
  EXPECT_EQ(cl.port, 10003);
  EXPECT_EQ(cl.faults.nakEvery, 3);
  EXPECT_EQ(cl.faults.silentAfter, 2);
  EXPECT_EQ(cl.faults.silentForMs, 500);
  EXPECT_EQ(cl.faults.corruptCrcEvery, 4);
  EXPECT_EQ(cl.faults.flipByteEvery, 5);
  EXPECT_EQ(cl.faults.shortEvery, 6);
  EXPECT_EQ(cl.faults.shortLength, 100);
  EXPECT_EQ(cl.faults.chunkSize, 50);
  EXPECT_EQ(cl.faults.chunkGapMs, 60);
  EXPECT_EQ(cl.faults.ackGapMs, 20);
  EXPECT_EQ(cl.faults.garbageBytes, 3);
  EXPECT_EQ(cl.faults.garbageEvery, 2);
  EXPECT_EQ(cl.faults.closeAfter, 9);
  EXPECT_EQ(cl.faults.oversizeEvery, 7);
  EXPECT_EQ(cl.seed, 42u);
  EXPECT_DOUBLE_EQ(cl.maxSeconds, 1.5);
  EXPECT_TRUE(cl.verbose && cl.stopOnEof && cl.counts && cl.noPace);
  const std::string usage = simUsage();
  for (int i = 1; i < static_cast<int>(std::size(argv)); ++i) {
    if (argv[i][0] == '-') {
      EXPECT_NE(usage.find(argv[i]), std::string::npos) << argv[i];
    }
  }
  for (const char* o : {"--serial", "--device", "--baud", "--replay", "--scan-log", "--timing-log",
                        "--any-address", "--chaos", "--help"}) {
    EXPECT_NE(usage.find(o), std::string::npos) << o;
  }
}

TEST(SimCommandLine, RejectsBadInputWithOneLine) {
  for (std::vector<const char*> args : {std::vector<const char*>{"lmssim", "--port"},
                                        {"lmssim", "--port", "70000"},
                                        {"lmssim", "--nak-every", "x"},
                                        {"lmssim", "--bogus"},
                                        {"lmssim", "--baud", "12345"},
                                        {"lmssim", "--serial", "--baud", "115201"}}) {
    SimCommandLine cl;
    std::string error;
    EXPECT_FALSE(
        parseSimCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()), &cl, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST(SimCommandLine, EveryRateTheLineKnowsIsTaken) {
  for (const char* rate : {"1200", "9600", "19200", "38400", "57600", "115200", "500000"}) {
    std::vector<const char*> args{"lmssim", "--serial", "--baud", rate};
    SimCommandLine cl;
    std::string error;
    EXPECT_TRUE(
        parseSimCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()), &cl, &error))
        << rate << ": " << error;
    EXPECT_EQ(cl.baud, std::stoi(rate));
  }
}

TEST(SimCommandLine, NumbersOutOfRangeAndMissingValuesAreNamed) {
  auto parse = [](std::vector<const char*> args, std::string* error) {
    args.insert(args.begin(), "lmssim");
    SimCommandLine cl;
    return parseSimCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()), &cl, error);
  };
  std::string error;
  for (const char* bad : {"nan", "inf", "-inf", "1e300", "-1", "10000001", "x"}) {
    EXPECT_FALSE(parse({"--max-seconds", bad}, &error)) << bad;
    EXPECT_EQ(error, "--max-seconds takes a number of seconds from 0 to 10000000") << bad;
  }
  EXPECT_TRUE(parse({"--max-seconds", "0.5"}, &error)) << error;
  EXPECT_FALSE(parse({"--port"}, &error));
  EXPECT_EQ(error, "--port needs a value");
  EXPECT_FALSE(parse({"--seed"}, &error));
  EXPECT_EQ(error, "--seed needs a value");
  EXPECT_TRUE(parse({"--port", "0"}, &error));  // a port the system picks, printed when listening
  EXPECT_FALSE(parse({"--port", "-1"}, &error));
  EXPECT_EQ(error, "--port takes a whole number from 0 to 65535");
  SimCommandLine cl;
  std::vector<const char*> args{"lmssim", "--version"};
  ASSERT_TRUE(parseSimCommandLine(2, const_cast<char**>(args.data()), &cl, &error));
  EXPECT_TRUE(cl.version);
}

}  // namespace
