// SPDX-License-Identifier: Apache-2.0
// The live server's parsers on arbitrary bytes: an HTTP request head and a
// run of client WebSocket frames. Checked: no crash, a parsed head holds only
// what the rules allow, and each frame takes bytes it was given.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/serve/protocol.h"

using namespace app::serve;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Request request;
  if (parseRequest(bytes, &request)) {
    if (bytes.size() > kMaxHead || request.method.empty() || request.target.empty()) std::abort();
    (void)isLoopbackHost(request.header("host"));
  }
  std::string_view rest = bytes;
  for (int i = 0; i < 64 && !rest.empty(); ++i) {
    Frame frame;
    std::uint16_t code = 0;
    const int used = parseClientFrame(rest, &frame, &code);
    if (used < 0 && code != 1002 && code != 1007 && code != 1008 && code != 1009) std::abort();
    if (used <= 0) break;
    if (static_cast<std::size_t>(used) > rest.size() || frame.payload.size() > kMaxFrame) std::abort();
    rest.remove_prefix(static_cast<std::size_t>(used));
  }
  return 0;
}
