#include "lms/protocol/driver.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <utility>

#include "platform/clock.h"
#include "transport/serial_port.h"

namespace lms {

using platform::processMillis;

template <class Link>
bool LmsDriver<Link>::parseLaserType(const char* laserType) {
  // Only "PLS" selects the other family; any other text counts as LMS.
  return laserType == nullptr || std::strcmp(laserType, "PLS") != 0;
}

template <class Link>
LmsDriver<Link>::LmsDriver(const char* portName, const char* laserType) requires SerialLink<Link>
    : isLMS_(parseLaserType(laserType)) {
  const std::string name = portName ? portName : "";
  for (int n = 1; n <= 10; ++n) {
    if (name == "COM" + std::to_string(n)) target_.comPort = n;
  }
  if (transport::isDevicePath(name)) target_.devicePath = name;
  target_.baud = kSerialBaud;
}

template <class Link>
LmsDriver<Link>::LmsDriver(int a, int b, int c, int comPort, int baudRate) requires SerialLink<Link>
    : reserved_{a, b, c} {
  target_.comPort = comPort;
  target_.baud = baudRate;
}

template <class Link>
LmsDriver<Link>::LmsDriver(const char* address, int port, const char* laserType) requires NetLink<Link>
    : isLMS_(parseLaserType(laserType)) {
  target_.address = address;
  target_.port = port;
}

template <class Link>
LmsDriver<Link>::~LmsDriver() = default;

template <class Link>
void LmsDriver<Link>::say(const char* format, ...) {
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
void LmsDriver<Link>::emit(const DriverEvent& event) {
  if (events_) events_(event);
}

template <class Link>
DriverStats LmsDriver<Link>::stats() const {
  const auto get = [](const std::atomic<std::int64_t>& a) { return a.load(std::memory_order_relaxed); };
  return {get(counters_.requests),   get(counters_.scans),    get(counters_.noReply),
          get(counters_.notAReply),  get(counters_.tooShort), get(counters_.badChecksum),
          get(counters_.reconnects), get(counters_.refused),  get(counters_.unanswered),
          get(counters_.unexpected), get(counters_.discarded)};
}

template <class Link>
bool LmsDriver<Link>::stop() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_.store(true, std::memory_order_release);
    // A wait for an answer ends at the stop too, where the link can wake it.
    if (transport_) Link::wake(*transport_);
  }
  stopWake_.notify_all();
  return true;
}

template <class Link>
void LmsDriver<Link>::setTransport(std::unique_ptr<Transport> next) {
  // stop() reaches the transport from another thread, under the lock; the
  // old one goes outside it (its threads may still report).
  std::unique_ptr<Transport> old;
  {
    std::lock_guard lock(mutex_);
    old = std::exchange(transport_, std::move(next));
  }
}

template <class Link>
bool LmsDriver<Link>::pauseUnlessStopped(std::chrono::nanoseconds time) {
  std::unique_lock lock(mutex_);
  return !stopWake_.wait_for(lock, time, [this] { return stopRequested_.load(std::memory_order_acquire); });
}

template <class Link>
bool LmsDriver<Link>::pauseUnlessStopped(int ms) {
  return pauseUnlessStopped(std::chrono::milliseconds(ms));
}

template <class Link>
std::string LmsDriver<Link>::failureText() const {
  std::lock_guard lock(mutex_);
  return failureText_;
}

template <class Link>
std::error_code LmsDriver<Link>::failureError() const {
  std::lock_guard lock(mutex_);
  return failureError_;
}

template <class Link>
void LmsDriver<Link>::fail(RunOutcome outcome, std::string text, std::error_code ec) {
  {
    std::lock_guard lock(mutex_);
    failureText_ = std::move(text);
    failureError_ = ec;
  }
  outcome_.store(outcome, std::memory_order_release);
}

