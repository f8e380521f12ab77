#include "app/notices.h"

#include "lms/protocol/facts.h"
#include "lms/protocol/reply.h"

namespace app {

transport::MessageSink linesTo(std::FILE* to) {
  if (to == nullptr) return {};
  return [to](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), to);
    std::fflush(to);
  };
}

namespace {

std::string delayText(std::chrono::milliseconds ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms.count()) / 1000.0);  // "0.5 s", "2 s"
  return text;
}

std::string baud(int rate) {
  return std::to_string(rate) + " baud";
}

// "100° at 0.25°"
std::string variantText(int points) {
  const lms::Variant* v = lms::variantOf(points);
  return v ? v->shown : std::to_string(points) + " points";
}

}  // namespace

std::string noticeText(const lmsview::Event& e, bool serial) {
  using Kind = lmsview::Event::Kind;
  switch (e.kind) {
    case Kind::reconnecting:
      return "lmsview: reconnecting to " + e.where + " in " + delayText(e.delay) + " (attempt " +
             std::to_string(e.attempt) + ")\n";
    case Kind::baud_found:
      return "lmsview: the scanner answered at " + baud(e.baud) + "\n";
    case Kind::baud_not_found: {
      std::string tried;
      for (const int rate : lms::kScannerRates) tried += (tried.empty() ? "" : ", ") + std::to_string(rate);
      return "lmsview: no rate got an answer (tried " + tried + "): going on at " + baud(e.baud) + "\n";
    }
    case Kind::no_answer:
      if (!serial) return "";
      // After --baud auto tried every rate, another rate is not the answer.
      return e.every_rate_tried ? "lmsview: hint: no rate gets an answer: check that the scanner is on and "
                                  "cabled to this port\n"
                                : "lmsview: hint: the scanner may be set to another rate: try --baud auto\n";
    case Kind::baud_switched:
      return "lmsview: scanner switched to " + baud(e.baud) + "\n";
    case Kind::baud_not_switched:
      return "lmsview: the scanner did not switch to " + baud(e.baud) + " (" +
             (e.reason == lmsview::Event::Reason::unanswered ? "no answer" : "refused") + "): going on at " +
             baud(e.from_baud) + "\n";
    case Kind::baud_restored:
      return "lmsview: scanner switched back to " + baud(e.baud) + "\n";
    case Kind::variant_set:
      return "lmsview: scanner set to " + variantText(e.points) + "\n";
    case Kind::variant_refused:
      return "lmsview: the scanner did not take " + variantText(e.points) + " (" +
             (e.reason == lmsview::Event::Reason::unanswered ? "no answer" : "refused") +
             "): going on with the scans it sends\n";
    case Kind::stream_found:
    case Kind::stream_refused:
    case Kind::stream_not_stopped:
    case Kind::units_differ:
      return "lmsview: " + e.text + "\n";
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
