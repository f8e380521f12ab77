#include "app/notices.h"

namespace app {

transport::MessageSink linesTo(std::FILE* to) {
  if (to == nullptr) return {};
  return [to](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), to);
    std::fflush(to);
  };
}

namespace {

std::string delayText(int ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", ms / 1000.0);  // "0.5 s", "2 s"
  return text;
}

}  // namespace

std::string noticeText(const lms::DriverEvent& e, bool serial) {
  using Kind = lms::DriverEvent::Kind;
  switch (e.kind) {
    case Kind::Reconnecting:
      return "lmsview: reconnecting to " + e.text + " in " + delayText(e.delayMs) + " (attempt " +
             std::to_string(e.attempt) + ")\n";
    case Kind::RateFound:
      return "lmsview: the scanner answered at " + std::to_string(e.rate) + " baud\n";
    case Kind::NoRateFound:
      return "lmsview: no rate got an answer (tried " + e.text + "): going on at " + std::to_string(e.rate) +
             " baud\n";
    case Kind::Silent:
      if (!serial) return "";
      // After --baud auto tried every rate, another rate is not the answer.
      return e.everyRateTried ? "lmsview: hint: no rate gets an answer: check that the scanner is on and "
                                "cabled to this port\n"
                              : "lmsview: hint: the scanner may be set to another rate: try --baud auto\n";
    case Kind::RateSwitched:
      return "lmsview: scanner switched to " + std::to_string(e.rate) + " baud\n";
    case Kind::RateNotSwitched:
      return "lmsview: the scanner did not switch to " + std::to_string(e.rate) + " baud (" + e.text +
             "): going on at " + std::to_string(e.from) + " baud\n";
    case Kind::RateRestored:
      return "lmsview: scanner switched back to " + std::to_string(e.rate) + " baud\n";
    case Kind::Opened:
    case Kind::OpenFailed:
    case Kind::Lost:
    case Kind::Rejected:
      return "";
  }
  return "";
}

}  // namespace app