template <class Link>
bool LmsDriver<Link>::run() {
  outcome_.store(RunOutcome::Running, std::memory_order_release);
  setTransport(Link::makeTransport(out_, timing_.clientStartPauseMs, stream_));
  bool open = connectWithRetries(target_, *transport_, kConnectAttempts) == 1;
  // The first open runs to its result: a failure stands even when a stop
  // came while it ran (the end of an empty input, say), so it is reported.
  if (!open && !reconnect_.enabled) {
    setTransport(nullptr);
    return true;
  }
  int attempt = 1;
  int delayMs = reconnect_.firstDelayMs;
  while (!stopping()) {
    if (!open) {
      // Without --reconnect the failure stands; with it, back off and try
      // again with a fresh transport (the old one's threads and descriptor go).
      if (!reconnect_.enabled) {
        setTransport(nullptr);
        return true;
      }
      ++attempt;
      counters_.reconnects.fetch_add(1, std::memory_order_relaxed);
      emit({.kind = DriverEvent::Kind::Reconnecting,
            .text = Link::placeText(target_),
            .delayMs = delayMs,
            .attempt = attempt});
      if (!pauseUnlessStopped(delayMs)) break;
      delayMs = std::min(delayMs * 2, reconnect_.maxDelayMs);
      setTransport(nullptr);
      setTransport(Link::makeTransport(out_, timing_.clientStartPauseMs, stream_));
      open = connectWithRetries(target_, *transport_, 1) == 1;
      continue;
    }
    link_ = linkOf(*transport_);
    outcome_.store(RunOutcome::Running, std::memory_order_release);
    findRateDue_ = findRate_ && !rateKnown_;
    moveDue_ = Link::kSerial && scannerBaud_ != 0 && !switched_;
    resumeDue_ = switched_;
    variantDue_ = variant_ != nullptr;
    streamDue_ = stream_;
    streaming_ = false;
    framer_.clear();
    // A serial line may still carry the tail of a reply (the program before
    // us was closed or killed mid-reply), or a scanner left streaming: the
    // first request waits for it to be quiet. A scanner moved to another
    // rate by a run that was killed is looked for there first.
    if (Link::kSerial && scannerBaud_ != 0 && !switched_ && !lookedAtScannerBaud_ && !findRateDue_)
      lookAtScannerBaud();
    else if ((Link::kSerial || stream_) && !findRateDue_ && settleLine() == LineState::Streaming)
      foundStreaming();
    attempt = 1;
    delayMs = reconnect_.firstDelayMs;
    while (!stopping()) {
      if (findRateDue_) findRate();
      if (resumeDue_) resumeAtScannerBaud();
      if (moveDue_) moveScanner();
      if (variantDue_) applyVariant();
      if (streamDue_) startStream();
      if (streaming_)
        streamCycle();
      else
        cycle();
      if (link_.lost()) break;
    }
    if (stopping()) {
      ending_ = true;
      if (streaming_) stopStream();
      restoreScanner();
      break;
    }
    const std::string why = link_.lossText();
    say("run - connection to LMS lost: %s\n", why.c_str());
    fail(RunOutcome::LinkLost, "connection to the scanner lost: " + why, {});
    emit({.kind = DriverEvent::Kind::Lost, .text = why});
    open = false;
  }
  outcome_.store(RunOutcome::Stopped, std::memory_order_release);
  // The link is let go as the loop ends, not when the driver goes: another
  // program (or scanner object) may open it at once.
  setTransport(nullptr);
  return true;
}

// --baud auto: one request at each rate the scanner family knows, with a
// short bound; the first that gets an acknowledge stays (and its reply is
// the first scan). A link that has no rates to try does nothing here.
template <class Link>
void LmsDriver<Link>::findRate() {
  findRateDue_ = false;
  for (const int rate : Link::kProbeRates) {
    if (stopping() || !link_.reopenAt(rate)) continue;
    // A scanner that streams at this rate answers before it is asked.
    const LineState line = settleLine();
    const bool found =
        line == LineState::Streaming ||
        (line == LineState::Quiet && exchange(msgRequestScan.data(), static_cast<int>(msgRequestScan.size()),
                                              link_, kProbeAckMs) == AckResult::Ack);
    if (found) {
      emit({.kind = DriverEvent::Kind::RateFound, .rate = rate});
      target_.baud = rate;
      rateKnown_ = true;
      if (line == LineState::Streaming) {
        foundStreaming();
      } else {
        collectReply(link_, carry_, processMillis() + link_.replyWaitMs(), &stopRequested_);
        read(link_);
      }
      return;
    }
  }
  if (stopping() || Link::kProbeRates.empty()) return;
  std::string tried;
  for (const int rate : Link::kProbeRates) tried += (tried.empty() ? "" : ", ") + std::to_string(rate);
  emit({.kind = DriverEvent::Kind::NoRateFound, .text = tried, .rate = target_.baud});
  link_.reopenAt(target_.baud);
}

