// SPDX-License-Identifier: Apache-2.0
// The acquisition's loop: opening the link (again, with back-off), setting
// the scanner up at each open, the polling cycle, and every reply checked,
// decoded once and handed over.

#include "lms/protocol/acquisition.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "lms/protocol/events.h"
#include "platform/clock.h"

namespace lms {

using platform::processMillis;
using Event = lmsview::Event;
using Reason = lmsview::Event::Reason;

template <class Link>
Acquisition<Link>::Acquisition(Target target) : target_(std::move(target)) {}

template <class Link>
Acquisition<Link>::~Acquisition() = default;

template <class Link>
void Acquisition<Link>::configure(const AcquisitionSettings& settings) {
  settings_ = settings;
  if (settings.baud != 0) target_.baud = settings.baud;
}

template <class Link>
void Acquisition<Link>::say(const char* format, ...) {
  if (!out_) return;
  char line[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0)
    out_(std::string_view(line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1)));
}

template <class Link>
void Acquisition<Link>::emit(Event event) {
  if (!events_) return;
  event.text = eventText(event);
  events_(event);
}

template <class Link>
AcquisitionStats Acquisition<Link>::stats() const {
  const auto get = [](const std::atomic<std::int64_t>& a) { return a.load(std::memory_order_relaxed); };
  return {get(counters_.requests),   get(counters_.scans),    get(counters_.noReply),
          get(counters_.notAReply),  get(counters_.tooShort), get(counters_.badChecksum),
          get(counters_.reconnects), get(counters_.refused),  get(counters_.unanswered),
          get(counters_.unexpected), get(counters_.discarded)};
}

template <class Link>
void Acquisition<Link>::stop() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_.store(true, std::memory_order_release);
    // A wait for an answer ends at the stop too, where the link can wake it.
    if (transport_) Link::wake(*transport_);
  }
  stopWake_.notify_all();
}

template <class Link>
void Acquisition<Link>::setTransport(std::unique_ptr<Transport> next) {
  // stop() reaches the transport from another thread, under the lock; the
  // old one goes outside it (its threads may still report).
  std::unique_ptr<Transport> old;
  {
    std::lock_guard lock(mutex_);
    old = std::exchange(transport_, std::move(next));
  }
}

template <class Link>
bool Acquisition<Link>::pauseUnlessStopped(std::chrono::nanoseconds time) {
  std::unique_lock lock(mutex_);
  return !stopWake_.wait_for(lock, time, [this] { return stopRequested_.load(std::memory_order_acquire); });
}

template <class Link>
bool Acquisition<Link>::pauseUnlessStopped(int ms) {
  return pauseUnlessStopped(std::chrono::milliseconds(ms));
}

template <class Link>
std::string Acquisition<Link>::failureText() const {
  std::lock_guard lock(mutex_);
  return failureText_;
}

template <class Link>
std::error_code Acquisition<Link>::failureError() const {
  std::lock_guard lock(mutex_);
  return failureError_;
}

template <class Link>
void Acquisition<Link>::fail(RunOutcome outcome, std::string text, std::error_code ec) {
  {
    std::lock_guard lock(mutex_);
    failureText_ = std::move(text);
    failureError_ = ec;
  }
  outcome_.store(outcome, std::memory_order_release);
}

