#pragma once

// Definitions of the driver template, included by driver.h: each program
// instantiates only the operations it uses.

#include <algorithm>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "platform/clock.h"
#include "platform/io.h"

template <LinkKind K>
bool LmsDriver<K>::parseLaserType(const char* laserType) {
  // Only "PLS" selects the other family; any other text counts as LMS.
  return laserType == nullptr || std::strcmp(laserType, "PLS") != 0;
}

template <LinkKind K>
LmsDriver<K>::LmsDriver(const char* portName, const char* laserType) requires(K == LinkKind::Serial)
    : isLMS_(parseLaserType(laserType)) {
  const std::string name = portName ? portName : "";
  for (int n = 1; n <= 10; ++n) {
    if (name == "COM" + std::to_string(n)) comPort_ = n;
  }
  if (!name.empty() && name[0] == '/') devicePath_ = name;
}

template <LinkKind K>
LmsDriver<K>::LmsDriver(int a, int b, int c, int comPort, int baudRate) requires(K == LinkKind::Serial)
    : reserved_{a, b, c}, comPort_(comPort), baudRate_(baudRate) {}

template <LinkKind K>
LmsDriver<K>::LmsDriver(const char* address, int port, const char* laserType) requires(K == LinkKind::Net)
    : ipAddress_(address), ipPort_(port), isLMS_(parseLaserType(laserType)) {}