// --scanner-baud: the operating-mode telegram for `baud`, its acknowledge
// and the rest of its answer at the line's present rate, then the line
// itself at `baud`. True when the scanner took it.
template <class Link>
bool LmsDriver<Link>::switchScanner(int baud) {
  const Bytes6* telegram = baudTelegram(baud);
  if (telegram == nullptr) return false;
  const AckResult r = exchange(telegram->data(), static_cast<int>(telegram->size()), link_);
  if (r != AckResult::Ack) {
    const bool unanswered = r == AckResult::Timeout;
    emit({.kind = DriverEvent::Kind::RateNotSwitched,
          .text = unanswered ? "no answer" : "refused",
          .rate = baud,
          .from = link_.baud(),
          .reason = unanswered ? lmsview::Event::Reason::unanswered : lmsview::Event::Reason::refused});
    return false;
  }
  // The scanner changes its rate once its answer is out.
  collectTelegram(link_, carry_, processMillis() + link_.replyWaitMs());
  carry_.clear();
  return link_.reopenAt(baud);
}

template <class Link>
void LmsDriver<Link>::moveScanner() {
  moveDue_ = false;
  const int from = link_.baud();
  if (from == scannerBaud_) return;
  // The line is tried at the new rate before the scanner is moved there: a
  // scanner moved to a rate the adapter cannot take would be out of reach.
  if (Link::kSerial && !(link_.reopenAt(scannerBaud_) && link_.reopenAt(from))) {
    emit({.kind = DriverEvent::Kind::RateNotSwitched,
          .text = "the serial device does not take that rate",
          .rate = scannerBaud_,
          .from = from,
          .reason = lmsview::Event::Reason::refused});
    link_.reopenAt(from);
    return;
  }
  if (switchScanner(scannerBaud_)) {
    foundBaud_ = from;
    switched_ = true;
    target_.baud = scannerBaud_;  // a reconnect tries the new rate first
    emit({.kind = DriverEvent::Kind::RateSwitched, .rate = scannerBaud_, .from = from});
  } else if (!link_.lost() && link_.baud() != from) {
    link_.reopenAt(from);
  }
}

// After a reconnect: the scanner may still run at the new rate (the line
// went, the scanner did not) or be back at its old one (it was restarted).
template <class Link>
void LmsDriver<Link>::resumeAtScannerBaud() {
  resumeDue_ = false;
  const AckResult r =
      exchange(msgRequestScan.data(), static_cast<int>(msgRequestScan.size()), link_, kProbeAckMs);
  if (r == AckResult::Ack) {
    collectReply(link_, carry_, processMillis() + link_.replyWaitMs(), &stopRequested_);
    read(link_);
    return;
  }
  switched_ = false;
  target_.baud = foundBaud_;
  if (link_.reopenAt(foundBaud_)) moveDue_ = true;
}

// --scanner-baud at the first open: a run that was killed may have left the
// scanner at that rate (streaming, even), where it is looked for first; a
// scanner found there counts as switched, so the end of this run moves it
// back to the rate it is opened at.
template <class Link>
void LmsDriver<Link>::lookAtScannerBaud() {
  lookedAtScannerBaud_ = true;
  const int from = link_.baud();
  LineState line = LineState::Quiet;
  bool there = false;
  if (from != scannerBaud_ && link_.reopenAt(scannerBaud_)) {
    line = settleLine();
    there =
        line == LineState::Streaming ||
        (line == LineState::Quiet && exchange(msgRequestScan.data(), static_cast<int>(msgRequestScan.size()),
                                              link_, kProbeAckMs) == AckResult::Ack);
  }
  if (there) {
    foundBaud_ = from;
    switched_ = true;
    moveDue_ = false;
    target_.baud = scannerBaud_;
    emit({.kind = DriverEvent::Kind::RateFound, .rate = scannerBaud_});
    if (line == LineState::Streaming) {
      foundStreaming();
    } else {
      collectReply(link_, carry_, processMillis() + link_.replyWaitMs(), &stopRequested_);
      read(link_);
    }
    return;
  }
  if (link_.baud() != from && !link_.reopenAt(from)) return;
  if (settleLine() == LineState::Streaming) foundStreaming();
}

// At the end of the run the scanner goes back to the rate it was found at,
// so the next program that opens it at that rate finds it.
template <class Link>
void LmsDriver<Link>::restoreScanner() {
  if (!switched_ || keepScannerBaud_ || link_.lost()) return;
  // A reply the stop cut short may still be on the line.
  if (Link::kSerial) settleLine();
  if (switchScanner(foundBaud_)) {
    switched_ = false;
    emit({.kind = DriverEvent::Kind::RateRestored, .rate = foundBaud_, .from = scannerBaud_});
  }
}