template <class Link>
void Acquisition<Link>::run() {
  outcome_.store(RunOutcome::Running, std::memory_order_release);
  const auto makeTransport = [this] {
    return Link::makeTransport(out_, settings_.timing.clientStartPauseMs, settings_.stream);
  };
  setTransport(makeTransport());
  bool open = connect(target_, *transport_, kConnectAttempts) == 1;
  // The first open runs to its result: a failure stands even when a stop
  // came while it ran (the end of an empty input, say), so it is reported.
  if (!open && !settings_.reconnect.enabled) {
    setTransport(nullptr);
    return;
  }
  int attempt = 1;
  int delayMs = settings_.reconnect.firstDelayMs;
  while (open || (settings_.reconnect.enabled && !stopping())) {
    if (!open) {
      // Back off and try again with a fresh transport (the old one's
      // threads and descriptor go).
      ++attempt;
      counters_.reconnects.fetch_add(1, std::memory_order_relaxed);
      emit({.kind = Event::Kind::reconnecting,
            .delay = std::chrono::milliseconds(delayMs),
            .attempt = attempt,
            .where = Link::placeText(target_)});
      if (!pauseUnlessStopped(delayMs)) break;
      delayMs = std::min(delayMs * 2, settings_.reconnect.maxDelayMs);
      setTransport(nullptr);
      setTransport(makeTransport());
      open = connect(target_, *transport_, 1) == 1;
      continue;
    }
    attempt = 1;
    delayMs = settings_.reconnect.firstDelayMs;
    prepareOpenLink();
    while (!stopping()) {
      if (rate_.findDue) findRate();
      if (rate_.resumeDue) resumeAtScannerBaud();
      if (rate_.moveDue) moveScanner();
      if (variantDue_) applyVariant();
      if (stream_.due) startStream();
      if (stream_.on)
        streamCycle();
      else
        cycle();
      if (link_.lost()) break;
    }
    if (stopping()) {
      ending_ = true;
      if (stream_.on) stopStream();
      restoreScanner();
      break;
    }
    const std::string why = link_.lossText();
    say("run - connection to LMS lost: %s\n", why.c_str());
    fail(RunOutcome::LinkLost, "connection to the scanner lost: " + why, {});
    emit({.kind = Event::Kind::lost, .text = "link lost: " + why});
    open = false;
  }
  // A stop ends the run however the link stood; a loss without reconnect stands.
  if (stopping() || outcome() == RunOutcome::Running)
    outcome_.store(RunOutcome::Stopped, std::memory_order_release);
  // The link is let go as the loop ends, not when the acquisition goes:
  // another program (or scanner object) may open it at once.
  setTransport(nullptr);
}

// What each open does before the first request.
template <class Link>
void Acquisition<Link>::prepareOpenLink() {
  link_ = linkOf(*transport_);
  outcome_.store(RunOutcome::Running, std::memory_order_release);
  rate_.findDue = settings_.baud == 0 && !rate_.known;
  rate_.moveDue = Link::kSerial && settings_.scannerBaud != 0 && !rate_.switched;
  rate_.resumeDue = rate_.switched;
  variantDue_ = settings_.variant != nullptr;
  stream_.due = settings_.stream;
  stream_.on = false;
  framer_.clear();
  // A serial line may still carry the tail of a reply (the program before
  // us was closed or killed mid-reply), or a scanner left streaming: the
  // first request waits for it to be quiet. A scanner moved to another rate
  // by a run that was killed is looked for there first.
  if (Link::kSerial && settings_.scannerBaud != 0 && !rate_.switched && !rate_.lookedAtScannerBaud &&
      !rate_.findDue)
    lookAtScannerBaud();
  else if ((Link::kSerial || settings_.stream) && !rate_.findDue && settleLine() == LineState::Streaming)
    foundStreaming();
}

template <class Link>
int Acquisition<Link>::connect(const Target& target, Transport& transport, int attempts) {
  std::error_code ec;
  int attempt = 1;
  for (; attempt <= attempts; ++attempt) {
    say("trying to connect %d\n", attempt);
    ec = Link::open(transport, target);
    if (!ec) {
      say("%s", Link::openedText(target).c_str());
      say("connected to LMS\n");
      emit({.kind = Event::Kind::opened, .where = Link::placeText(target)});
      return 1;
    }
    say("connectToLMS - Failed to connect 0x%x 0x%x\n", static_cast<unsigned>(ec.value()),
        static_cast<unsigned>(attempt));
    if (!Link::worthRetrying(ec)) break;
    if (attempt < attempts && !pauseUnlessStopped(settings_.timing.retryPauseMs)) break;
  }
  say("Failed to connect to ladar after many tries! 0x%x\n",
      static_cast<unsigned>(std::min(attempt, attempts)));
  fail(RunOutcome::ConnectFailed, Link::openFailureText(target, ec), ec);
  emit({.kind = Event::Kind::open_failed, .text = Link::openFailureText(target, ec), .error = ec});
  return 0;
}

template <class Link>
AckResult Acquisition<Link>::exchange(const std::uint8_t* telegram, int length, Link& link,
                                      int ackTimeoutMs) {
  discardStale(link);
  carry_.clear();
  if (!sendTelegram(telegram, length, link)) return AckResult::NotSent;
  return awaitAck(link, &carry_, ackTimeoutMs, ending_ ? nullptr : &stopRequested_);
}

