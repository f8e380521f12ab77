// SPDX-License-Identifier: Apache-2.0
// The public headers as a C++ program compiles them (C++17 and C++20): built, never run.
#include <lmsview/lmsview.h>
#include <lmsview/ros2.h>
#include <lmsview/scanner.h>

bool lmsviewHeaderCheck(const lmsview::Geometry& a, const lmsview::Geometry& b) {
  return a == b;
}
