// SPDX-License-Identifier: Apache-2.0
// The MCAP reader lmssim --replay and "file:" links use, on any bytes: it
// must not crash or read outside them, and what it returns it found.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "lms/formats/mcap.h"
#include "lms/formats/recording.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<lms::mcap::Message> messages;
  std::string why;
  const bool ok = lms::mcap::readMessages(bytes, &messages, &why);
  if (!ok && why.empty()) std::abort();  // a refusal always says why
  for (const auto& m : messages)
    if (m.data.size() > size) std::abort();
  lms::Recording r;
  std::string notice;
  r.addMcap(bytes, &why, &notice);
  return 0;
}
