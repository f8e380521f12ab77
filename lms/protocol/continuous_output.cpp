// SPDX-License-Identifier: Apache-2.0
// The acquisition's continuous output: a line that must be quiet before a
// request, a scanner found streaming, and the stream itself from its start
// (operating mode 0x24) to its end (0x25, whose acknowledge is found among
// the streamed bytes).

#include <algorithm>

#include "lms/protocol/acquisition.h"
#include "platform/clock.h"

namespace lms {

using platform::processMillis;
using Event = lmsview::Event;
using Reason = lmsview::Event::Reason;

namespace {

// The longest a line is watched for a stream or for quiet: two of the
// longest telegrams at its rate, so one whole telegram arrives whatever
// the moment the watch begins; on a message link a second.
template <class Link>
int watchBoundMs(const Link& link) {
  return Link::kSerial ? 2 * link.lineMs(StreamFramer::kMaxTelegram) + 200 : 1000;
}

}  // namespace

template <class Link>
void Acquisition<Link>::readIntoFramer() {
  // Until a read finds nothing (on a line, one that leaves room took all
  // there was); bounded, so a link that keeps delivering cannot hold the
  // loop here.
  for (int i = 0; i < 16; ++i) {
    const std::span<std::uint8_t> room = framer_.space();
    const int size = static_cast<int>(room.size());
    const int n = std::min(link_.read(room.data(), size), size);
    if (n <= 0) break;
    framer_.commit(n, link_.readEndNs(), link_.nsPerByte());
    if (Link::kSerial && n < size) break;
  }
  counters_.discarded.store(framer_.discarded(), std::memory_order_relaxed);
}

// Takes the whole telegrams the framer holds. Measurement replies are
// checked and, when `publish`, published (or counted as rejected); other
// telegrams are passed over. With `waitFor`, stops at the first telegram of
// that command and says whether there was one; without, says whether a
// valid scan came.
template <class Link>
bool Acquisition<Link>::takeStreamed(bool publish, std::uint8_t waitFor) {
  bool scan = false;
  StreamFramer::Telegram t;
  while (framer_.next(&t)) {
    if (waitFor != 0 && t.command() == waitFor) return true;
    if (t.command() != kMeasurementReply) continue;
    const ReplyCheck check = checkMeasurementReply(t.bytes, t.length);
    if (check != ReplyCheck::Ok) {
      if (publish) reject(check, t.length, t.length);
      continue;
    }
    scan = true;
    if (publish) {
      publishReply(t.bytes, t.firstNs);
    } else {
      std::copy_n(t.bytes, t.length, held_.bytes.begin());
      held_.length = t.length;
      held_.firstByteNs = t.firstNs;
    }
  }
  return waitFor == 0 && scan;
}

// Reads what arrives until nothing has come for `quietMs` (the line is
// quiet: what came was the tail of an earlier answer, and goes), or until
// the line proves to carry a scanner's stream: a whole scan with more bytes
// behind it within `quietMs` (that scan is published then; a reply with
// nothing behind it was an answer that began wrong, and goes too). A line
// that brings bytes but no scan within the bound is noisy (another rate, a
// talking gateway).
template <class Link>
typename Acquisition<Link>::LineState Acquisition<Link>::settleLine(int quietMs) {
  const std::int64_t bound = processMillis() + watchBoundMs(link_);
  std::int64_t lastByte = processMillis();
  bool scanSeen = false;
  for (;;) {
    if (link_.lost()) return LineState::Lost;
    if (stopping() && !ending_) break;
    if (link_.hasData()) {
      readIntoFramer();
      lastByte = processMillis();
      if (scanSeen) {
        publishReply(held_.bytes.data(), held_.firstByteNs);
        return LineState::Streaming;
      }
      scanSeen = takeStreamed(false);
      continue;
    }
    const std::int64_t now = processMillis();
    const std::int64_t quietLeft = lastByte + quietMs - now;
    if (quietLeft <= 0) break;
    if (now >= bound) {
      framer_.clear();
      return LineState::Noisy;
    }
    link_.waitData(static_cast<int>(std::min(quietLeft, bound - now)), &stopRequested_);
  }
  framer_.clear();
  return LineState::Quiet;
}

// The scanner streams: with --stream (and nothing to change on it first)
// its stream is used as it is; otherwise it is stopped, and the run polls
// or starts the stream anew once the rate and the variant are set.
template <class Link>
void Acquisition<Link>::foundStreaming() {
  const bool use = settings_.stream && !rate_.moveDue && !variantDue_;
  if (use) {
    stream_.on = true;
    stream_.due = false;
    stream_.lastScanMs = processMillis();
  } else {
    stream_.on = true;
    stopStream();
    stream_.due = settings_.stream;
  }
  emit({.kind = Event::Kind::stream_found, .streaming = use});
}

template <class Link>
void Acquisition<Link>::startStream() {
  stream_.due = false;
  const AckResult r = exchange(msgMode24.data(), static_cast<int>(msgMode24.size()), link_);
  if (stopping() || r == AckResult::LinkLost || r == AckResult::Stopped) return;
  if (r != AckResult::Ack) {
    // A scanner that streams already answers with its stream.
    if (r == AckResult::Unexpected) {
      framer_.clear();
      framer_.add(carry_.bytes.data(), carry_.length, link_.readEndNs(), link_.nsPerByte());
      if (settleLine() == LineState::Streaming) {
        stream_.on = true;
        stream_.lastScanMs = processMillis();
        emit({.kind = Event::Kind::stream_found, .streaming = true});
        return;
      }
    }
    emit({.kind = Event::Kind::stream_refused,
          .reason = r == AckResult::Timeout ? Reason::unanswered : Reason::refused});
    return;
  }
  // The mode's answer comes behind the acknowledge, the stream behind it.
  framer_.clear();
  framer_.add(carry_.bytes.data(), carry_.length, link_.readEndNs(), link_.nsPerByte());
  carry_.clear();
  const std::int64_t deadline = processMillis() + link_.replyWaitMs();
  while (!takeStreamed(false, kModeReply)) {
    const std::int64_t left = deadline - processMillis();
    if (left <= 0 || link_.lost() || stopping()) break;
    link_.waitData(static_cast<int>(left), &stopRequested_);
    readIntoFramer();
  }
  stream_.on = true;
  stream_.lastScanMs = processMillis();
}

// One turn of the stream: every whole scan that arrived is published, then
// the driver sleeps for the rest of the telegram under way (on a line, by
// its time) or until bytes come.
template <class Link>
void Acquisition<Link>::streamCycle() {
  readIntoFramer();
  takeStreamed(true);
  if (stopping() || link_.lost()) return;
  const std::int64_t silentFor = processMillis() - stream_.lastScanMs;
  const int silenceBound = std::max(1000, 3 * link_.lineMs(StreamFramer::kMaxTelegram));
  if (silentFor > silenceBound) {
    // The scanner stopped sending (it was restarted, say): ask again.
    counters_.unanswered.fetch_add(1, std::memory_order_relaxed);
    emit({.kind = Event::Kind::reply_rejected, .reason = Reason::unanswered});
    if (!hinted_) {
      hinted_ = true;
      emit({.kind = Event::Kind::no_answer, .every_rate_tried = settings_.baud == 0});
    }
    stream_.on = false;
    stream_.due = true;
    return;
  }
  // A line carries the rest of a telegram begun at its rate: one wake-up for
  // it, a little after its last byte is due, instead of one for each piece.
  constexpr std::int64_t kMarginNs = 100'000;
  if (const int missing = framer_.missing(); missing > 0 && link_.nsPerByte() > 0) {
    pauseUnlessStopped(std::chrono::nanoseconds(missing * link_.nsPerByte() + kMarginNs));
    return;
  }
  link_.waitData(silenceBound - static_cast<int>(silentFor), &stopRequested_);
}

// Asks the scanner to end its stream and looks for the acknowledge among
// the bytes still streaming in (the telegram under way comes first), so the
// scanner is left quiet. A stop does not cut this short; its bound does.
template <class Link>
bool Acquisition<Link>::stopStream() {
  stream_.on = false;
  if (link_.lost()) return false;
  const std::int64_t deadline = processMillis() + watchBoundMs(link_) + 300;
  bool stopped = false;
  if (sendTelegram(msgStopLMS.data(), static_cast<int>(msgStopLMS.size()), link_)) {
    for (;;) {
      readIntoFramer();
      if (takeStreamed(false, kModeReply)) {
        stopped = true;
        break;
      }
      const std::int64_t left = deadline - processMillis();
      if (left <= 0 || link_.lost()) break;
      link_.waitData(static_cast<int>(left), nullptr);
    }
  }
  framer_.clear();
  if (!stopped) emit({.kind = Event::Kind::stream_not_stopped});
  return stopped;
}

// The rest of the class is instantiated in acquisition.cpp.
#define LMSVIEW_INSTANTIATE_STREAM(LinkType)                                        \
  template void Acquisition<LinkType>::readIntoFramer();                            \
  template bool Acquisition<LinkType>::takeStreamed(bool, std::uint8_t);            \
  template Acquisition<LinkType>::LineState Acquisition<LinkType>::settleLine(int); \
  template void Acquisition<LinkType>::foundStreaming();                            \
  template void Acquisition<LinkType>::startStream();                               \
  template void Acquisition<LinkType>::streamCycle();                               \
  template bool Acquisition<LinkType>::stopStream();
LMSVIEW_INSTANTIATE_STREAM(SerialPortLink)
LMSVIEW_INSTANTIATE_STREAM(TcpClientLink)
#undef LMSVIEW_INSTANTIATE_STREAM

}  // namespace lms
