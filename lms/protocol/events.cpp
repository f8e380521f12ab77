// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/events.h"

#include <cstdio>

#include "lms/protocol/reply.h"
#include "lms/protocol/scanner_constants.h"

namespace lms {

namespace {

std::string secondsText(std::chrono::milliseconds ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms.count()) / 1000.0);  // "0.5 s", "2 s"
  return text;
}

std::string baud(int rate) {
  return std::to_string(rate) + " baud";
}

// "100° at 0.25°"
std::string variantText(int points) {
  const Variant* v = variantOf(points);
  return v ? v->shown : std::to_string(points) + " points";
}

// Why the scanner did not take a telegram: it refused it, or said nothing.
const char* refusal(lmsview::Event::Reason reason) {
  return reason == lmsview::Event::Reason::unanswered ? "no answer" : "refused";
}

}  // namespace

std::string eventText(const lmsview::Event& e) {
  using Kind = lmsview::Event::Kind;
  using Reason = lmsview::Event::Reason;
  switch (e.kind) {
    case Kind::opened:
      return "opened " + e.where;
    case Kind::reconnecting:
      return "reconnecting to " + e.where + " in " + secondsText(e.delay) + " (attempt " +
             std::to_string(e.attempt) + ")";
    case Kind::reply_rejected:
      switch (e.reason) {
        case Reason::refused:
          return "request refused by the scanner (NAK)";
        case Reason::unanswered:
          return "no answer to the request in time";
        case Reason::unexpected:
          return "an answer that is neither ACK nor NAK (noise, or another baud rate)";
        default:
          return "reply rejected: " + e.text;
      }
    case Kind::no_answer:
      return e.every_rate_tried ? "no rate gets an answer" : "the scanner does not answer";
    case Kind::baud_found:
      return "the scanner answered at " + baud(e.baud);
    case Kind::baud_not_found:
      return "no rate got an answer (tried " + scannerRateNames() + "): going on at " + baud(e.baud);
    case Kind::baud_switched:
      return "scanner switched to " + baud(e.baud);
    case Kind::baud_not_switched:
      // No reason: the line itself did not take the rate.
      return "the scanner did not switch to " + baud(e.baud) + " (" +
             (e.reason == Reason::none ? "the serial device does not take that rate" : refusal(e.reason)) +
             "): going on at " + baud(e.from_baud);
    case Kind::baud_restored:
      return "scanner switched back to " + baud(e.baud);
    case Kind::variant_set:
      return "scanner set to " + variantText(e.points);
    case Kind::variant_refused:
      return "the scanner did not take " + variantText(e.points) + " (" + refusal(e.reason) +
             "): going on with the scans it sends";
    case Kind::stream_found:
      return e.streaming ? "the scanner was already streaming: reading its stream"
                         : "the scanner was streaming: its stream is stopped";
    case Kind::stream_refused:
      return std::string("the scanner did not start continuous output (") + refusal(e.reason) +
             "): polling instead";
    case Kind::stream_not_stopped:
      return "the scanner did not acknowledge the end of its stream: it may still be streaming";
    case Kind::open_failed:
    case Kind::lost:
    case Kind::units_differ:
    case Kind::words_rebuilt:
    case Kind::callback_failed:
    case Kind::recording_cut:
    case Kind::recording_ended:
      break;  // worded where they happen
  }
  return e.text;
}

}  // namespace lms