template <class Link>
AckResult Acquisition<Link>::exchange(const std::uint8_t* telegram, int length, Transport& transport) {
  Link link = linkOf(transport);
  return exchange(telegram, length, link);
}

template <class Link>
int Acquisition<Link>::request(Transport& transport) {
  Link link = linkOf(transport);
  return request(link);
}

template <class Link>
void Acquisition<Link>::read(Transport& transport) {
  Link link = linkOf(transport);
  read(link);
}

template <class Link>
int Acquisition<Link>::request(Link& link) {
  counters_.requests.fetch_add(1, std::memory_order_relaxed);
  const AckResult r = exchange(msgRequestScan.data(), static_cast<int>(msgRequestScan.size()), link);
  Reason lost = Reason::none;
  switch (r) {
    case AckResult::Ack:
    case AckResult::LinkLost:  // run() says so
    case AckResult::Stopped:
      break;
    case AckResult::Refused:  // retried at the next cycle, quietly on the message lines
      counters_.refused.fetch_add(1, std::memory_order_relaxed);
      lost = Reason::refused;
      break;
    case AckResult::Timeout:
      counters_.unanswered.fetch_add(1, std::memory_order_relaxed);
      lost = Reason::unanswered;
      say("requestScan - %s\n", link.noAnswerText());
      if (settings_.baud == 0 && rate_.known) {
        // The rate found no longer gets an answer: look for it again.
        rate_.known = false;
        rate_.findDue = true;
      } else if (!hinted_) {
        // Once a run: a line that opened and stays silent is most often set
        // to another rate (the caller words the advice).
        hinted_ = true;
        emit({.kind = Event::Kind::no_answer, .every_rate_tried = settings_.baud == 0});
      }
      break;
    case AckResult::NotSent:
      counters_.unanswered.fetch_add(1, std::memory_order_relaxed);
      lost = Reason::unanswered;
      say("requestScan - the request could not be sent (%s)\n", link.sendFailureText().c_str());
      break;
    case AckResult::Unexpected: {
      counters_.unexpected.fetch_add(1, std::memory_order_relaxed);
      lost = Reason::unexpected;
      // What came instead of the acknowledge, so a wrong rate or a talking
      // gateway can be told apart from silence.
      std::string shown;
      const int n = std::min(carry_.length, kShownAnswerBytes);
      for (int i = 0; i < n; ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, " 0x%02X", carry_.bytes[static_cast<std::size_t>(i)]);
        shown += hex;
      }
      if (carry_.length > n) shown += " ...";
      say("requestScan - unexpected answer%s (is the baud rate right?)\n", shown.c_str());
      break;
    }
  }
  if (lost != Reason::none) emit({.kind = Event::Kind::reply_rejected, .reason = lost});
  const bool talking = r == AckResult::Unexpected || (r == AckResult::Timeout && link.gathering());
  if (talking && &link == &link_ && !stopping()) {
    // The answer was the tail of an earlier reply, noise, or a scanner
    // streaming: the next request waits for the line to be quiet.
    link.takeBytesAsTheyCome();
    framer_.clear();
    framer_.add(carry_.bytes.data(), carry_.length, link.readEndNs(), link.nsPerByte());
    if (settleLine() == LineState::Streaming) foundStreaming();
  }
  return r == AckResult::Ack ? 0 : 1;
}

// One cycle: the request, then within the cycle's pause the reply is
// collected and shown as soon as it is whole; the rest of the pause keeps
// the pace. The interval runs from the request when it was acknowledged; a
// request that was refused or not answered waits the whole interval after
// it, so a silent scanner is not asked faster than the pace.
template <class Link>
void Acquisition<Link>::cycle() {
  const std::int64_t start = processMillis();
  const int r = request(link_);
  const std::int64_t pauseEnd = (r == 0 ? start : processMillis()) + settings_.intervalMs;
  if (r == 0) {
    collectReply(link_, carry_, pauseEnd, &stopRequested_);
    read(link_);
  }
  const std::int64_t left = pauseEnd - processMillis();
  if (left > 0) pauseUnlessStopped(static_cast<int>(left));
}

