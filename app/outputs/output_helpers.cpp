// SPDX-License-Identifier: Apache-2.0
#include "app/outputs/output_helpers.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <numbers>

namespace app {

std::string isoTimeUtc(std::int64_t nanosSinceEpoch) {
  using namespace std::chrono;
  const sys_time<nanoseconds> t{nanoseconds(nanosSinceEpoch)};
  const sys_days day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss<milliseconds> time{floor<milliseconds>(t - day)};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return buf;
}

double degreesFromRight(const lmsview::Geometry& g, std::size_t i) {
  const double field = (g.angle_max() - g.angle_min) * 180.0 / std::numbers::pi;
  return (g.angle(i) - g.angle_min) * 180.0 / std::numbers::pi + (180.0 - field) / 2;
}

double drawingAngle(const lmsview::Geometry& g, std::size_t i) {
  return degreesFromRight(g, i) * std::numbers::pi / 180.0;
}

}  // namespace app