// --variant: the variant telegram, its acknowledge and its answer, whose
// status byte says whether the scanner switched (1) or not.
template <class Link>
void LmsDriver<Link>::applyVariant() {
  variantDue_ = false;
  const Bytes9* telegram = variantTelegram(variant_->fieldDegrees, variant_->resolutionHundredths);
  const AckResult r = exchange(telegram->data(), static_cast<int>(telegram->size()), link_);
  if (stopping()) return;
  bool taken = false;
  if (r == AckResult::Ack &&
      collectTelegram(link_, carry_, processMillis() + link_.replyWaitMs(), &stopRequested_))
    taken = carry_.bytes[4] == 0xBB && carry_.bytes[5] == 0x01;  // 02 80 L L BB status ...
  carry_.clear();
  if (taken) {
    emit({.kind = DriverEvent::Kind::VariantSet, .points = variant_->points});
    return;
  }
  using Reason = lmsview::Event::Reason;
  emit({.kind = DriverEvent::Kind::VariantRefused,
        .points = variant_->points,
        .reason = r == AckResult::Timeout ? Reason::unanswered : Reason::refused});
}

template <class Link>
int LmsDriver<Link>::connectToLMS(int port, int baud, Transport& transport) requires SerialLink<Link> {
  typename Link::Target target = target_;
  target.comPort = port;
  target.baud = baud;
  return connectWithRetries(target, transport, kConnectAttempts);
}

template <class Link>
int LmsDriver<Link>::connectToLMS(const char* address, int port,
                                  Transport& transport) requires NetLink<Link> {
  typename Link::Target target = target_;
  target.address = address;
  target.port = port;
  return connectWithRetries(target, transport, kConnectAttempts);
}

template <class Link>
int LmsDriver<Link>::connectWithRetries(const typename Link::Target& target, Transport& transport,
                                        int attempts) {
  std::error_code ec;
  int attempt = 1;
  for (; attempt <= attempts; ++attempt) {
    say("trying to connect %d\n", attempt);
    ec = Link::open(transport, target);
    if (!ec) {
      say("%s", Link::openedText(target).c_str());
      say("connected to LMS\n");
      emit({.kind = DriverEvent::Kind::Opened, .text = Link::placeText(target)});
      return 1;
    }
    say("connectToLMS - Failed to connect 0x%x 0x%x\n", static_cast<unsigned>(ec.value()),
        static_cast<unsigned>(attempt));
    if (!Link::worthRetrying(ec)) break;
    if (attempt < attempts && !pauseUnlessStopped(timing_.retryPauseMs)) break;
  }
  say("Failed to connect to ladar after many tries! 0x%x\n",
      static_cast<unsigned>(std::min(attempt, attempts)));
  fail(RunOutcome::ConnectFailed, Link::openFailureText(target, ec), ec);
  emit({.kind = DriverEvent::Kind::OpenFailed, .text = Link::openFailureText(target, ec), .error = ec});
  return 0;
}

template <class Link>
AckResult LmsDriver<Link>::exchange(const std::uint8_t* telegram, int length, Link& link, int ackTimeoutMs) {
  discardStale(link);
  carry_.clear();
  if (!sendTelegram(telegram, length, link)) return AckResult::NotSent;
  return awaitAck(link, &carry_, ackTimeoutMs, ending_ ? nullptr : &stopRequested_);
}

template <class Link>
AckResult LmsDriver<Link>::exchange(const std::uint8_t* telegram, int length, Transport& transport) {
  Link link = linkOf(transport);
  return exchange(telegram, length, link);
}

