// The library's own reader, for the benchmarks' ratios: a C++ loop over
// lmsview::Scanner::next at the usual one-second pace, printing one short
// line pair a scan (its number, and its nearest range as the last row).
//   scanner_reader LINK <scans>

#include <lmsview/scanner.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: scanner_reader LINK <scans>\n");
    return 2;
  }
  lmsview::Scanner scanner({.link = argv[1]});
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
    float nearest = 0;
    for (const float r : scan.ranges)
      if (r >= scan.geometry.range_min && r <= scan.geometry.range_max && (nearest == 0 || r < nearest))
        nearest = r;
    std::printf("muestra: %llu\n360 %.3f\n", static_cast<unsigned long long>(scan.seq), nearest);
    std::fflush(stdout);
  }
  return 0;
}
