// SPDX-License-Identifier: Apache-2.0
// The acquisition's line rate: --baud auto finds it, --scanner-baud moves
// the scanner to another for the run and back at its end, and a scanner a
// killed run left there is looked for there first.

#include "lms/protocol/acquisition.h"
#include "platform/clock.h"

namespace lms {

using platform::processMillis;
using Event = lmsview::Event;
using Reason = lmsview::Event::Reason;

// Whether the scanner answers at the line's rate now: it streams, or a quiet
// line's request is acknowledged within the probe's short bound.
template <class Link>
bool Acquisition<Link>::answersHere(LineState line) {
  return line == LineState::Streaming ||
         (line == LineState::Quiet && exchange(msgRequestScan.data(), static_cast<int>(msgRequestScan.size()),
                                               link_, kProbeAckMs) == AckResult::Ack);
}

// After answersHere(): the stream found is taken, or the acknowledged
// request's reply read (the first scan).
template <class Link>
void Acquisition<Link>::takeAnswer(LineState line) {
  if (line == LineState::Streaming) {
    foundStreaming();
    return;
  }
  collectReply(link_, carry_, processMillis() + link_.replyWaitMs(), &stopRequested_);
  read(link_);
}

// --baud auto: one request at each rate the scanner family knows, with a
// short bound; the first that gets an acknowledge stays (and its reply is
// the first scan). A link that has no rates to try does nothing here.
template <class Link>
void Acquisition<Link>::findRate() {
  rate_.findDue = false;
  for (const int rate : Link::kProbeRates) {
    if (stopping() || !link_.reopenAt(rate)) continue;
    // A scanner that streams at this rate answers before it is asked.
    const LineState line = settleLine();
    if (answersHere(line)) {
      emit({.kind = Event::Kind::baud_found, .baud = rate});
      target_.baud = rate;
      rate_.known = true;
      takeAnswer(line);
      return;
    }
  }
  if (stopping() || Link::kProbeRates.empty()) return;
  emit({.kind = Event::Kind::baud_not_found, .baud = target_.baud});
  link_.reopenAt(target_.baud);
}

// --scanner-baud: the operating-mode telegram for `baud`, its acknowledge
// and the rest of its answer at the line's present rate, then the line
// itself at `baud`. True when the scanner took it.
template <class Link>
bool Acquisition<Link>::switchScanner(int baud) {
  const Bytes6* telegram = baudTelegram(baud);
  if (telegram == nullptr) return false;
  const AckResult r = exchange(telegram->data(), static_cast<int>(telegram->size()), link_);
  if (r != AckResult::Ack) {
    emit({.kind = Event::Kind::baud_not_switched,
          .baud = baud,
          .from_baud = link_.baud(),
          .reason = r == AckResult::Timeout ? Reason::unanswered : Reason::refused});
    return false;
  }
  // The scanner changes its rate once its answer is out.
  collectTelegram(link_, carry_, processMillis() + link_.replyWaitMs());
  carry_.clear();
  return link_.reopenAt(baud);
}

template <class Link>
void Acquisition<Link>::moveScanner() {
  rate_.moveDue = false;
  const int from = link_.baud();
  if (from == settings_.scannerBaud) return;
  // The line is tried at the new rate before the scanner is moved there: a
  // scanner moved to a rate the adapter cannot take would be out of reach.
  if (Link::kSerial && !(link_.reopenAt(settings_.scannerBaud) && link_.reopenAt(from))) {
    emit({.kind = Event::Kind::baud_not_switched, .baud = settings_.scannerBaud, .from_baud = from});
    link_.reopenAt(from);
    return;
  }
  if (switchScanner(settings_.scannerBaud)) {
    rate_.foundBaud = from;
    rate_.switched = true;
    target_.baud = settings_.scannerBaud;  // a reconnect tries the new rate first
    emit({.kind = Event::Kind::baud_switched, .baud = settings_.scannerBaud, .from_baud = from});
  } else if (!link_.lost() && link_.baud() != from) {
    link_.reopenAt(from);
  }
}

// After a reconnect: the scanner may still run at the new rate (the line
// went, the scanner did not) or be back at its old one (it was restarted).
template <class Link>
void Acquisition<Link>::resumeAtScannerBaud() {
  rate_.resumeDue = false;
  const AckResult r =
      exchange(msgRequestScan.data(), static_cast<int>(msgRequestScan.size()), link_, kProbeAckMs);
  if (r == AckResult::Ack) {
    collectReply(link_, carry_, processMillis() + link_.replyWaitMs(), &stopRequested_);
    read(link_);
    return;
  }
  rate_.switched = false;
  target_.baud = rate_.foundBaud;
  if (link_.reopenAt(rate_.foundBaud)) rate_.moveDue = true;
}

// --scanner-baud at the first open: a run that was killed may have left the
// scanner at that rate (streaming, even), where it is looked for first; a
// scanner found there counts as switched, so the end of this run moves it
// back to the rate it is opened at.
template <class Link>
void Acquisition<Link>::lookAtScannerBaud() {
  rate_.lookedAtScannerBaud = true;
  const int from = link_.baud();
  LineState line = LineState::Quiet;
  bool there = false;
  if (from != settings_.scannerBaud && link_.reopenAt(settings_.scannerBaud)) {
    line = settleLine();
    there = answersHere(line);
  }
  if (there) {
    rate_.foundBaud = from;
    rate_.switched = true;
    rate_.moveDue = false;
    target_.baud = settings_.scannerBaud;
    emit({.kind = Event::Kind::baud_found, .baud = settings_.scannerBaud});
    takeAnswer(line);
    return;
  }
  if (link_.baud() != from && !link_.reopenAt(from)) return;
  if (settleLine() == LineState::Streaming) foundStreaming();
}

// At the end of the run the scanner goes back to the rate it was found at,
// so the next program that opens it at that rate finds it.
template <class Link>
void Acquisition<Link>::restoreScanner() {
  if (!rate_.switched || settings_.keepScannerBaud || link_.lost()) return;
  // A reply the stop cut short may still be on the line.
  if (Link::kSerial) settleLine();
  if (switchScanner(rate_.foundBaud)) {
    rate_.switched = false;
    emit({.kind = Event::Kind::baud_restored, .baud = rate_.foundBaud, .from_baud = settings_.scannerBaud});
  }
}

// The rest of the class is instantiated in acquisition.cpp.
#define LMSVIEW_INSTANTIATE_RATE(LinkType)                     \
  template bool Acquisition<LinkType>::answersHere(LineState); \
  template void Acquisition<LinkType>::takeAnswer(LineState);  \
  template void Acquisition<LinkType>::findRate();             \
  template void Acquisition<LinkType>::lookAtScannerBaud();    \
  template bool Acquisition<LinkType>::switchScanner(int);     \
  template void Acquisition<LinkType>::moveScanner();          \
  template void Acquisition<LinkType>::resumeAtScannerBaud();  \
  template void Acquisition<LinkType>::restoreScanner();
LMSVIEW_INSTANTIATE_RATE(SerialPortLink)
LMSVIEW_INSTANTIATE_RATE(TcpClientLink)
#undef LMSVIEW_INSTANTIATE_RATE

}  // namespace lms
