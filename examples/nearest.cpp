// SPDX-License-Identifier: Apache-2.0
// The nearest point of each scan, for N scans: the smallest program that
// reads a scanner through liblmsview.
//
//   nearest tcp://192.0.2.40 10
//   nearest serial:///dev/ttyUSB0 10

#include <lmsview/scanner.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: nearest LINK [SCANS]\n");
    return 2;
  }
  const int scans = argc > 2 ? std::atoi(argv[2]) : 10;
  lmsview::Scanner scanner({.link = argv[1]});
  if (const std::error_code ec = scanner.open()) {
    std::fprintf(stderr, "nearest: %s\n", ec.message().c_str());
    return 1;
  }
  lmsview::Scan scan;
  for (int n = 0; n < scans; ++n) {
    if (const std::error_code ec = scanner.next(scan, std::chrono::seconds(5))) {
      std::fprintf(stderr, "nearest: %s\n", ec.message().c_str());
      return 1;
    }
    // A range outside [range_min, range_max] is no echo or one of the scanner's codes.
    const lmsview::Geometry& g = scan.geometry;
    std::size_t at = g.count;
    for (std::size_t i = 0; i < g.count; ++i) {
      const float r = scan.ranges[i];
      if (r >= g.range_min && r <= g.range_max && (at == g.count || r < scan.ranges[at])) at = i;
    }
    if (at == g.count)
      std::printf("scan %llu: no point\n", static_cast<unsigned long long>(scan.seq));
    else
      std::printf("scan %llu: nearest %.3f m at %.1f deg\n", static_cast<unsigned long long>(scan.seq),
                  scan.ranges[at], g.angle(at) * 180 / 3.141592653589793);
  }
  return 0;
}
