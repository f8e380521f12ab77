// SPDX-License-Identifier: Apache-2.0
#include "app/notices.h"

namespace app {

transport::MessageSink linesTo(std::FILE* to) {
  if (to == nullptr) return {};
  return [to](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), to);
    std::fflush(to);
  };
}

std::string noticeText(const lmsview::Event& e, bool serial) {
  using Kind = lmsview::Event::Kind;
  switch (e.kind) {
    case Kind::no_answer:
      if (!serial) return "";
      // After --baud auto tried every rate, another rate is not the answer.
      return e.every_rate_tried ? "lmsview: hint: no rate gets an answer: check that the scanner is on and "
                                  "cabled to this port\n"
                                : "lmsview: hint: the scanner may be set to another rate: try --baud auto\n";
    case Kind::reconnecting:
    case Kind::baud_found:
    case Kind::baud_not_found:
    case Kind::baud_switched:
    case Kind::baud_not_switched:
    case Kind::baud_restored:
    case Kind::variant_set:
    case Kind::variant_refused:
    case Kind::stream_found:
    case Kind::stream_refused:
    case Kind::stream_not_stopped:
    case Kind::units_differ:
      return "lmsview: " + e.text + "\n";  // the library's own words
    case Kind::opened:
    case Kind::open_failed:
    case Kind::lost:
    case Kind::reply_rejected:
    case Kind::words_rebuilt:  // lmsview reads no recording
    case Kind::recording_cut:
    case Kind::recording_ended:
    case Kind::callback_failed:  // lmsview's own callbacks do not throw
      return "";
  }
  return "";
}

}  // namespace app
