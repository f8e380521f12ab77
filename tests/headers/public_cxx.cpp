// SPDX-License-Identifier: Apache-2.0
// The public headers as a C++ program compiles them (C++17 and C++20): built, never run.
#include <lmsview/lmsview.h>
#include <lmsview/robot.h>
#include <lmsview/ros2.h>
#include <lmsview/scanner.h>

bool lmsviewHeaderCheck(const lmsview::Geometry& a, const lmsview::Geometry& b) {
  return a == b;
}

#if __cplusplus >= 202002L
// A program names only the fields it sets: the others have their defaults,
// and -Wextra says nothing.
lmsview::Options lmsviewOptionsCheck() {
  return {.link = "tcp://127.0.0.1", .queue = 8};
}
lmsview::Scan lmsviewScanCheck() {
  return {.seq = 1};
}
#endif
