// SPDX-License-Identifier: Apache-2.0
// The library's own reader, for the benchmarks' ratios: a C++ loop over
// lmsview::Scanner::next, printing one short line pair a scan (its number,
// and its nearest range as the last row); with "stream", continuous output
// at the serial line's rate BAUD, and one line a scan: its number and the
// monotonic time next() gave it (for the latency from the last byte).
//   scanner_reader LINK <scans> [stream BAUD]

#include <lmsview/scanner.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

int main(int argc, char** argv) {
  const bool stream = argc == 5 && std::strcmp(argv[3], "stream") == 0;
  if (argc != 3 && !stream) {
    std::fprintf(stderr, "usage: scanner_reader LINK <scans> [stream BAUD]\n");
    return 2;
  }
  lmsview::Options options{.link = argv[1]};
  if (stream) {
    options.stream = true;
    options.baud = std::atoi(argv[4]);
    options.queue = 100;
  }
  lmsview::Scanner scanner(options);
  if (const std::error_code ec = scanner.open()) {
    std::fprintf(stderr, "scanner_reader: %s\n", ec.message().c_str());
    return 1;
  }
  lmsview::Scan scan;
  for (int n = std::atoi(argv[2]); n > 0; --n) {
    if (const std::error_code ec = scanner.next(scan, std::chrono::seconds(5))) {
      std::fprintf(stderr, "scanner_reader: %s\n", ec.message().c_str());
      return 1;
    }
    if (stream) {
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      std::printf("%llu %lld\n", static_cast<unsigned long long>(scan.seq),
                  static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
      std::fflush(stdout);
      continue;
    }
    float nearest = 0;
    for (const float r : scan.ranges)
      if (r >= scan.geometry.range_min && r <= scan.geometry.range_max && (nearest == 0 || r < nearest))
        nearest = r;
    std::printf("muestra: %llu\n360 %.3f\n", static_cast<unsigned long long>(scan.seq), nearest);
    std::fflush(stdout);
  }
  return 0;
}
