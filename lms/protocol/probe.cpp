// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/probe.h"

#include <algorithm>
#include <memory>
#include <span>

#include "lms/protocol/exchange.h"
#include "lms/protocol/links.h"
#include "lms/protocol/stream_framer.h"
#include "lms/protocol/telegram.h"
#include "platform/clock.h"

namespace lms {

using platform::processMillis;

namespace {

// How long a line is listened to for bytes that come unasked, and for the
// answer to a request. A line that carries bytes is listened to for three
// of the longest telegrams at its rate (the first may be cut, the next two
// must be whole) and a margin.
constexpr int kUnaskedMs = 60;
constexpr int kStreamMarginMs = 500;
constexpr int kAnswerMs = 400;
// Two whole scans, each with its checksum right, before a line
// counts as streaming: one could be bytes a wrong rate let through as the
// line was being set, and a header alone can be noise.
constexpr int kScansToBelieve = 2;

int streamBoundMs(int baud) {
  if (baud <= 0) return 1000;  // TCP: the bytes come at once
  return kStreamMarginMs + static_cast<int>(3LL * kMaxReplyLength * 10 * 1000 / baud);
}

// Fills the result from a measurement header (its first seven bytes).
void takeHeader(const std::uint8_t* bytes, ProbeResult* r) {
  r->found = true;
  r->points = pointsOfLength(bytes[2] | (bytes[3] << 8));
  r->units = static_cast<Units>(bytes[6] >> 6);
}

template <class Link>
void look(Link& link, int baud, ProbeResult* r) {
  // Listened to first: a streaming scanner is never sent anything.
  StreamFramer framer;
  int scans = 0;
  bool heard = false;
  const std::int64_t start = processMillis();
  for (std::int64_t deadline = start + kUnaskedMs;;) {
    if (link.hasData()) {
      const std::span<std::uint8_t> space = framer.space();
      const int n = link.read(space.data(), static_cast<int>(space.size()));
      if (n > 0) framer.commit(std::min(n, static_cast<int>(space.size())), 0, 0);
      if (!heard) deadline = start + streamBoundMs(baud);  // bytes come unasked: look for scans among them
      heard = true;
      for (StreamFramer::Telegram t; framer.next(&t);) {
        if (t.length < 7 || !isMeasurementHeader(t.bytes)) continue;
        if (++scans < kScansToBelieve) continue;
        takeHeader(t.bytes, r);
        r->streaming = true;
        return;
      }
      // At the line's rate, only a first telegram cut by the opening is
      // thrown away; more bytes than two telegrams' without a scan are noise.
      if (scans == 0 && framer.discarded() > 2 * StreamFramer::kMaxTelegram) return;
      continue;
    }
    const std::int64_t left = deadline - processMillis();
    if (left <= 0 || link.lost()) break;
    link.waitData(static_cast<int>(left), nullptr);
  }
  if (heard) return;  // bytes without scans: noise, or another rate
  if (!sendTelegram(msgRequestScan.data(), static_cast<int>(msgRequestScan.size()), link)) return;
  ReplyCarry carry;
  const AckResult answer = awaitAck(link, &carry, kAnswerMs);
  if (answer == AckResult::Refused) {
    r->found = r->refused = true;
    return;
  }
  if (answer != AckResult::Ack) return;
  // The reply's first seven bytes say the variant and the unit.
  for (const std::int64_t deadline = processMillis() + kAnswerMs; carry.length < 7;) {
    if (readMore(link, carry)) continue;
    const std::int64_t left = deadline - processMillis();
    if (left <= 0 || link.lost()) break;
    link.waitData(static_cast<int>(left), nullptr);
  }
  if (carry.length >= 7 && isMeasurementHeader(carry.bytes.data())) takeHeader(carry.bytes.data(), r);
}

}  // namespace

bool isMeasurementHeader(const std::uint8_t* p) {
  if (p[0] != kStx || p[1] != 0x80 || p[4] != kMeasurementReply) return false;
  const int points = pointsOfLength(p[2] | (p[3] << 8));
  const int count = p[5] | (p[6] << 8);
  return points != 0 && (count & 0x3FF) == points && (count >> 14) != 3;
}

ProbeResult probeSerial(const std::string& device, int baud) {
  ProbeResult r;
  transport::SerialPort port;
  if (!port.open(device.c_str(), baud)) {
    r.error = port.lastError();
    return r;
  }
  r.opened = true;
  SerialPortLink link{&port};
  look(link, baud, &r);
  return r;
}

ProbeResult probeTcp(const std::string& address, int port) {
  ProbeResult r;
  auto client = TcpClientLink::makeTransport({}, 0, true);
  TcpClientLink::Target target;
  target.address = address;
  target.port = port;
  if (const std::error_code ec = TcpClientLink::open(*client, target)) {
    r.error = ec;
    return r;
  }
  r.opened = true;
  TcpClientLink link{client.get()};
  look(link, 0, &r);
  return r;
}

}  // namespace lms
