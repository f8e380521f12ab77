// SPDX-License-Identifier: Apache-2.0
// Two scanners in one process, each on its own thread inside the library:
// a callback counts the scans of each while the main thread waits.
//
//   two_scanners tcp://192.0.2.40 tcp://192.0.2.41 5

#include <lmsview/scanner.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: two_scanners LINK LINK [SECONDS]\n");
    return 2;
  }
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 5;
  lmsview::Scanner front({.link = argv[1], .interval = std::chrono::milliseconds(100)});
  lmsview::Scanner rear({.link = argv[2], .interval = std::chrono::milliseconds(100)});
  std::atomic<int> counts[2] = {0, 0};
  lmsview::Subscription a = front.on_scan([&](const lmsview::Scan&) { ++counts[0]; });
  lmsview::Subscription b = rear.on_scan([&](const lmsview::Scan&) { ++counts[1]; });
  for (lmsview::Scanner* s : {&front, &rear}) {
    if (const std::error_code ec = s->open()) {
      std::fprintf(stderr, "two_scanners: %s\n", ec.message().c_str());
      return 1;
    }
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  front.close();
  rear.close();
  std::printf("front %d scans, rear %d scans\n", counts[0].load(), counts[1].load());
  return counts[0] > 0 && counts[1] > 0 ? 0 : 1;
}
