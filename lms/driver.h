#pragma once

// The scanner driver: owns the link to one scanner, runs the acquisition loop
// (request all measured values, wait for the acknowledge, pause a second, read
// and check the measurement reply, hand the scan to the display) and carries
// the configuration operations. SerialLms and NetLms are the two variants of
// one class template; they differ only in the transport they create and open.
//
// Threads: the constructor and stop() run on the controlling thread; run()
// and every operation that talks to the scanner run on one acquisition
// thread; the display thread takes scans through the ScanSlot. stopRequested
// is an atomic (release/acquire); the pause of a cycle waits on a condition
// variable so that a stop ends it at once.
//
// Messages go to the output given by setOutput (standard output by default),
// one line each, in the form "operation - text".

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "lms/links.h"
#include "lms/scan.h"
#include "lms/scan_slot.h"
#include "lms/telegram.h"
#include "transport/serial_port.h"
#include "transport/tcp_client.h"

enum class LinkKind { Serial, Net };

// How a run ended.
enum class RunOutcome { NotStarted, Running, Stopped, ConnectFailed, LinkLost };

inline constexpr int kCyclePauseMs = 1000;
inline constexpr int kSerialBaud = 9600;
// Open attempts before giving up, and the pause between them.
inline constexpr int kConnectAttempts = 3;
inline constexpr int kConnectRetryPauseMs = 300;
// How long readScan waits for the rest of a reply that has begun (or not yet
// begun) when the pause ends: a second, and on a serial line also the time a
// whole reply takes at 9600 baud, since a stop can cut the pause short.
inline constexpr int kReplyWaitMs = 1000;
inline constexpr int kSerialReplyWaitMs = kReplyWaitMs + 800;

template <LinkKind K>
class LmsDriver {
 public:
  static constexpr bool kSerial = K == LinkKind::Serial;
  using Transport = std::conditional_t<kSerial, SerialPort, TcpClient>;
  using Link = std::conditional_t<kSerial, SerialPortLink, TcpClientLink>;

  // Serial: "COM1".."COM10", or a device path ("/dev/ttyUSB0"); laser "LMS" or "PLS".
  LmsDriver(const char* portName, const char* laserType) requires(K == LinkKind::Serial);
  LmsDriver(int a, int b, int c, int comPort, int baudRate) requires(K == LinkKind::Serial);
  // Network: the caller keeps `address` alive for the driver's life.
  LmsDriver(const char* address, int port, const char* laserType) requires(K == LinkKind::Net);
  LmsDriver(const LmsDriver&) = delete;
  LmsDriver& operator=(const LmsDriver&) = delete;

  void setOutput(std::FILE* out) { out_ = out; }

  bool run();
  bool stop();
  bool stopping() const { return stopRequested.load(std::memory_order_acquire); }

  int connectToLMS(int port, int baud, Transport& transport) requires(K == LinkKind::Serial);
  int connectToLMS(const char* address, int port, Transport& transport) requires(K == LinkKind::Net);
  int requestScan(Transport& transport);
  int requestScanAndPause(Transport& transport);
  void readScan(Transport& transport);
  int setRangeRes(int selector, Transport& transport);
  int sendPassword(Transport& transport);
  int setUnits(int units, Transport& transport);
  void stopLMS(Transport& transport);
  bool resetLMS(Transport& transport, int baudRate);
  int rdLMSmsg(int length, std::uint8_t* destination, Transport& transport);
  std::uint8_t rdLMSbyte(Transport& transport);

  // The display side's end of the hand-off.
  bool takeScan(const float*& ranges, const float*& angles, int& count) {
    return slot.takeScan(ranges, angles, count);
  }

  RunOutcome outcome() const { return outcome_.load(std::memory_order_acquire); }
  // One line saying why the run failed (empty when it did not).
  std::string failureText() const;
  // The transport, once run() has created it (acquisition thread only).
  Transport* transport() { return transport_.get(); }
  bool isLMS() const { return isLMS_; }
  int comPort() const { return comPort_; }
  int numPoints() const { return numPoints_; }

 private:
  void say(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool pauseUnlessStopped(int ms);
  void cycle(Transport& transport);
  void awaitReply(Transport& transport, std::int64_t deadline);
  bool carryCanGrowIntoReply() const;
  AckResult exchange(const std::uint8_t* telegram, int length, Transport& transport);
  void discardStale(Link& link);
  bool linkLost();
  void fail(RunOutcome outcome, std::string text);
  static bool parseLaserType(const char* laserType);

  ScanSlot slot;                  // first in the object, as the hand-off record
  int reserved_[3] = {16, 4, 0};  // kept from the scanner's settings; nothing depends on them
  int comPort_ = 0;
  std::string devicePath_;
  int baudRate_ = kSerialBaud;
  const char* ipAddress_ = nullptr;
  int ipPort_ = 0;
  int numPoints_ = kScanPoints;
  float rangeBuf_[kScanPoints] = {};
  bool isLMS_ = true;
  int connected_ = 0;
  std::unique_ptr<Transport> transport_;
  std::atomic<bool> stopRequested{false};
  std::atomic<RunOutcome> outcome_{RunOutcome::NotStarted};
  mutable std::mutex mutex_;  // guards failureText_ and the stop wait
  std::condition_variable stopWake_;
  std::string failureText_;
  ReplyCarry carry_;
  std::FILE* out_ = stdout;
};

using SerialLms = LmsDriver<LinkKind::Serial>;
using NetLms = LmsDriver<LinkKind::Net>;

#include "lms/driver_impl.h"
