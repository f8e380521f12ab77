// SPDX-License-Identifier: Apache-2.0
#pragma once

// The scanner driver: the operations of the scanner's protocol by their own
// names, in two variants of one class over the link (SerialLms, NetLms).
// connectToLMS opens a link; requestScan asks for all measured values and
// tells whether the scanner acknowledged; readScan reads, checks and hands
// over the reply; setRangeRes, sendPassword, setUnits, stopLMS and resetLMS
// send the configuration telegrams (the program itself never sends them:
// they are here for tools built on the driver); rdLMSmsg and rdLMSbyte read
// raw bytes. Each takes the transport it works on.
//
// run() is the acquisition loop and stop() its end: both are the driver's
// Acquisition (lms/protocol/acquisition.h), which lmsview and the library
// use directly, with its settings, events and counts. Threads: as the
// acquisition's.

#include <cstdint>
#include <string>

#include "lms/protocol/acquisition.h"

namespace lms {

template <class Link>
concept SerialLink = std::same_as<Link, SerialPortLink>;
template <class Link>
concept NetLink = std::same_as<Link, TcpClientLink>;

template <class Link>
class LmsDriver {
 public:
  using Transport = typename Link::Transport;

  // Serial: "COM1".."COM10", or a device path ("/dev/ttyUSB0"); laser "LMS" or "PLS".
  LmsDriver(const char* portName, const char* laserType) requires SerialLink<Link>;
  // Serial, by number: the three integers (16, 4, 0 by custom) select
  // nothing; they are kept as given.
  LmsDriver(int a, int b, int c, int comPort, int baudRate) requires SerialLink<Link>;
  // Network: a dotted IPv4 address and its port.
  LmsDriver(const char* address, int port, const char* laserType) requires NetLink<Link>;
  LmsDriver(const LmsDriver&) = delete;
  LmsDriver& operator=(const LmsDriver&) = delete;

  bool run();
  bool stop();

  int connectToLMS(int port, int baud, Transport& transport) requires SerialLink<Link>;
  int connectToLMS(const char* address, int port, Transport& transport) requires NetLink<Link>;
  int requestScan(Transport& transport);
  void readScan(Transport& transport);
  int setRangeRes(int selector, Transport& transport);
  int sendPassword(Transport& transport);
  int setUnits(int units, Transport& transport);
  void stopLMS(Transport& transport);
  bool resetLMS(Transport& transport, int baudRate);
  int rdLMSmsg(int length, std::uint8_t* destination, Transport& transport);
  std::uint8_t rdLMSbyte(Transport& transport);

  // The display side's end of the hand-off: the newest scan (see ScanSlot),
  // or the same with its ranges in centimetres (raw / 10).
  const lmsview::Scan* takeScan() { return acquisition_.slot().takeScan(); }
  bool takeScan(const float*& ranges, const float*& angles, int& count) {
    return acquisition_.slot().takeScan(ranges, angles, count);
  }

  // Where the operations' message lines go (silent unless set).
  void setOutput(transport::MessageSink out) { acquisition_.setMessages(std::move(out)); }
  bool isLMS() const { return isLMS_; }
  int comPort() const requires SerialLink<Link> { return acquisition_.target().comPort; }
  Acquisition<Link>& acquisition() { return acquisition_; }

 private:
  static bool parseLaserType(const char* laserType);

  bool isLMS_ = true;
  int selectors_[3] = {16, 4, 0};
  Acquisition<Link> acquisition_;
};

using SerialLms = LmsDriver<SerialPortLink>;
using NetLms = LmsDriver<TcpClientLink>;

extern template class LmsDriver<SerialPortLink>;
extern template class LmsDriver<TcpClientLink>;

}  // namespace lms
