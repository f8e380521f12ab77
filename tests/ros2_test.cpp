// SPDX-License-Identifier: Apache-2.0
// lmsview::Ros2Publisher in-process: every scan handed over is either
// published or counted as dropped, however fast they come; errors are values.

#include <gtest/gtest.h>

#include <cstdlib>

#include "lmsview/ros2.h"
#include "wait_until.h"

using lmsview::errc;
using lmsview::Ros2Publisher;

namespace {
// DDS on loopback only, set before any participant exists.
const bool kLoopbackOnly = ::setenv("CYCLONEDDS_URI", LMSVIEW_DDS_CONFIG, 1) == 0;
}  // namespace

TEST(Ros2Publisher, EveryScanIsPublishedOrCountedAsDropped) {
  ASSERT_TRUE(kLoopbackOnly);
  Ros2Publisher publisher({.topic = "/unit/scan", .domain = 221});
  ASSERT_FALSE(publisher.open());
  EXPECT_EQ(publisher.open(), errc::already_open);
  lmsview::Scan scan;
  for (std::uint64_t i = 0; i < 500; ++i) {
    scan.seq = i;
    scan.ranges.assign(361, static_cast<float>(i % 8));
    publisher.publish(scan);  // back to back: the thread cannot keep up with all
  }
  // The newest is written once the thread is free.
  ASSERT_TRUE(
      waitUntil([&] { return publisher.stats().published + publisher.stats().dropped == 500; }, 5000));
  EXPECT_GT(publisher.stats().published, 0u);
  publisher.publish(scan);
  publisher.close();
  const lmsview::Ros2Stats s = publisher.stats();
  EXPECT_EQ(s.published + s.dropped, 501u);
  publisher.publish(scan);  // after close: nothing, and no crash
  publisher.close();
  EXPECT_EQ(publisher.stats().published + publisher.stats().dropped, 501u);
}

TEST(Ros2Publisher, BadTopicsAndDomainsAreRefused) {
  for (const char* topic : {"", "scan", "/scan/", "//scan", "/1scan", "/scan-x", "/sc an"})
    EXPECT_EQ(Ros2Publisher({.topic = topic}).open(), errc::bad_topic) << topic;
  for (const int domain : {233, 1000})
    EXPECT_EQ(Ros2Publisher({.domain = domain}).open(), errc::bad_domain) << domain;
  EXPECT_TRUE(lmsview::valid_ros2_topic("/front/scan_2"));
}
