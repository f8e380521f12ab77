// SPDX-License-Identifier: Apache-2.0
// The scanner driver's operations (see driver.h).

#include "lms/protocol/driver.h"

#include <algorithm>
#include <cstring>

namespace lms {

template <class Link>
bool LmsDriver<Link>::parseLaserType(const char* laserType) {
  // Only "PLS" selects the other family; any other text counts as LMS.
  return laserType == nullptr || std::strcmp(laserType, "PLS") != 0;
}

template <class Link>
LmsDriver<Link>::LmsDriver(const char* portName, const char* laserType) requires SerialLink<Link>
    : isLMS_(parseLaserType(laserType)), acquisition_(serialTarget(portName ? portName : "")) {}

template <class Link>
LmsDriver<Link>::LmsDriver(int a, int b, int c, int comPort, int baudRate) requires SerialLink<Link>
    : selectors_{a, b, c}, acquisition_(LinkTarget{.comPort = comPort, .baud = baudRate}) {}

template <class Link>
LmsDriver<Link>::LmsDriver(const char* address, int port, const char* laserType) requires NetLink<Link>
    : isLMS_(parseLaserType(laserType)), acquisition_(netTarget(address ? address : "", port)) {}

template <class Link>
bool LmsDriver<Link>::run() {
  acquisition_.run();
  return true;
}

template <class Link>
bool LmsDriver<Link>::stop() {
  acquisition_.stop();
  return true;
}

template <class Link>
int LmsDriver<Link>::connectToLMS(int port, int baud, Transport& transport) requires SerialLink<Link> {
  LinkTarget target = acquisition_.target();
  target.comPort = port;
  target.baud = baud;
  return acquisition_.connect(target, transport, kConnectAttempts);
}

template <class Link>
int LmsDriver<Link>::connectToLMS(const char* address, int port,
                                  Transport& transport) requires NetLink<Link> {
  LinkTarget target = acquisition_.target();
  target.address = address ? address : "";
  target.port = port;
  return acquisition_.connect(target, transport, kConnectAttempts);
}

template <class Link>
int LmsDriver<Link>::requestScan(Transport& transport) {
  return acquisition_.request(transport);
}

template <class Link>
void LmsDriver<Link>::readScan(Transport& transport) {
  acquisition_.read(transport);
}

template <class Link>
int LmsDriver<Link>::setRangeRes(int selector, Transport& transport) {
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
      acquisition_.say("Invalid resolution selected. Drop back to default\n");
      break;
  }
  // Every variant telegram has the same 9 bytes (command 0x3B, angle, resolution).
  if (acquisition_.exchange(msg, static_cast<int>(msgRange100Res100.size()), transport) != AckResult::Ack) {
    acquisition_.say("setRangeRes - Resolution mode setting failure\n");
    return 1;
  }
  return 0;
}

template <class Link>
int LmsDriver<Link>::sendPassword(Transport& transport) {
  if (acquisition_.exchange(msgPassword.data(), static_cast<int>(msgPassword.size()), transport) !=
      AckResult::Ack) {
    acquisition_.say("sendPassword - Measurement mode setting failure\n");
    return 1;
  }
  return 0;
}

template <class Link>
int LmsDriver<Link>::setUnits(int units, Transport& transport) {
  if (units != 0 && units != 1) {
    // Sending the stored configuration for a value we do not know would
    // report success for something never asked for.
    acquisition_.say("setUnits - Invalid units specified\n");
    return 1;
  }
  auto msg = msgConfig;
  if (units == 0) msg[kUnitsByte] = 0x00;
  if (acquisition_.exchange(msg.data(), static_cast<int>(msg.size()), transport) != AckResult::Ack) {
    acquisition_.say("setUnits - Measurement mode setting failure2\n");
    return 1;
  }
  return 0;
}

template <class Link>
void LmsDriver<Link>::stopLMS(Transport& transport) {
  if (acquisition_.exchange(msgStopLMS.data(), static_cast<int>(msgStopLMS.size()), transport) !=
      AckResult::Ack)
    acquisition_.say("stopLMS - LMS fails to stop\n");
}

template <class Link>
bool LmsDriver<Link>::resetLMS(Transport& transport, int baudRate) {
  const Bytes6* telegram = baudTelegram(baudRate);
  if (telegram == nullptr) {
    // Nothing was sent, so there is nothing to wait for and no reason to close.
    acquisition_.say("resetLMS - Baud rate changes failure\n");
    return false;
  }
  if (acquisition_.exchange(telegram->data(), static_cast<int>(telegram->size()), transport) !=
      AckResult::Ack)
    acquisition_.say("resetLMS - Baud rate changes failure\n");
  return transport.close();
}

template <class Link>
int LmsDriver<Link>::rdLMSmsg(int length, std::uint8_t* destination, Transport& transport) {
  Link link{&transport};
  int remaining = length;
  int position = 0;
  int last = 0;
  while (remaining > 0) {
    // Pieces of at most 255 bytes (a count that fits one byte); the result
    // is the last piece's count, so a short piece tells a caller the rest
    // has not arrived.
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
  Link link{&transport};
  std::uint8_t b = 0;
  if (link.hasData()) link.read(&b, 1);
  return b;
}

template class LmsDriver<SerialPortLink>;
template class LmsDriver<TcpClientLink>;

}  // namespace lms