template <LinkKind K>
void LmsDriver<K>::say(const char* format, ...) {
  if (out_ == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(out_, format, args);
  va_end(args);
  std::fflush(out_);
}

template <LinkKind K>
bool LmsDriver<K>::stop() {
  {
    std::lock_guard lock(mutex_);
    stopRequested.store(true, std::memory_order_release);
  }
  stopWake_.notify_all();
  return true;
}

template <LinkKind K>
bool LmsDriver<K>::pauseUnlessStopped(int ms) {
  std::unique_lock lock(mutex_);
  return !stopWake_.wait_for(lock, std::chrono::milliseconds(ms),
                             [this] { return stopRequested.load(std::memory_order_acquire); });
}

template <LinkKind K>
std::string LmsDriver<K>::failureText() const {
  std::lock_guard lock(mutex_);
  return failureText_;
}

template <LinkKind K>
void LmsDriver<K>::fail(RunOutcome outcome, std::string text) {
  {
    std::lock_guard lock(mutex_);
    failureText_ = std::move(text);
  }
  outcome_.store(outcome, std::memory_order_release);
}

template <LinkKind K>
bool LmsDriver<K>::run() {
  outcome_.store(RunOutcome::Running, std::memory_order_release);
  int opened = 0;
  if constexpr (kSerial) {
    transport_ = std::make_unique<Transport>();
    opened = connectToLMS(comPort_, baudRate_, *transport_);
  } else {
    transport_ = std::make_unique<Transport>(out_);
    opened = connectToLMS(ipAddress_, ipPort_, *transport_);
  }
  if (opened != 1) return true;
  while (!stopRequested.load(std::memory_order_acquire)) {
    cycle(*transport_);
    if (linkLost()) {
      std::string why;
      if constexpr (kSerial) {
        why = "serial device " + transport_->deviceName() + " is gone";
      } else {
        why = "the scanner closed the connection (" + errorText(transport_->lastError()) + ")";
      }
      say("run - connection to LMS lost: %s\n", why.c_str());
      fail(RunOutcome::LinkLost, "connection to the scanner lost: " + why);
      return true;
    }
  }
  outcome_.store(RunOutcome::Stopped, std::memory_order_release);
  return true;
}

template <LinkKind K>
bool LmsDriver<K>::linkLost() {
  Link link{*transport_};
  return link.lost();
}

template <LinkKind K>
int LmsDriver<K>::connectToLMS(int port, int baud, Transport& transport) requires(K == LinkKind::Serial) {
  const std::string device = devicePath_.empty() ? SerialPort::devicePathFor(port) : devicePath_;
  int attempt = 1;
  for (; attempt <= kConnectAttempts; ++attempt) {
    say("trying to connect %d\n", attempt);
    if (!device.empty() && transport.open(device.c_str(), baud)) {
      if (devicePath_.empty()) {
        say("Serial Conection ( Port: COM%d , Baud : %d )is open\n", port, baud);
      } else {
        say("Serial Conection ( Port: %s , Baud : %d )is open\n", device.c_str(), baud);
      }
      connected_ = 1;
      say("connected to LMS\n");
      return 1;
    }
    const int err = device.empty() ? ENOENT : transport.lastError();
    say("connectToLMS - Failed to connect 0x%x 0x%x\n", static_cast<unsigned>(err),
        static_cast<unsigned>(attempt));
    // A missing device or a bad setting will not mend itself: no retry for them.
    if (err == ENOENT || err == EINVAL || err == ENOTTY || err == EACCES) break;
    if (attempt < kConnectAttempts && !pauseUnlessStopped(kConnectRetryPauseMs)) break;
  }
  say("Failed to connect to ladar after many tries! 0x%x\n",
      static_cast<unsigned>(std::min(attempt, kConnectAttempts)));
  const int err = device.empty() ? ENOENT : transport.lastError();
  fail(RunOutcome::ConnectFailed,
       "cannot open serial port " + (device.empty() ? std::string("(no such port)") : device) + ": " +
           (err == EBUSY ? std::string("in use by another program") : errorText(err)));
  return 0;
}

template <LinkKind K>
int LmsDriver<K>::connectToLMS(const char* address, int port,
                               Transport& transport) requires(K == LinkKind::Net) {
  int attempt = 1;
  for (; attempt <= kConnectAttempts; ++attempt) {
    say("trying to connect %d\n", attempt);
    if (transport.connect(address, static_cast<std::uint16_t>(port))) {
      say("Network Conection ( IP: %s  Port: %d ) is open\n", address, port);
      connected_ = 1;
      say("connected to LMS\n");
      return 1;
    }
    const int err = transport.lastError();
    say("connectToLMS - Failed to connect 0x%x 0x%x\n", static_cast<unsigned>(err),
        static_cast<unsigned>(attempt));
    if (err == EINVAL) break;  // not an address: retrying cannot help
    if (attempt < kConnectAttempts && !pauseUnlessStopped(kConnectRetryPauseMs)) break;
  }
  say("Failed to connect to ladar after many tries! 0x%x\n",
      static_cast<unsigned>(std::min(attempt, kConnectAttempts)));
  const int err = transport.lastError();
  const std::string where = std::string(address ? address : "(none)") + " port " + std::to_string(port);
  fail(RunOutcome::ConnectFailed, err == EINVAL
                                      ? "not a dotted IPv4 address: " + std::string(address ? address : "")
                                      : "cannot connect to " + where + ": " + errorText(err));
  return 0;
}

// Input still waiting from an earlier exchange (a late reply, the tail of a
// refused answer) would be taken for the answer to the next telegram.
template <LinkKind K>
void LmsDriver<K>::discardStale(Link& link) {
  std::uint8_t scratch[kReplyReadSize];
  for (int i = 0; i < 16 && link.hasData(); ++i) link.read(scratch, kReplyReadSize);
  carry_.clear();
}

template <LinkKind K>
AckResult LmsDriver<K>::exchange(const std::uint8_t* telegram, int length, Transport& transport) {
  Link link{transport};
  discardStale(link);
  sendTelegram(telegram, length, link);
  return awaitAck(link, &carry_);
}

template <LinkKind K>
int LmsDriver<K>::requestScan(Transport& transport) {
  const AckResult r = exchange(msgRequestScan.data(), static_cast<int>(msgRequestScan.size()), transport);
  if (r == AckResult::Timeout) say("requestScan - no answer from LMS\n");
  return r == AckResult::Ack ? 0 : 1;
}

template <LinkKind K>
int LmsDriver<K>::requestScanAndPause(Transport& transport) {
  const int r = requestScan(transport);
  pauseUnlessStopped(kCyclePauseMs);
  return r;
}

// One cycle: the request, then within the cycle's pause the reply is
// collected and shown as soon as it is whole; the rest of the pause keeps the
// one-second pace. The pause holds even when the link has just gone, so two
// published scans stay a second apart and the display shows the last one too.
template <LinkKind K>
void LmsDriver<K>::cycle(Transport& transport) {
  const int r = requestScan(transport);
  const std::int64_t pauseEnd = processMillis() + kCyclePauseMs;
  if (r == 0) {
    awaitReply(transport, pauseEnd);
    readScan(transport);
  }
  const std::int64_t left = pauseEnd - processMillis();
  if (left > 0) pauseUnlessStopped(static_cast<int>(left));
}

template <LinkKind K>
bool LmsDriver<K>::carryCanGrowIntoReply() const {
  return carry_.length < kReplyLength && mayBeginMeasurementReply(carry_.bytes.data(), carry_.length);
}

// Moves reply bytes behind the ACK's carry as they come, until the reply is
// whole, `deadline` passes, a stop is requested or the link is gone. Over TCP
// this also keeps a reply that a gateway split by pauses longer than the
// silence rule: its messages are taken one by one before the single ready
// slot would drop them. On a serial line it sleeps for the time the rest of
// the reply needs at the baud rate instead of waking for every byte.
template <LinkKind K>
void LmsDriver<K>::awaitReply(Transport& transport, std::int64_t deadline) {
  Link link{transport};
  while (!stopping() && carryCanGrowIntoReply()) {
    const std::int64_t left = deadline - processMillis();
    if (left <= 0 || link.lost()) return;
    if (link.hasData()) {
      const int room = kReplyReadSize - carry_.length;
      const int n = link.read(carry_.bytes.data() + carry_.length, room);
      if (n > 0) {
        carry_.length += std::min(n, room);
        continue;
      }
    }
    // Slices of the display's poll period keep a stop request prompt.
    int wait = static_cast<int>(std::min<std::int64_t>(left, 100));
    if constexpr (kSerial) {
      if (carry_.length > 0) {
        const int lineMs = (kReplyLength - carry_.length) * 10000 / baudRate_ + 1;
        pauseUnlessStopped(std::min(wait, lineMs));
        continue;
      }
    }
    link.waitData(wait);
  }
}

template <LinkKind K>
void LmsDriver<K>::readScan(Transport& transport) {
  Link link{transport};
  std::uint8_t buf[kReplyReadSize];
  int len = std::min(carry_.length, kReplyReadSize);
  std::copy(carry_.bytes.begin(), carry_.bytes.begin() + len, buf);
  carry_.clear();
  // Gather the reply: what followed the ACK, then what the link holds, waiting
  // (bounded) for the rest while what we have can still become a reply.
  const std::int64_t deadline = processMillis() + (kSerial ? kSerialReplyWaitMs : kReplyWaitMs);
  while (len < kReplyLength && mayBeginMeasurementReply(buf, len)) {
    if (link.hasData()) {
      const int n = link.read(buf + len, kReplyReadSize - len);
      if (n > 0) {
        len += std::min(n, kReplyReadSize - len);
        continue;
      }
    }
    const std::int64_t left = deadline - processMillis();
    if (left <= 0 || link.lost()) break;
    link.waitData(static_cast<int>(left));
  }
  const ReplyCheck check = checkMeasurementReply(buf, len);
  if (check != ReplyCheck::Ok) {
    if (len == 0) {
      say("readScan - no reply from LMS\n");
    } else if (check == ReplyCheck::TooShort) {
      say("readScan - reply too short (%d of %d bytes)\n", len, kReplyLength);
    } else {
      say("readScan - %s\n", replyCheckText(check));
    }
    return;
  }
  decodeRanges(2 * numPoints_, buf + kRangeOffset, rangeBuf_, &numPoints_);
  slot.publishScan(rangeBuf_, kAngleTable.data(), numPoints_);
}

template <LinkKind K>
int LmsDriver<K>::setRangeRes(int selector, Transport& transport) {
  const std::uint8_t* msg = msgRange100Res100.data();
  switch (selector) {
    case 20:
      msg = msgRange180Res50.data();
      break;
    case 24:
      msg = msgRange180Res100.data();
      break;
    case 34:
      msg = msgRange100Res25.data();
      break;
    case 36:
      msg = msgRange100Res50.data();
      break;
    case 40:
      break;
    default:
      say("Invalid resolution selected. Drop back to default\n");
      break;
  }
  if (exchange(msg, 9, transport) != AckResult::Ack) {
    say("setRangeRes - Resolution mode setting failure\n");
    return 1;
  }
  return 0;
}

template <LinkKind K>
int LmsDriver<K>::sendPassword(Transport& transport) {
  if (exchange(msgPassword.data(), static_cast<int>(msgPassword.size()), transport) != AckResult::Ack) {
    say("sendPassword - Measurement mode setting failure\n");
    return 1;
  }
  return 0;
}

template <LinkKind K>
int LmsDriver<K>::setUnits(int units, Transport& transport) {
  if (units != 0 && units != 1) {
    // Sending the stored configuration for a value we do not know would
    // report success for something never asked for.
    say("setUnits - Invalid units specified\n");
    return 1;
  }
  auto msg = msgConfig;
  if (units == 0) msg[kUnitsByte] = 0x00;
  if (exchange(msg.data(), static_cast<int>(msg.size()), transport) != AckResult::Ack) {
    say("setUnits - Measurement mode setting failure2\n");
    return 1;
  }
  return 0;
}

template <LinkKind K>
void LmsDriver<K>::stopLMS(Transport& transport) {
  if (exchange(msgStopLMS.data(), static_cast<int>(msgStopLMS.size()), transport) != AckResult::Ack) {
    say("stopLMS - LMS fails to stop\n");
  }
}

template <LinkKind K>
bool LmsDriver<K>::resetLMS(Transport& transport, int baudRate) {
  const std::uint8_t* msg = nullptr;
  if (baudRate == 9600) msg = msgBaud9600.data();
  if (baudRate == 19200) msg = msgBaud19200.data();
  if (baudRate == 38400) msg = msgBaud38400.data();
  if (msg == nullptr) {
    // Nothing was sent, so there is nothing to wait for and no reason to close.
    say("resetLMS - Baud rate changes failure\n");
    return false;
  }
  if (exchange(msg, 6, transport) != AckResult::Ack) say("resetLMS - Baud rate changes failure\n");
  return transport.close();
}

template <LinkKind K>
int LmsDriver<K>::rdLMSmsg(int length, std::uint8_t* destination, Transport& transport) {
  Link link{transport};
  int remaining = length;
  int position = 0;
  int last = 0;
  while (remaining > 0) {
    const int chunk = std::min(remaining, 255);
    remaining -= chunk;
    last = link.hasData() ? link.read(destination + position, chunk) : 0;
    position += std::min(last, chunk);
    if (last != chunk) break;
  }
  return last;
}

template <LinkKind K>
std::uint8_t LmsDriver<K>::rdLMSbyte(Transport& transport) {
  Link link{transport};
  std::uint8_t b = 0;
  if (link.hasData()) link.read(&b, 1);
  return b;
}
