// SPDX-License-Identifier: Apache-2.0
// lmsview --config: what a robot's file gives, and each mistake named with
// its place before any link opens.

#include "app/robot_config.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

TEST(RobotConfig, TakesEveryScannerInTheFilesOrderWithItsOptions) {
  const char* text = R"(base_frame = "robot"
[scanner.rear]
link = "serial:///dev/ttyUSB0"
baud = 38400
scanner_baud = 500000
stream = true
pose = { x = -0.30, y = -0.20, yaw_deg = -135 }
[scanner.front]
link = "tcp://127.0.0.1"
variant = "180/0.5"
interval = 200
reconnect = true
pose = { x = 0.30, y = 0.20, yaw_deg = 45 }
crop_deg = [-100, 100]
mask_deg = [[-95, -80]]
range_m = [0.05, 8.0]
)";
  app::RobotConfig c;
  std::string error;
  ASSERT_TRUE(app::parseRobotConfig(text, "robot.toml", &c, &error)) << error;
  EXPECT_EQ(c.baseFrame, "robot");
  ASSERT_EQ(c.scanners.size(), 2u);
  const app::ScannerConfig& rear = c.scanners[0];  // first in the file, whatever its name
  EXPECT_EQ(rear.name, "rear");
  EXPECT_TRUE(rear.serial && rear.stream);
  EXPECT_EQ(rear.baud, 38400);
  EXPECT_EQ(rear.scannerBaud, 500000);
  EXPECT_NEAR(rear.pose.yaw, -135 * std::numbers::pi / 180, 1e-12);
  const app::ScannerConfig& front = c.scanners[1];
  EXPECT_FALSE(front.serial);
  EXPECT_EQ(front.intervalMs, 200);
  EXPECT_TRUE(front.reconnect);
  EXPECT_EQ(front.filter.crop_min_deg, -100);
  ASSERT_EQ(front.filter.mask_deg.size(), 1u);
  EXPECT_EQ(front.filter.range_max_m, 8.0);
  EXPECT_DOUBLE_EQ(front.pose.x, 0.30);
}

TEST(RobotConfig, EachMistakeIsNamedWithItsLineAndColumn) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {"[scanner.a]\nlink = \"tcp://127.0.0.1\"\nintervall = 100\n",
       "f.toml:3:1: intervall: is no key of a scanner"},
      {"[scanner.a]\nfamily = \"LMS\"\n", "f.toml:1:1: scanner.a: has no link"},
      {"[scanner.a]\nlink = \"tcp://127.0.0.1\"\n[scanner.b]\nlink = \"tcp://127.0.0.1:10002\"\n",
       "f.toml:4:8: link: another scanner already reads tcp://127.0.0.1:10002"},
      {"[scanner.a]\nlink = \"tcp://127.0.0.1\"\n[scanner.a]\nlink = \"tcp://127.0.0.2\"\n", "f.toml:3:"},
      {"[scanner.a]\nlink = \"tcp://127.0.0.1\"\npose = { x = nan, y = 0, yaw_deg = 0 }\n",
       "pose.x: takes a finite number"},
      {"[scanner.a]\nlink = \"tcp://127.0.0.1\"\npose = { x = 0, y = inf, yaw_deg = 0 }\n",
       "pose.y: takes a finite number"},
      {"[scanner.a]\nlink = \"tcp://127.0.0.1\"\ncrop_deg = [95, 120]\n",
       "f.toml:3:12: crop: 95 to 120 degrees lies outside the scanner's field (-90 to 90)"},
      {"[scanner.a]\nlink = \"tcp://127.0.0.1\"\ncrop_deg = [20, -20]\n",
       "f.toml:3:12: crop: the sector kept is empty"},
      {"[scanner.a]\nlink = \"tcp://127.0.0.1\"\nvariant = \"100/1\"\ncrop_deg = [60, 80]\n", "(-50 to 50)"},
      {"this is not toml\n", "f.toml:1:"},
      {"[scanner.a]\nlink = \"ftp://x\"\n", "f.toml:2:8: link: not a link name"},
      {"[scanner.a]\nlink = \"tcp://127.0.0.1\"\nbaud = 38400\n",
       "baud and scanner_baud are for serial links"},
      {"[scanner.a]\nlink = \"serial:///dev/ttyS0\"\nbaud = 12345\n", "f.toml:3:8: baud: baud must be"},
      {"[scanner.1a]\nlink = \"tcp://127.0.0.1\"\n", "a scanner's name is letters"},
      {"base_frame = \"b\"\n", "names no scanner"},
      {"[scanner.a]\nlink = 7\n", "f.toml:2:8: link: takes text, not a number"},
  };
  for (const auto& c : cases) {
    app::RobotConfig config;
    std::string error;
    EXPECT_FALSE(app::parseRobotConfig(c.text, "f.toml", &config, &error)) << c.text;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.text << "\n -> " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

}  // namespace
