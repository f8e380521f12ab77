// SPDX-License-Identifier: Apache-2.0
// Prints a libFuzzer dictionary for the command lines, from the option
// tables themselves (and the format names), so new options are fuzzed too.

#include <cstdio>
#include <string>

#include "app/cli.h"
#include "app/outputs/format_table.h"
#include "sim/options.h"

int main() {
  auto put = [](std::string_view word) {
    std::printf("\"%.*s\"\n", static_cast<int>(word.size()), word.data());
  };
  for (const std::string_view o : app::optionNames()) put(o);
  for (const std::string_view o : sim::simOptionNames()) put(o);
  for (const app::FormatInfo& f : app::kFormats) put(f.name);
  for (const char* w : {"COM", "IP", "LMS", "PLS", "auto", "--", "-h", "-?"}) put(w);
  return 0;
}