// Finishes gathering the reply (bounded, and ended by a stop: a scanner
// that closes lets go of its link at once, not when the reply is in), then
// checks, reports and publishes it.
template <class Link>
void Acquisition<Link>::read(Link& link) {
  collectReply(link, carry_, processMillis() + link.replyWaitMs(), ending_ ? nullptr : &stopRequested_);
  const int len = carry_.length;
  carry_.clear();  // the bytes stay for the check and the decoding below
  const ReplyCheck check = checkMeasurementReply(carry_.bytes.data(), len);
  if (check != ReplyCheck::Ok) {
    if (!stopping() || ending_) reject(check, len, measurementReplyLength(carry_.bytes.data(), len));
    return;
  }
  // The scanner measured the scan before it began to send it: the stamp is
  // when the reply's first byte came, not when the line had carried it all.
  publishReply(carry_.bytes.data(), carry_.firstByteNs);
}

template <class Link>
void Acquisition<Link>::reject(ReplyCheck check, int len, int whole) {
  std::string why;
  Reason reason = Reason::not_a_reply;
  if (len == 0) {
    counters_.noReply.fetch_add(1, std::memory_order_relaxed);
    say("readScan - no reply from LMS\n");
    why = "no reply";
    reason = Reason::no_reply;
  } else if (check == ReplyCheck::TooShort) {
    reason = Reason::too_short;
    counters_.tooShort.fetch_add(1, std::memory_order_relaxed);
    say("readScan - reply too short (%d of %d bytes)\n", len, whole);
    why = "reply too short (" + std::to_string(len) + " of " + std::to_string(whole) + " bytes)";
  } else {
    (check == ReplyCheck::BadChecksum ? counters_.badChecksum : counters_.notAReply)
        .fetch_add(1, std::memory_order_relaxed);
    say("readScan - %s\n", replyCheckText(check));
    why = replyCheckText(check);
    if (check == ReplyCheck::BadChecksum) reason = Reason::checksum;
  }
  emit({.kind = Event::Kind::reply_rejected, .text = why, .reason = reason});
}

template <class Link>
void Acquisition<Link>::publishReply(const std::uint8_t* reply, std::int64_t firstNs) {
  lmsview::Scan& scan = slot_.back();
  decodeMeasurementReply(reply, &scan);
  scan.received_ns = platform::wallClockNanos();
  scan.stamp_ns = firstNs != 0 ? firstNs : scan.received_ns;
  // The reply states its unit; the one expected only decides whether to say
  // that they differ.
  if (const Units seen = replyUnits(reply); seen != settings_.units && !unitsSaid_) {
    unitsSaid_ = true;
    emit({.kind = Event::Kind::units_differ,
          .text = std::string("the replies are in ") + unitsName(seen) + ", not " +
                  unitsName(settings_.units) + " as set: the replies' unit is used",
          .units = unitsName(seen)});
  }
  const lmsview::Scan& published = slot_.publish();
  counters_.scans.fetch_add(1, std::memory_order_relaxed);
  stream_.lastScanMs = processMillis();
  if (observer_) observer_(published);
}

// --variant: the variant telegram, its acknowledge and its answer, whose
// status byte says whether the scanner switched (1) or not.
template <class Link>
void Acquisition<Link>::applyVariant() {
  variantDue_ = false;
  const Variant* variant = settings_.variant;
  const Bytes9* telegram = variantTelegram(variant->fieldDegrees, variant->resolutionHundredths);
  const AckResult r = exchange(telegram->data(), static_cast<int>(telegram->size()), link_);
  if (stopping()) return;
  bool taken = false;
  if (r == AckResult::Ack &&
      collectTelegram(link_, carry_, processMillis() + link_.replyWaitMs(), &stopRequested_))
    taken = carry_.bytes[4] == 0xBB && carry_.bytes[5] == 0x01;  // 02 80 L L BB status ...
  carry_.clear();
  if (taken) {
    emit({.kind = Event::Kind::variant_set, .points = variant->points});
    return;
  }
  emit({.kind = Event::Kind::variant_refused,
        .points = variant->points,
        .reason = r == AckResult::Timeout ? Reason::unanswered : Reason::refused});
}

template class Acquisition<SerialPortLink>;
template class Acquisition<TcpClientLink>;

}  // namespace lms