template <class Link>
int LmsDriver<Link>::request(Link& link) {
  counters_.requests.fetch_add(1, std::memory_order_relaxed);
  const AckResult r = exchange(msgRequestScan.data(), static_cast<int>(msgRequestScan.size()), link);
  using Reason = lmsview::Event::Reason;
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
      if (findRate_ && rateKnown_) {
        // The rate found no longer gets an answer: look for it again.
        rateKnown_ = false;
        findRateDue_ = true;
      } else if (!hinted_) {
        // Once a run: a line that opened and stays silent is most often set
        // to another rate (the caller words the advice).
        hinted_ = true;
        emit({.kind = DriverEvent::Kind::Silent, .everyRateTried = findRate_});
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
  if (lost != Reason::none) emit({.kind = DriverEvent::Kind::Rejected, .reason = lost});
  const bool talking = r == AckResult::Unexpected || (r == AckResult::Timeout && link.gathering());
  if (talking && !stopping()) {
    // The answer was the tail of an earlier reply, noise, or a scanner
    // streaming: the next request waits for the line to be quiet.
    link.takeBytesAsTheyCome();
    framer_.clear();
    framer_.add(carry_.bytes.data(), carry_.length, link.readEndNs(), link.nsPerByte());
    if (settleLine() == LineState::Streaming) foundStreaming();
  }
  return r == AckResult::Ack ? 0 : 1;
}

template <class Link>
int LmsDriver<Link>::requestScan(Transport& transport) {
  Link link = linkOf(transport);
  return request(link);
}

template <class Link>
int LmsDriver<Link>::requestScanAndPause(Transport& transport) {
  const int r = requestScan(transport);
  pauseUnlessStopped(intervalMs_);
  return r;
}

// One cycle: the request, then within the cycle's pause the reply is
// collected and shown as soon as it is whole; the rest of the pause keeps the
// one-second pace. The pause holds even when the link has just gone, so two
// published scans stay a second apart and the display shows the last one too.
//
// The interval runs from the request when it was acknowledged; a request
// that was refused or not answered waits the whole interval after it, so a
// silent scanner is not asked faster than the pace.
template <class Link>
void LmsDriver<Link>::cycle() {
  const std::int64_t start = processMillis();
  const int r = request(link_);
  const std::int64_t pauseEnd = (r == 0 ? start : processMillis()) + intervalMs_;
  if (r == 0) {
    collectReply(link_, carry_, pauseEnd, &stopRequested_);
    read(link_);
  }
  const std::int64_t left = pauseEnd - processMillis();
  if (left > 0) pauseUnlessStopped(static_cast<int>(left));
}

template <class Link>
void LmsDriver<Link>::readScan(Transport& transport) {
  Link link = linkOf(transport);
  read(link);
}

// Finishes gathering the reply (bounded, and ended by a stop: a scanner
// that closes lets go of its link at once, not when the reply is in), then
// checks, reports and publishes it.
template <class Link>
void LmsDriver<Link>::read(Link& link) {
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
void LmsDriver<Link>::reject(ReplyCheck check, int len, int whole) {
  std::string why;
  using Reason = lmsview::Event::Reason;
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
  emit({.kind = DriverEvent::Kind::Rejected, .text = why, .reason = reason});
}

template <class Link>
void LmsDriver<Link>::publishReply(const std::uint8_t* reply, std::int64_t firstNs) {
  lmsview::Scan& scan = slot_.back();
  decodeMeasurementReply(reply, &scan);
  scan.received_ns = platform::wallClockNanos();
  scan.stamp_ns = firstNs != 0 ? firstNs : scan.received_ns;
  // The reply states its unit; the one the caller expected only decides
  // whether to say that they differ.
  if (const Units seen = replyUnits(reply); seen != units_ && !unitsSaid_) {
    unitsSaid_ = true;
    emit({.kind = DriverEvent::Kind::UnitsDiffer, .unitsSeen = seen, .unitsAsked = units_});
  }
  const lmsview::Scan& published = slot_.publish();
  counters_.scans.fetch_add(1, std::memory_order_relaxed);
  lastStreamedMs_ = processMillis();
  if (observer_) observer_(published);
}

template <class Link>
int LmsDriver<Link>::rdLMSmsg(int length, std::uint8_t* destination, Transport& transport) {
  Link link = linkOf(transport);
  int remaining = length;
  int position = 0;
  int last = 0;
  while (remaining > 0) {
    // Pieces of at most 255 bytes (a count that fits one byte), as the
    // callers have always read; the result is the last piece's count, so a
    // short piece tells a caller the rest has not arrived.
    const int chunk = std::min(remaining, 255);
    remaining -= chunk;
    last = link.hasData() ? link.read(destination + position, chunk) : 0;
    position += std::min(last, chunk);
    if (last != chunk) break;
  }
  return last;
}

template <class Link>
std::uint8_t LmsDriver<Link>::rdLMSbyte(Transport& transport) {
  Link link = linkOf(transport);
  std::uint8_t b = 0;
  if (link.hasData()) link.read(&b, 1);
  return b;
}

template class LmsDriver<SerialPortLink>;
template class LmsDriver<TcpClientLink>;

}  // namespace lms
