// SPDX-License-Identifier: Apache-2.0
#pragma once

// The two transports bound to what the exchanges and the driver need: the
// link operations (see TelegramLink), how one is opened, and what differs
// between them (how a loss is described, how long a reply may take). Plain
// value adapters holding a pointer to the transport; no virtual calls.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include "lms/protocol/exchange.h"
#include "lms/protocol/scanner_constants.h"
#include "platform/clock.h"
#include "transport/serial_port.h"
#include "transport/tcp_client.h"

namespace lms {

// How long readScan waits for a reply that has not begun or not ended when
// the cycle's pause is over (a stop can cut the pause short).
inline constexpr int kReplyWaitMs = 1000;
// The longest a TCP open waits for the client's receiver to begin reading
// (its start-up pauses are 100 ms each at most).
inline constexpr int kReceiverStartBoundMs = 2000;

// Where a driver opens its link. One shape for both adapters, each reading
// its own fields, so the driver's code is the same for both.
struct LinkTarget {
  // Serial: COM`comPort`, or `devicePath` when one is named, at `baud`.
  int comPort = 0;
  std::string devicePath{};
  int baud = 0;
  // Network: `address` (empty: none given) and `port`.
  std::string address{};
  int port = 0;
};

// The device a serial port name opens: "COM1".."COM10" by number, a device
// path as it is.
std::string serialDevicePath(const std::string& portName);
// The target of a serial port name ("COM1".."COM10" by number, a device
// path as it is; other text opens nothing) at the default rate.
LinkTarget serialTarget(const std::string& portName);
// The target of a scanner on the network.
LinkTarget netTarget(const std::string& address, int port);

// Serial line: bytes as they arrive.
struct SerialPortLink {
  using Transport = transport::SerialPort;
  using Target = LinkTarget;
  static constexpr bool kSerial = true;
  // --baud auto tries each rate the scanner family knows.
  static constexpr std::array<int, 4> kProbeRates = kScannerRates;

  Transport* port = nullptr;
  std::int64_t lastReadNs = 0;

  int write(const std::uint8_t* bytes, int count, bool) { return port->write(bytes, count); }
  bool hasData() { return port->available() > 0; }
  // A read takes what has arrived since the last: its bytes arrived by now,
  // and the first of them not long before (the wait for data ends as it comes).
  int read(std::uint8_t* buffer, int room) {
    const int n = port->read(buffer, room);
    lastReadNs = platform::wallClockNanos();
    return n;
  }
  // Nothing wakes a serial wait at a stop: it looks again every kStopCheckMs.
  bool waitData(int ms, const std::atomic<bool>* stop) { return port->waitData(stopAwareWait(ms, stop)); }
  bool lost() { return port->gone(); }
  // Ten bit times a byte (8N1), rounded up.
  int lineMs(int bytes) const { return bytes * 10000 / port->baud() + 1; }
  std::int64_t nsPerByte() const { return 10'000'000'000LL / port->baud(); }
  std::int64_t arrivalNs(int) const { return lastReadNs; }
  // When the last byte of the last read arrived.
  std::int64_t readEndNs() const { return lastReadNs; }
  int replyWaitMs() const { return kReplyWaitMs + lineMs(kReplyReadSize); }
  std::string lossText() const;
  const char* noAnswerText() const { return "no answer from LMS"; }
  bool gathering() const { return false; }
  std::string sendFailureText() const;
  // Opens the same device again at `baud`; false when it did not open.
  bool reopenAt(int baud);
  void takeBytesAsTheyCome() {}
  int baud() const { return port->baud(); }
  static void wake(Transport&) {}
  static std::string placeText(const Target& t);

  static std::unique_ptr<Transport> makeTransport(const transport::MessageSink&, int, bool) {
    return std::make_unique<Transport>();
  }
  static std::string devicePathOf(const Target& t) {
    return t.devicePath.empty() ? Transport::devicePathFor(t.comPort) : t.devicePath;
  }
  static std::error_code open(Transport& port, const Target& t);
  // A missing device or a bad setting will not mend itself: no retry for them.
  static bool worthRetrying(std::error_code ec);
  static std::string openedText(const Target& t);
  static std::string openFailureText(const Target& t, std::error_code ec);
};

// TCP: whole messages, closed by silence.
struct TcpClientLink {
  using Transport = transport::TcpClient;
  using Target = LinkTarget;
  static constexpr bool kSerial = false;
  static constexpr std::array<int, 0> kProbeRates{};  // a network link has no rate

  Transport* client = nullptr;

  int write(const std::uint8_t* bytes, int count, bool more) { return client->send(bytes, count, more); }
  bool hasData() { return client->hasReady() == 1; }
  int read(std::uint8_t* buffer, int room) { return client->readReady(buffer, room); }
  // The driver's stop wakes this wait (wake()): no slices.
  bool waitData(int ms, const std::atomic<bool>* stop) { return client->waitReady(ms, stop); }
  bool lost() { return client->drained(); }
  int lineMs(int) const { return 0; }
  std::int64_t nsPerByte() const { return 0; }
  // The client keeps when each message's first bytes came off the socket
  // (a raw client's read is one chunk: all of it came at once).
  std::int64_t arrivalNs(int i) const { return client->arrivalNs(i); }
  std::int64_t readEndNs() const { return client->arrivalNs(1); }
  int replyWaitMs() const { return kReplyWaitMs; }
  std::string lossText() const;
  // Bytes that keep coming without a pause never make a message.
  const char* noAnswerText() const {
    return gathering() ? "data arrives without the pauses that end a message" : "no answer from LMS";
  }
  bool gathering() const { return client->gathering(); }
  std::string sendFailureText() const;
  bool reopenAt(int) { return false; }
  int baud() const { return 0; }
  // Bytes that come without pauses make no messages: take them as they come.
  void takeBytesAsTheyCome() { client->setRawStream(); }
  static void wake(Transport& client) { client.wakeWaiters(); }
  static std::string placeText(const Target& t);

  // A reply is whole at its last byte, not 50 ms later; a scanner's
  // continuous output comes as the bytes arrive (`raw`).
  static std::unique_ptr<Transport> makeTransport(const transport::MessageSink& out, int startPauseMs,
                                                  bool raw) {
    auto client = std::make_unique<Transport>(out);
    client->setStartPauseMs(startPauseMs);
    client->setMessageCheck(&wholeTelegramLength);
    if (raw) client->setRawStream();
    return client;
  }
  static std::error_code open(Transport& client, const Target& t);
  // Text that is not an address will not become one.
  static bool worthRetrying(std::error_code ec);
  static std::string openedText(const Target& t);
  static std::string openFailureText(const Target& t, std::error_code ec);
};

static_assert(TelegramLink<SerialPortLink>);
static_assert(TelegramLink<TcpClientLink>);

}  // namespace lms
