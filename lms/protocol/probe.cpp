// SPDX-License-Identifier: Apache-2.0
#include "lms/protocol/probe.h"

#include <algorithm>
#include <array>
#include <memory>

#include "lms/protocol/exchange.h"
#include "lms/protocol/links.h"
#include "lms/protocol/telegram.h"
#include "platform/clock.h"

namespace lms {

using platform::processMillis;

namespace {

// How long a line is listened to for bytes that come unasked, then for the
// header of a streamed scan among them, and for the answer to a request.
constexpr int kUnaskedMs = 60;
constexpr int kHeaderBoundMs = 1000;
constexpr int kAnswerMs = 400;

// Looks for a measurement header among `bytes`; fills the result when found.
bool findHeader(const std::uint8_t* bytes, int n, ProbeResult* r) {
  for (int i = 0; i + 7 <= n; ++i) {
    if (!isMeasurementHeader(bytes + i)) continue;
    r->found = true;
    r->points = pointsOfLength(bytes[i + 2] | (bytes[i + 3] << 8));
    r->units = static_cast<Units>(bytes[i + 6] >> 6);
    return true;
  }
  return false;
}

template <class Link>
void look(Link& link, ProbeResult* r) {
  // Listened to first: a streaming scanner is never sent anything.
  std::array<std::uint8_t, 2 * kMaxReplyLength> heard{};
  int n = 0;
  const std::int64_t start = processMillis();
  for (std::int64_t deadline = start + kUnaskedMs;;) {
    if (link.hasData()) {
      if (n == static_cast<int>(heard.size())) {
        // Keep the last six bytes: a header may begin among them.
        std::copy(heard.end() - 6, heard.end(), heard.begin());
        n = 6;
      }
      n += std::min(link.read(heard.data() + n, static_cast<int>(heard.size()) - n),
                    static_cast<int>(heard.size()) - n);
      deadline = start + kHeaderBoundMs;  // bytes come unasked: look for a scan among them
      if (findHeader(heard.data(), n, r)) {
        r->streaming = true;
        return;
      }
      continue;
    }
    const std::int64_t left = deadline - processMillis();
    if (left <= 0 || link.lost()) break;
    link.waitData(static_cast<int>(left), nullptr);
  }
  if (n > 0) return;  // bytes without a scan: noise, or another rate
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
  findHeader(carry.bytes.data(), std::min(carry.length, 7), r);
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
  look(link, &r);
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
  look(link, &r);
  return r;
}

}  // namespace lms
